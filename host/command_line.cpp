#include "host/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

#ifndef KX5_VERSION
#error "KX5_VERSION is defined by the build (the CMake project version)"
#endif

namespace kx5 {
namespace {

enum class Value {
    None,     // --devtools
    Attached, // --bundle=DIR
    Next,     // --simulated-unit-dump FILE
};

struct Switch {
    std::string_view name;
    Value value;
    std::string_view valueName;
    std::string_view help;
};

constexpr std::array kSwitches{
    Switch{"--console", Value::None, "",
           "run the modules without a window: one JSON\n"
           "call per line in, one result or event per\n"
           "line out"},
    Switch{"--midi-api", Value::Attached, "alsa|jack",
           "MIDI system (default alsa, or KX5_MIDI_API)"},
    Switch{"--no-simulated-unit", Value::None, "", "do not offer the built-in simulated KX-5"},
    Switch{"--simulated-unit-dump", Value::Next, "FILE",
           "write the simulated unit's memory as JSON\n"
           "when the program ends"},
    Switch{"--simulated-unit-reply-delay", Value::Next, "MS",
           "the simulated unit answers MS ms late"},
    Switch{"--tether-discovery", Value::Attached, "ADDR[:PORT][,...]",
           "send Tether discovery only to these\n"
           "addresses"},
    Switch{"--bundle", Value::Attached, "DIR",
           "show the pages under DIR/html instead of\n"
           "the built-in bundle"},
    Switch{"--devtools", Value::None, "", "allow the web inspector"},
    Switch{"--automation", Value::None, "", "let WebKitWebDriver attach to the window"},
    Switch{"--help", Value::None, "", "show this help and exit"},
    Switch{"--version", Value::None, "", "show the version and exit"},
};

const Switch* findSwitch(std::string_view name) {
    const auto it = std::find_if(kSwitches.begin(), kSwitches.end(),
                                 [name](const Switch& s) { return s.name == name; });
    return it == kSwitches.end() ? nullptr : &*it;
}

std::string quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

CommandLineCheck error(std::string message) {
    return {CommandLineAction::Error, std::move(message)};
}

} // namespace

CommandLineCheck checkCommandLine(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--") break;
        if (a == "-h") return {CommandLineAction::Help, {}};
        if (a.size() < 2 || a[0] != '-') continue; // a file to open
        if (a[1] != '-') return error("unknown option " + quoted(a));

        const size_t equals = a.find('=');
        const std::string_view name = std::string_view(a).substr(0, equals);
        const Switch* s = findSwitch(name);
        if (!s) return error("unknown option " + quoted(name));
        const std::string usage = std::string(s->name) + (s->value == Value::Attached ? "=" : " ") +
                                  std::string(s->valueName);
        switch (s->value) {
        case Value::None:
            if (equals != std::string::npos)
                return error("option " + quoted(name) + " takes no value");
            break;
        case Value::Attached:
            if (equals == std::string::npos || equals + 1 == a.size())
                return error("option " + quoted(name) + " needs a value: " + usage);
            break;
        case Value::Next:
            if (equals != std::string::npos)
                return error("option " + quoted(name) +
                             " takes its value as the next argument: " + usage);
            if (++i == arguments.size())
                return error("option " + quoted(name) + " needs a value: " + usage);
            break;
        }
        if (s->name == "--help") return {CommandLineAction::Help, {}};
        if (s->name == "--version") return {CommandLineAction::Version, {}};
    }
    return {};
}

bool switchTakesNextArgument(const std::string& argument) {
    const Switch* s = findSwitch(argument);
    return s && s->value == Value::Next;
}

std::string commandLineHelp(const std::string& programName) {
    std::string out = "Usage: " + programName +
                      " [OPTION...] [FILE...]\n"
                      "Editor and impulse-response loader for the KX-5 pedal. WAV files and\n"
                      "backups (.alb) given as FILE open in the running editor.\n\n"
                      "Options:\n";
    constexpr size_t column = 34; // help texts fit 80 columns from here
    for (const Switch& s : kSwitches) {
        std::string left = (s.name == "--help" ? "  -h, " : "      ") + std::string(s.name);
        if (s.value != Value::None)
            left += (s.value == Value::Attached ? "=" : " ") + std::string(s.valueName);
        if (left.size() + 2 > column)
            left += "\n" + std::string(column, ' ');
        else
            left.resize(column, ' ');
        std::string help(s.help);
        for (size_t nl = help.find('\n'); nl != std::string::npos; nl = help.find('\n', nl + 1))
            help.insert(nl + 1, std::string(column, ' '));
        out += left + help + "\n";
    }
    out += "\nThe window also takes GTK's own options (--display=DISPLAY...).\n";
    return out;
}

const char* programVersion() {
    return KX5_VERSION;
}

} // namespace kx5
