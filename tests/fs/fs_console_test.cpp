// The "fs" calls through the program's bridge console, with a private home.
#include "tests/fs/fs_fixture.h"
#include "tests/support/console_process.h"

#include <picojson.h>

using namespace kx5;
using namespace kx5::fstest;

namespace {

// Runs the console over the calls and returns its output lines as
// "key:value".
std::vector<std::string> consoleLines(const std::vector<std::vector<std::string>>& calls,
                                      const test::ConsoleOptions& options) {
    std::vector<std::string> input;
    for (const auto& c : calls)
        input.push_back(test::callLine(c));
    std::vector<std::string> lines;
    for (const auto& line : test::runConsole(KX5_EDITOR, input, options).lines) {
        picojson::value v;
        if (picojson::parse(v, line).empty() && v.is<picojson::object>()) {
            for (const auto& [key, value] : v.get<picojson::object>())
                lines.push_back(key + ":" +
                                (value.is<std::string>() ? value.get<std::string>() : ""));
        }
    }
    return lines;
}

} // namespace

TEST_F(FsModule, ConsoleAnswersAndEventsOfTheProgram) {
    const std::string home = root + "home";
    stdfs::create_directories(home + "/Documents");
    const std::string library = root + "data/velmar/kx5-editor/data/";
    const std::string text = root + "home/Documents/text.txt";
    const auto lines = consoleLines({{"$$fs_separator"},
                                     {"$$fs_path", "downloads"},
                                     {"$$fs_writeString", text, "h\xC3\xA9"},
                                     {"$$fs_readData", text},
                                     {"$$fs_contents", home + "/Documents/", "TXT"},
                                     {"$$fs_importmediafile", text},
                                     {"$$fs_deletemediafile", "file://" + library + "text.txt"},
                                     {"$$fs_unmount", "/"},
                                     {"$$fs_exec", "kx5-no-such-scheme:x"},
                                     {"$$fs_copy", text, text}},
                                    {.home = home,
                                     .env = {{"XDG_CONFIG_HOME", root + "config"},
                                             {"XDG_DATA_HOME", root + "data"},
                                             {"XDG_DATA_DIRS", root + "nowhere"},
                                             {"TMPDIR", root + "temp"},
                                             {"DBUS_SESSION_BUS_ADDRESS", ""},
                                             {"DISPLAY", ""}}});
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "r:s/");
    EXPECT_EQ(lines[1], "r:s" + home + "/Documents/");
    EXPECT_EQ(lines[2], "r:v");
    EXPECT_EQ(lines[3], "r:s68C3A9");
    EXPECT_EQ(lines[4], "r:s[{\"deletable\":true,\"directory\":false,\"name\":\"text.txt\","
                        "\"readable\":true,\"size\":3,\"writable\":true}]");
    EXPECT_EQ(lines[5], "r:v");
    EXPECT_EQ(lines[6],
              "e:fs\fimportmediafile\f" +
                  picojson::value(
                      picojson::object{{"url", picojson::value("file://" + library + "text.txt")}})
                      .serialize());
    EXPECT_EQ(lines[7], "r:s" + library + "text.txt");
    EXPECT_EQ(lines[8], "r:v");
    EXPECT_EQ(lines[9].rfind("e:fs\funmountfailed\f/\f", 0), 0u) << lines[9];
    EXPECT_EQ(lines[10], "r:v");
    EXPECT_EQ(lines[11], "r:eFile exists");
}
