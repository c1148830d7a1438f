// The security calls through the real program's bridge console, with a
// private home and data folder.
#include "tests/security/security_test_support.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <sstream>

extern char** environ;

using namespace kx5::test;

namespace {

class ConsoleRun {
  public:
    ConsoleRun() {
        std::filesystem::create_directories(home_.path() + "data");
        std::filesystem::create_directories(home_.path() + "config");
    }

    // Runs the program once over the given input lines; returns the answers
    // ("r") in order.
    std::vector<std::string> run(const std::vector<std::string>& lines) {
        std::string input;
        for (const auto& l : lines)
            input += l + "\n";
        writeFile(home_.path() + "in.txt", input);
        const std::string outPath = home_.path() + "out.txt";

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("HOME=", 0) && v.rfind("XDG_DATA_HOME=", 0) &&
                v.rfind("XDG_CONFIG_HOME=", 0) && v.rfind("TMPDIR=", 0))
                env.push_back(v);
        }
        env.push_back("HOME=" + home_.path());
        env.push_back("XDG_DATA_HOME=" + home_.path() + "data");
        env.push_back("XDG_CONFIG_HOME=" + home_.path() + "config");
        env.push_back("TMPDIR=" + home_.path());
        std::vector<char*> envp;
        for (auto& v : env)
            envp.push_back(v.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, (home_.path() + "in.txt").c_str(), O_RDONLY,
                                         0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::string program = KX5_EDITOR_PATH;
        std::string flag = "--console";
        char* argv[] = {program.data(), flag.data(), nullptr};
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        if (rc != 0) return {};
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        std::vector<std::string> answers;
        std::istringstream out(readFile(outPath));
        for (std::string line; std::getline(out, line);) {
            picojson::value v;
            if (!picojson::parse(v, line).empty() || !v.is<picojson::object>()) continue;
            const auto& o = v.get<picojson::object>();
            if (auto it = o.find("r"); it != o.end() && it->second.is<std::string>())
                answers.push_back(it->second.get<std::string>());
        }
        EXPECT_EQ(answers.size(), lines.size()) << readFile(outPath);
        return answers;
    }

    std::string dataFolder() const { return home_.path() + "data/"; }

  private:
    TempFolder home_;
};

std::string quoted(const std::string& s) {
    return picojson::value(s).serialize();
}

} // namespace

TEST(SecurityConsole, DigestCiphersAndProtectionAcrossRuns) {
    ConsoleRun console;
    const std::string data = "00112233445566778899AABBCCDDEEFF";
    auto first = console.run({
        R"(["$$security_md5","616263"])",
        R"(["$$security_aesencrypt",")" + data + R"("])",
        R"(["$$security_desencrypt",")" + data + R"("])",
        R"(["$$security_decipher","00"])",
        R"(["$$security_encipher","kept across runs"])",
        R"(["$$security_uuidgen"])",
    });
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(first[0], "s900150983CD24FB0D6963F7D28E17F72");
    ASSERT_EQ(first[1].size(), 65u);
    ASSERT_EQ(first[2].size(), 49u);
    EXPECT_EQ(first[3], "s");
    ASSERT_GT(first[4].size(), 1u);
    EXPECT_EQ(first[5].size(), 37u);

    // The master key was made private in the program's data folder.
    std::string keyFile;
    for (const auto& e : std::filesystem::recursive_directory_iterator(console.dataFolder()))
        if (e.path().filename() == "master.key") keyFile = e.path();
    ASSERT_FALSE(keyFile.empty());
    struct stat st {};
    ASSERT_EQ(::stat(keyFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A later run decrypts with the same default key and reads the
    // protected text back.
    auto second = console.run({
        R"(["$$security_aesdecrypt",)" + quoted(first[1].substr(1)) + "]",
        R"(["$$security_desdecrypt",)" + quoted(first[2].substr(1)) + "]",
        R"(["$$security_decipher",)" + quoted(first[4].substr(1)) + "]",
        R"(["$$security_aesdecrypt",)" + quoted(first[1].substr(1)) + R"(,"0102"])",
    });
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[0], "s" + data);
    EXPECT_EQ(second[1], "s" + data);
    EXPECT_EQ(second[2], "skept across runs");
    EXPECT_EQ(second[3], "s");
}
