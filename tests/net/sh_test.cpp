// "sh" runs real commands through /bin/sh.
#include "net/native_call_sh.h"
#include "tests/net/support/net_test_host.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

using namespace kx5;

extern char** environ;

namespace {

struct Shell : ::testing::Test {
    test::NetTestHost host;
    NativeCall_sh sh{&host.objects};

    uint32_t exec(const std::string& json) {
        const std::string r = sh.call("exec", {json});
        EXPECT_EQ(r[0], 'd') << r;
        return static_cast<uint32_t>(std::stoul(r.substr(1)));
    }
    // The output texts of one command up to (not including) its final
    // empty event.
    std::vector<std::string> output(uint32_t pid) {
        std::vector<std::string> texts;
        const std::string prefix = "sh\fstdout\f" + std::to_string(pid) + "\f";
        for (;;) {
            const auto e = host.js.waitFor(prefix);
            if (!e) {
                ADD_FAILURE() << "no end of output for " << pid;
                return texts;
            }
            if ((*e)[3].empty()) return texts;
            texts.push_back((*e)[3]);
        }
    }
};

std::string joined(const std::vector<std::string>& texts) {
    std::string s;
    for (const auto& t : texts)
        s += t;
    return s;
}

// A process still exists and is not a zombie.
bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const size_t close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

} // namespace

TEST_F(Shell, OutputStreamsThenOneEmptyEvent) {
    const uint32_t pid = exec(R"j(["echo","hi"])j");
    EXPECT_GT(pid, 0u);
    EXPECT_EQ(joined(output(pid)), "hi\n");
}

TEST_F(Shell, WordsFormOneShellCommandLine) {
    EXPECT_EQ(joined(output(exec(R"j(["echo","$((6*7))","|","tr","4","X"])j"))), "X2\n");
    EXPECT_EQ(joined(output(exec(R"j(["echo err >&2;","echo","out"])j"))), "out\n");
}

TEST_F(Shell, CrLfBecomesLfAndLongOutputComesInPieces) {
    EXPECT_EQ(joined(output(exec(R"j(["printf","'a\\r\\nb\\r\\nc\\r\\n'"])j"))), "a\nb\nc\n");
    const auto pieces = output(exec(R"j(["head -c 5000 /dev/zero | tr '\\000' x"])j"));
    EXPECT_GT(pieces.size(), 1u);
    for (const auto& p : pieces)
        EXPECT_LE(p.size(), 512u);
    EXPECT_EQ(joined(pieces), std::string(5000, 'x'));
}

TEST_F(Shell, EmptyArrayRunsAnEmptyCommand) {
    EXPECT_TRUE(output(exec("[]")).empty());
}

TEST_F(Shell, MalformedCommandsAreErrorsAndStartNothing) {
    EXPECT_EQ(sh.call("exec", {"{"}), "esystem exception");
    EXPECT_EQ(sh.call("exec", {"[1]"}), "esystem exception");
    EXPECT_EQ(sh.call("exec", {R"j({"a":"b"})j"}), "esystem exception");
    EXPECT_EQ(sh.call("exec", {}), "eInvalid argument");
    EXPECT_EQ(sh.call("kill", {"x"}), "esystem exception");
    EXPECT_TRUE(host.js.seen().empty());
}

TEST_F(Shell, KillEndsEveryProcessOfTheCommand) {
    const uint32_t pid = exec(R"j(["sleep 60 & echo $!; wait"])j");
    const auto first = host.js.waitFor("sh\fstdout\f" + std::to_string(pid) + "\f");
    ASSERT_TRUE(first);
    const pid_t background = std::stoi((*first)[3]);
    ASSERT_TRUE(alive(background));
    EXPECT_EQ(sh.call("kill", {std::to_string(pid)}), "v");
    EXPECT_TRUE(output(pid).empty());
    for (int i = 0; i < 500 && alive(background); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(alive(background));
}

TEST_F(Shell, KillLeavesProcessesStartedElsewhereAlone) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    char sleepPath[] = "/bin/sleep", seconds[] = "60";
    char* argv[] = {sleepPath, seconds, nullptr};
    pid_t other = 0;
    ASSERT_EQ(posix_spawn(&other, "/bin/sleep", nullptr, &attr, argv, environ), 0);
    posix_spawnattr_destroy(&attr);
    EXPECT_EQ(sh.call("kill", {std::to_string(other)}), "v");
    EXPECT_EQ(sh.call("kill", {"0"}), "v");
    EXPECT_EQ(sh.call("kill", {"-1"}), "v");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(alive(other));
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
}
