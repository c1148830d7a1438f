#include "host/gtk/program_options.h"

#include "host/command_line.h"

namespace kx5 {

ProgramOptions parseProgramOptions(const std::vector<std::string>& arguments) {
    ProgramOptions o;
    bool switches = true;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (switches && a == "--") {
            switches = false;
        } else if (switches && a == "--devtools") {
            o.developerTools = true;
        } else if (switches && a == "--automation") {
            o.automation = true;
        } else if (switches && a.rfind("--bundle=", 0) == 0) {
            o.bundleFolder = a.substr(9);
            if (o.bundleFolder.empty()) o.error = "--bundle needs a folder";
        } else if (switches && switchTakesNextArgument(a)) {
            ++i; // its value is not a file to open
        } else if (switches && a.size() > 2 && a.rfind("--", 0) == 0) {
            // Switches of the modules (they read the whole command line).
        } else {
            o.paths.push_back(a);
        }
    }
    return o;
}

} // namespace kx5
