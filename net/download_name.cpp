#include "net/download_name.h"

#include <cstdio>

namespace kx5::net {

std::string downloadSuffix(const std::string& url) {
    const size_t dot = url.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    std::string suffix = url.substr(dot);
    const size_t query = suffix.rfind('?');
    if (query != std::string::npos) suffix.resize(query);
    if (suffix.find('/') != std::string::npos) return {};
    return suffix;
}

std::string temporaryDownloadPath(const std::string& tempFolder, uint32_t processId,
                                  uint32_t transferId, const std::string& url) {
    char name[40];
    std::snprintf(name, sizeof name, "lttc_%x_%x", processId, transferId);
    return tempFolder + name + downloadSuffix(url);
}

} // namespace kx5::net
