// An output file written under a temporary name beside its final path and
// renamed over it only when complete, so a failed operation neither leaves a
// partial file nor destroys what was there before.
#pragma once

#include <string>

namespace kx5 {

class PendingOutput {
  public:
    explicit PendingOutput(std::string finalPath);
    ~PendingOutput(); // removes the temporary file unless committed
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    PendingOutput(PendingOutput&& other) noexcept;

    // Empty when no temporary file could be created.
    const std::string& path() const { return tempPath_; }
    const std::string& finalPath() const { return finalPath_; }
    bool commit();

  private:
    std::string finalPath_;
    std::string tempPath_;
};

} // namespace kx5
