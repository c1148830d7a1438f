// Entry: --help and --version, the bridge console with --console, otherwise
// the window. A switch nobody knows ends the program with status 2.
#include "host/command_line.h"
#include "host/console.h"
#include "host/entry.h"

#include <algorithm>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    const std::string appName = kx5::appNameFromExecutable(argc > 0 ? argv[0] : "kx5-editor");
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto switchesEnd = std::find(args.begin(), args.end(), "--");
    const bool console = std::find(args.begin(), switchesEnd, "--console") != switchesEnd;
    if (!console) {
        // The window toolkit's own options (--display...) are taken out first.
        kx5::takeToolkitArguments(argc, argv);
        args.assign(argv + 1, argv + argc);
    }
    const kx5::CommandLineCheck check = kx5::checkCommandLine(args);
    switch (check.action) {
    case kx5::CommandLineAction::Help:
        std::cout << kx5::commandLineHelp(appName);
        return 0;
    case kx5::CommandLineAction::Version:
        std::cout << appName << ' ' << kx5::programVersion() << '\n';
        return 0;
    case kx5::CommandLineAction::Error:
        std::cerr << appName << ": " << check.error << "\nTry '" << appName
                  << " --help' for the options.\n";
        return 2;
    case kx5::CommandLineAction::Run:
        break;
    }
    kx5::HostOptions options;
    options.arguments = args;
    if (console)
        return kx5::runConsole(kx5::AppPaths::forApp(appName), options, STDIN_FILENO, std::cout);
    return kx5::runWindow(appName, options, argc, argv);
}
