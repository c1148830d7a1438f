// One scan of every library folder into the index: new and changed files
// (by size and modification time) are read and analysed, unchanged ones are
// not opened, files that are gone (moved, deleted, or in a folder no longer
// in the library) leave the index. Reading runs on the calling thread and
// helper threads (joined before run() returns); the index is written by the
// calling thread only, in batches, so searches see the files arrive.
#pragma once

#include "library/folder_walk.h"
#include "library/sqlite_database.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kx5 {

struct ScanSummary {
    int added = 0;     // new files read into the library
    int changed = 0;   // files read again (size or time changed)
    int removed = 0;   // files that left the index
    int unchanged = 0; // files not read again
    int files = 0;     // files in the library after the scan
    int skipped = 0;   // files in the folders that are not in the library
    bool cancelled = false;
    std::vector<std::string> missing;    // library folders that cannot be listed
    std::vector<WalkProblem> unlistable; // sub-folders that cannot be listed
};

struct ScanOptions {
    double maxSeconds = 0.5; // of each file analysed (what the unit uses)
    unsigned readers = 0;    // threads reading files; 0: one per core, at most 4
    size_t batchFiles = 64;  // files read between two commits
};

class LibraryScan {
  public:
    using Progress = std::function<void(size_t done, size_t total)>;

    LibraryScan(SqliteDatabase& db, const std::atomic<bool>& cancel, Progress progress,
                ScanOptions options = {});
    // roots: the library folders (without trailing "/").
    ScanSummary run(const std::vector<std::string>& roots);

  private:
    // run() without the counts of files and skipped files.
    ScanSummary scan(const std::vector<std::string>& roots);

    SqliteDatabase& db_;
    const std::atomic<bool>& cancel_;
    Progress progress_;
    ScanOptions options_;
};

} // namespace kx5
