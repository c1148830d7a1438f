// Finds the candidate files under a folder, with sizes and modification
// times: every sub-folder (symbolic links followed, each folder once),
// hidden entries (".name", also the "._name" files of other systems) left out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kx5 {

struct FoundFile {
    std::string path;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    // Set for a candidate name that is not a regular file (a FIFO, a device).
    std::string problem;
};

struct WalkProblem {
    std::string path; // a folder that could not be listed
    std::string reason;
};

struct FolderWalk {
    std::vector<FoundFile> files;
    std::vector<WalkProblem> problems;
    bool rootMissing = false; // the folder itself cannot be listed
    bool cancelled = false;
};

// root without a trailing "/". The walk stops early when cancel is set.
FolderWalk walkFolder(const std::string& root,
                      const std::function<bool(std::string_view name)>& isCandidate,
                      const std::atomic<bool>& cancel);

} // namespace kx5
