#include "host/gtk/document_policy.h"

#include "bridge/glib_handles.h"

namespace kx5 {
namespace {

bool hasDotSegment(const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string_view seg(path.data() + start, end - start);
        if (seg == "." || seg == "..") return true;
        start = end + 1;
    }
    return false;
}

} // namespace

std::string localPathOfFileUri(const std::string& uri) {
    if (uri.rfind("file:", 0) != 0) return {};
    char* host = nullptr;
    glib::Text path(g_filename_from_uri(uri.c_str(), &host, nullptr));
    glib::Text hostOwner(host);
    if (!path) return {};
    if (host && *host && std::string_view(host) != "localhost") return {};
    std::string p(path.get());
    if (p.empty() || p[0] != '/' || hasDotSegment(p)) return {};
    return p;
}

bool isDocumentInFolder(const std::string& uri, const std::string& folder) {
    if (folder.size() < 2 || folder.front() != '/' || folder.back() != '/') return false;
    // Query and fragment do not change which file is shown.
    const std::string base = uri.substr(0, uri.find_first_of("?#"));
    const std::string path = localPathOfFileUri(base);
    if (path.empty()) return false;
    return path.compare(0, folder.size(), folder) == 0;
}

std::string bundleFolderOf(const std::string& startUrl) {
    const std::string path = localPathOfFileUri(startUrl);
    const size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash == 0) return {};
    return path.substr(0, slash + 1);
}

} // namespace kx5
