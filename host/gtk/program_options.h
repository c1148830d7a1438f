// The window program's command line: its own switches and the paths to open.
#pragma once

#include <string>
#include <vector>

namespace kx5 {

struct ProgramOptions {
    bool developerTools = false; // --devtools: context menu and inspector
    bool automation = false;     // --automation: WebDriver may drive the view
    std::string bundleFolder;    // --bundle=DIR: pages from DIR/html instead of the built-in bundle
    // Everything else, in order; "--" ends the switches. Other "--name"
    // switches belong to the modules and are skipped here.
    std::vector<std::string> paths;
    std::string error;
};

ProgramOptions parseProgramOptions(const std::vector<std::string>& arguments);

} // namespace kx5
