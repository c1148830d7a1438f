// The library's two database files in its folder:
//   ir-index.sqlite  what the scans found (rebuilt from the files at any time)
//   ir-user.sqlite   what the user made: the folders, tags and favourites
// The user's file is attached to every connection as "user". A damaged file
// is kept aside under a new name and replaced; what can still be read of a
// damaged user file is carried over.
#pragma once

#include "library/sqlite_database.h"

#include <string>
#include <vector>

namespace kx5 {

struct LibraryRebuild {
    std::string which;  // "index" or "user"
    std::string keptAs; // the damaged file's new name ("" when it was only outdated)
    std::string reason;
    int recovered = 0; // user file: folders and marks carried over
};

class LibraryStore {
  public:
    // folder ends in "/". Checks both files and repairs them as above.
    explicit LibraryStore(std::string folder);

    const std::string& folder() const { return folder_; }
    std::string indexPath() const { return folder_ + "ir-index.sqlite"; }
    std::string userPath() const { return folder_ + "ir-user.sqlite"; }
    // What the check found and did.
    const std::vector<LibraryRebuild>& rebuilds() const { return rebuilds_; }
    // The index was created empty now (new, deleted or rebuilt).
    bool indexCreated() const { return indexCreated_; }

  private:
    std::string folder_;
    std::vector<LibraryRebuild> rebuilds_;
    bool indexCreated_ = false;
};

// A connection to the index with the user's file attached; each thread has
// its own. cacheKiB: SQLite's page cache (0: SQLite's default, about 2 MiB).
class LibraryConnection {
  public:
    explicit LibraryConnection(const LibraryStore& store, int cacheKiB = 0);
    SqliteDatabase& db() { return db_; }

  private:
    SqliteDatabase db_;
};

} // namespace kx5
