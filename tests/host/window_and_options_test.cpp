// Saved window placement, size rules and the program's command line.
#include "host/command_line.h"
#include "host/gtk/program_options.h"
#include "host/gtk/window_placement.h"
#include "modules/app/settings_file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>

using namespace kx5;

TEST(WindowPlacement, RoundTripsThroughTheSettingsFileNextToOtherGroups) {
    test::TempDir dir;
    const std::string path = dir.path() + "settings.ini";
    std::ofstream(path) << "[pref]\nvalue=keep me\n";
    {
        SettingsFile settings(path);
        WindowPlacement p;
        p.x = -20;
        p.y = 40;
        p.width = 2500;
        p.height = 1400;
        p.maximized = true;
        p.store(settings);
        ASSERT_TRUE(settings.save());
    }
    SettingsFile reread(path);
    const WindowPlacement p = WindowPlacement::load(reread);
    EXPECT_EQ(p.x, -20);
    EXPECT_EQ(p.y, 40);
    EXPECT_EQ(p.width, 2500);
    EXPECT_EQ(p.height, 1400);
    EXPECT_TRUE(p.maximized);
    EXPECT_EQ(reread.get("pref", "value"), "keep me");
    // Saved sizes from a larger screen are used as they are.
    const Size s = initialSize(p, {1280, 800});
    EXPECT_EQ(s.width, 2500);
    EXPECT_EQ(s.height, 1400);
}

TEST(WindowPlacement, MissingOrBadValuesFallBackToTheDefaultWithinTheWorkArea) {
    test::TempDir dir;
    const std::string path = dir.path() + "settings.ini";
    std::ofstream(path) << "[window]\nx=abc\ny=5\nwidth=0\nheight=-3\nmaximized=yes\n";
    SettingsFile settings(path);
    const WindowPlacement p = WindowPlacement::load(settings);
    EXPECT_FALSE(p.x.has_value());
    EXPECT_EQ(p.y, 5);
    EXPECT_FALSE(p.width.has_value());
    EXPECT_FALSE(p.height.has_value());
    EXPECT_FALSE(p.maximized);
    const Size small = initialSize(p, {1024, 600});
    EXPECT_EQ(small.width, 1024);
    EXPECT_EQ(small.height, 600);
    const Size large = initialSize(p, {1920, 1080});
    EXPECT_EQ(large.width, kDefaultClientSize.width);
    EXPECT_EQ(large.height, kDefaultClientSize.height);
    const Size unknownArea = initialSize(p, {});
    EXPECT_EQ(unknownArea.width, 1160);
    EXPECT_EQ(limitToWorkArea(kMinimumClientSize, {700, 500}).width, 700);
    EXPECT_EQ(limitToWorkArea(kMinimumClientSize, {700, 500}).height, 500);
}

TEST(WindowPlacement, APlaceOffTheWorkAreaIsBroughtBackOntoIt) {
    const Rect area{0, 30, 1280, 770}; // a panel above
    const Size size{900, 700};
    auto at = [&](int x, int y) {
        const Point p = clampToWorkArea({x, y}, size, area);
        return std::pair(p.x, p.y);
    };
    EXPECT_EQ(at(100, 60), std::pair(100, 60)); // inside: as it was
    EXPECT_EQ(at(-99999, -99999), std::pair(0, 30));
    EXPECT_EQ(at(99999, 99999), std::pair(380, 100));
    EXPECT_EQ(at(INT_MIN, INT_MAX), std::pair(0, 100));
    EXPECT_EQ(at(-20, 40), std::pair(0, 40));
    // A second monitor's area to the left, at negative positions.
    EXPECT_EQ(clampToWorkArea({-1500, 10}, size, {-1920, 0, 1920, 1080}).x, -1500);
    // Larger than the area: its top-left corner at the area's.
    const Point big = clampToWorkArea({500, 500}, {2500, 1400}, area);
    EXPECT_EQ(big.x, 0);
    EXPECT_EQ(big.y, 30);
    // No area known: nothing to clamp to.
    EXPECT_EQ(clampToWorkArea({-99999, 5}, size, {}).x, -99999);
}

