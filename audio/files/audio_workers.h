// The worker threads of the "audio" module: each runs one long file
// operation and reports it with exactly one event.
#pragma once

#include "audio/interface/wave_format.h"
#include "bridge/thread.h"

#include <string>

namespace kx5 {

class JavaScriptInterface;

class AudioConvertThread final : public Thread {
  public:
    AudioConvertThread(JavaScriptInterface& js, std::string input, std::string output,
                       WaveFormat target)
        : js_(js), input_(std::move(input)), output_(std::move(output)), target_(target) {}

  protected:
    void run() override;

  private:
    JavaScriptInterface& js_;
    std::string input_, output_;
    WaveFormat target_;
};

class AudioSplitThread final : public Thread {
  public:
    AudioSplitThread(JavaScriptInterface& js, std::string input, std::string outputList,
                     std::string tempFolder)
        : js_(js), input_(std::move(input)), outputList_(std::move(outputList)),
          tempFolder_(std::move(tempFolder)) {}

  protected:
    void run() override;

  private:
    JavaScriptInterface& js_;
    std::string input_, outputList_, tempFolder_;
};

class AudioReverseThread final : public Thread {
  public:
    AudioReverseThread(JavaScriptInterface& js, std::string input, std::string output,
                       std::string tempFolder)
        : js_(js), input_(std::move(input)), output_(std::move(output)),
          tempFolder_(std::move(tempFolder)) {}

  protected:
    void run() override;

  private:
    JavaScriptInterface& js_;
    std::string input_, output_, tempFolder_;
};

} // namespace kx5
