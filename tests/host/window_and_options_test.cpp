// Saved window placement, size rules and the window program's command line.
#include "host/gtk/program_options.h"
#include "host/gtk/window_placement.h"
#include "modules/app/settings_file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

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
