// "mkdir", "unlink", "copy", "move" and "exec". Failures throw
// NativeException with the system's message.
#pragma once

#include <string>

namespace kx5 {

// Creates the folder and any missing parents; an existing folder is fine, an
// existing file in its place is an error (EEXIST).
void makeFolders(const std::string& path);

// Deletes a file, or a folder with everything inside it. Symbolic links are
// removed themselves, never followed. The root folder is refused (EBUSY).
void removePath(const std::string& path);

// Copies a regular file with its permissions and modification time; fails
// when the target exists, and leaves no partial target behind.
void copyFile(const std::string& source, const std::string& target);
// The same, returning 0 or the errno value instead of throwing.
int tryCopyFile(const std::string& source, const std::string& target);

// Renames a file or folder; fails when the target exists. A file moved to
// another file system is copied and the source removed.
void movePath(const std::string& source, const std::string& target);

// Hands a file path or URL to the desktop's default application; whether
// that works is not reported.
void openWithDefaultApplication(const std::string& fileOrUrl);

} // namespace kx5
