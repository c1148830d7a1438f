// The IR library behind the "library" module: the user's folders, tags and
// favourites, the index and its scans. Calls come from the UI thread; scans
// run on one worker thread of the library's own and report through events.
// The first call opens (and when needed repairs) the database files.
#pragma once

#include "library/library_scan.h"
#include "library/library_search.h"
#include "library/search_index.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kx5 {

class LibraryStore;
class LibraryConnection;

// A request the library refuses, in words for the user.
class LibraryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class IrLibrary {
  public:
    // Event type and arguments: "progress" done total; "scanned" summary JSON;
    // "scanfailed" message; "rebuilt" which kept-as reason recovered.
    // Called on the worker thread as well as on the calling thread.
    using EventSink = std::function<void(std::vector<std::string> fields)>;

    // folder: where the database files live (ends in "/").
    IrLibrary(std::string folder, EventSink sink, ScanOptions options = {});
    // Stops a running scan and joins the worker before the files close.
    ~IrLibrary();
    IrLibrary(const IrLibrary&) = delete;
    IrLibrary& operator=(const IrLibrary&) = delete;

    // [{"files":n,"path":...,"skipped":n}] in path order.
    std::string foldersJson();
    // Adds a folder (and scans). false when a library folder already holds
    // it; a library folder inside it is replaced by it. Throws LibraryError
    // for a path that is not a folder.
    bool addFolder(const std::string& path);
    // false when it is no library folder. Its files leave the results now
    // and the index with the scan that follows.
    bool removeFolder(const std::string& path);
    // Scans every folder; a request during a scan runs once that one ends.
    void scan();
    // Stops the running scan (what it read stays); false when none runs.
    bool cancel();
    // {"done":n,"files":n,"scanning":bool,"skipped":n,"total":n}
    std::string statusJson();
    std::string search(const SearchQuery& query);
    std::string entry(const std::string& path);
    // [{"path":...,"reason":...}] for files in the folders that are not in
    // the library (at most 1000, in path order).
    std::string skippedJson();
    // Marks follow the sound (its content key): a moved or renamed file
    // keeps them. false when the file is not in the library.
    bool setTags(const std::string& path, const std::vector<std::string>& tags);
    bool setFavourite(const std::string& path, bool favourite);

  private:
    SqliteDatabase& db();
    void requestScan();
    void workerLoop();
    void postProgress(size_t done, size_t total);
    std::string contentOf(const std::string& path);
    void finishScan();
    // Creates the mark when needed, then sets the given columns (parameters
    // from ?4 on, bound by bindValues).
    void writeMark(const std::string& content, const std::string& path,
                   const std::string& assignments,
                   const std::function<void(SqliteStatement&)>& bindValues);

    std::string folder_;
    EventSink sink_;
    ScanOptions options_;
    std::unique_ptr<LibraryStore> store_;
    std::unique_ptr<LibraryConnection> ui_;
    SearchIndex searchIndex_;
    // This connection wrote marks or folders (which its own reads of the
    // data version do not show).
    bool searchIndexStale_ = true;
    std::chrono::steady_clock::time_point searchIndexLoaded_{};

    std::mutex mutex_;
    std::condition_variable wake_;
    bool scanRequested_ = false;
    bool stopping_ = false;
    bool scanning_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<size_t> done_{0};
    std::atomic<size_t> total_{0};
    std::chrono::steady_clock::time_point lastProgress_{};
    std::thread worker_;
};

} // namespace kx5
