// Which documents may reach the native bridge: only those loaded from the
// page bundle's folder. Shared by the window process and the web process
// extension, so it stays free of WebKit headers.
#pragma once

#include <string>

namespace kx5 {

// True when uri is a file: address (no host, or "localhost") of a file at or
// below folder (an absolute path ending in "/"). Encoded "." and ".."
// segments and encoded NULs are refused.
bool isDocumentInFolder(const std::string& uri, const std::string& folder);

// The folder holding the start page (with "/"), or empty when the start page
// is not a local file.
std::string bundleFolderOf(const std::string& startUrl);

// The local path a file:/// address names (percent-decoded), or empty when it
// is not a plain local file address.
std::string localPathOfFileUri(const std::string& uri);

} // namespace kx5