TEST(ProgramOptions, SwitchesPathsAndTheEndOfSwitches) {
    const ProgramOptions o =
        parseProgramOptions({"--devtools", "/a b.wav", "--midi-driver=x", "--bundle=/pages",
                             "--automation", "--", "--devtools", "-"});
    EXPECT_TRUE(o.developerTools);
    EXPECT_TRUE(o.automation);
    EXPECT_EQ(o.bundleFolder, "/pages");
    EXPECT_EQ(o.paths, (std::vector<std::string>{"/a b.wav", "--devtools", "-"}));
    EXPECT_TRUE(o.error.empty());
    EXPECT_FALSE(parseProgramOptions({"--bundle="}).error.empty());
    // A module switch's separate value is not a file to open.
    EXPECT_EQ(parseProgramOptions({"--simulated-unit-dump", "/tmp/unit.json", "a.wav",
                                   "--simulated-unit-reply-delay", "20"})
                  .paths,
              (std::vector<std::string>{"a.wav"}));
    const ProgramOptions plain = parseProgramOptions({});
    EXPECT_FALSE(plain.developerTools || plain.automation);
    EXPECT_TRUE(plain.paths.empty());
}

namespace {

CommandLineCheck check(const std::vector<std::string>& arguments) {
    return checkCommandLine(arguments);
}

} // namespace

TEST(CommandLine, KnownSwitchesTheirValuesAndFilesRun) {
    EXPECT_EQ(check({}).action, CommandLineAction::Run);
    const CommandLineCheck c = check(
        {"--devtools", "/a b.wav", "--bundle=/pages", "--midi-api=jack", "--no-simulated-unit",
         "--simulated-unit-dump", "/tmp/unit.json", "--simulated-unit-reply-delay", "-5",
         "--tether-discovery=127.0.0.1:7000", "--automation", "--console", "-", "b.alb"});
    EXPECT_EQ(c.action, CommandLineAction::Run) << c.error;
    EXPECT_TRUE(c.error.empty());
    // After "--" everything is a file, even what looks like a switch.
    EXPECT_EQ(check({"--", "--help", "--bogus", "-x"}).action, CommandLineAction::Run);
}

TEST(CommandLine, HelpAndVersionWinWhereverTheyStand) {
    EXPECT_EQ(check({"--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(check({"-h"}).action, CommandLineAction::Help);
    EXPECT_EQ(check({"a.wav", "--devtools", "--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(check({"--version"}).action, CommandLineAction::Version);
    EXPECT_EQ(check({"--console", "--version"}).action, CommandLineAction::Version);
    // A value that looks like a switch is still the value.
    EXPECT_EQ(check({"--simulated-unit-dump", "--help"}).action, CommandLineAction::Run);
}

TEST(CommandLine, UnknownAndMalformedSwitchesNameTheSwitchAndTheForm) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"a.wav", "--midi-driver=x"}, "unknown option '--midi-driver'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--help=1"}, "option '--help' takes no value"},
        {{"--devtools=yes"}, "option '--devtools' takes no value"},
        {{"--bundle"}, "option '--bundle' needs a value: --bundle=DIR"},
        {{"--midi-api="}, "option '--midi-api' needs a value: --midi-api=alsa|jack"},
        {{"--simulated-unit-dump"},
         "option '--simulated-unit-dump' needs a value: "
         "--simulated-unit-dump FILE"},
        {{"--simulated-unit-reply-delay=5"},
         "option '--simulated-unit-reply-delay' takes its value as the next argument: "
         "--simulated-unit-reply-delay MS"},
        // The first fault stops the check: a later --help does not hide it.
        {{"--bogus", "--help"}, "unknown option '--bogus'"},
    };
    for (const auto& [arguments, message] : cases) {
        const CommandLineCheck c = check(arguments);
        EXPECT_EQ(c.action, CommandLineAction::Error) << arguments.front();
        EXPECT_EQ(c.error, message);
    }
}

TEST(CommandLine, HelpNamesEverySwitchWithinEightyColumns) {
    const std::string help = commandLineHelp("kx5-editor");
    EXPECT_EQ(help.rfind("Usage: kx5-editor [OPTION...] [FILE...]\n", 0), 0u);
    for (const char* name :
         {"--console", "--midi-api=alsa|jack", "--no-simulated-unit", "--simulated-unit-dump FILE",
          "--simulated-unit-reply-delay MS", "--tether-discovery=", "--bundle=DIR", "--devtools",
          "--automation", "-h, --help", "--version"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(switchTakesNextArgument("--simulated-unit-dump"));
    EXPECT_FALSE(switchTakesNextArgument("--bundle"));
    EXPECT_FALSE(switchTakesNextArgument("a.wav"));
}
