// Entry: the bridge console with --console, otherwise the window.
#include "host/console.h"
#include "host/entry.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string appName = kx5::appNameFromExecutable(argc > 0 ? argv[0] : "kx5-editor");
    kx5::HostOptions options;
    options.arguments = args;
    for (const auto& a : args) {
        if (a == "--console") {
            return kx5::runConsole(kx5::AppPaths::forApp(appName), options, std::cin, std::cout);
        }
    }
    return kx5::runWindow(appName, options, argc, argv);
}
