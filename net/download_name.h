// Where a download without a destination is stored.
#pragma once

#include <cstdint>
#include <string>

namespace kx5::net {

// The extension a URL lends its temporary file: the text from the URL's last
// "." (when that dot is not the first character), cut before a later "?".
// A candidate that holds a "/" (the dot was in the host name or a folder
// name, not in a file name) gives no extension.
std::string downloadSuffix(const std::string& url);

// tempFolder + "lttc_<pid>_<transfer id>" (lower-case hex) + suffix.
std::string temporaryDownloadPath(const std::string& tempFolder, uint32_t processId,
                                  uint32_t transferId, const std::string& url);

} // namespace kx5::net
