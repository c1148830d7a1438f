// The "fs" calls through the program's bridge console, with a private home.
#include "tests/fs/fs_fixture.h"

#include <picojson.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::fstest;

namespace {

std::string jsonLine(const std::vector<std::string>& call) {
    picojson::array a;
    for (const auto& s : call)
        a.push_back(picojson::value(s));
    return picojson::value(a).serialize();
}

// Runs the console with the given environment and returns its output lines.
std::vector<std::string> runConsole(const std::vector<std::vector<std::string>>& calls,
                                    const std::vector<std::pair<std::string, std::string>>& env) {
    std::string input;
    for (const auto& c : calls)
        input += jsonLine(c) + "\n";
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        for (const auto& [k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("DISPLAY");
        execl(KX5_EDITOR, KX5_EDITOR, "--console", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    [[maybe_unused]] const ssize_t written = write(in[1], input.data(), input.size());
    close(in[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::vector<std::string> lines;
    std::istringstream s(text);
    for (std::string line; std::getline(s, line);) {
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
    const auto lines = runConsole({{"$$fs_separator"},
                                   {"$$fs_path", "downloads"},
                                   {"$$fs_writeString", text, "h\xC3\xA9"},
                                   {"$$fs_readData", text},
                                   {"$$fs_contents", home + "/Documents/", "TXT"},
                                   {"$$fs_importmediafile", text},
                                   {"$$fs_deletemediafile", "file://" + library + "text.txt"},
                                   {"$$fs_unmount", "/"},
                                   {"$$fs_exec", "kx5-no-such-scheme:x"},
                                   {"$$fs_copy", text, text}},
                                  {{"HOME", home},
                                   {"XDG_CONFIG_HOME", root + "config"},
                                   {"XDG_DATA_HOME", root + "data"},
                                   {"XDG_DATA_DIRS", root + "nowhere"},
                                   {"TMPDIR", root + "temp"}});
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
