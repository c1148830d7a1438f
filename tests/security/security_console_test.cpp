// The security calls through the real program's bridge console, with a
// private home and data folder.
#include "tests/security/security_test_support.h"
#include "tests/support/console_process.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <sys/stat.h>

#include <filesystem>

using namespace kx5::test;

namespace {

// The program's console, run once per call of run() over the same home.
class Console {
  public:
    Console() {
        std::filesystem::create_directories(home_.path() + "data");
        std::filesystem::create_directories(home_.path() + "config");
    }

    // Runs the program once over the given input lines; returns the answers
    // ("r") in order.
    std::vector<std::string> run(const std::vector<std::string>& lines) {
        const ConsoleRun run = runConsole(KX5_EDITOR_PATH, lines, {.home = home_.path()});
        EXPECT_EQ(run.exitCode, 0);
        const std::vector<std::string> answers = valuesOf(run, "r");
        EXPECT_EQ(answers.size(), lines.size()) << ::testing::PrintToString(run.lines);
        return answers;
    }

    std::string dataFolder() const { return home_.path() + "data/"; }

  private:
    TempDir home_;
};

std::string quoted(const std::string& s) {
    return picojson::value(s).serialize();
}

} // namespace

TEST(SecurityConsole, DigestCiphersAndProtectionAcrossRuns) {
    Console console;
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
