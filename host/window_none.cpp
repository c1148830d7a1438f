// Stand-in for builds without a window toolkit.
#include "host/entry.h"

#include <cstdio>

namespace kx5 {

void takeToolkitArguments(int&, char**&) {}

int runWindow(const std::string&, const HostOptions&, int, char**) {
    std::fprintf(stderr, "This build has no window; run it with --console.\n");
    return 2;
}

} // namespace kx5
