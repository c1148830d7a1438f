// Black box: the "library" module through the program's bridge console,
// the events it sends awaited, with a private HOME; a second run finds the
// index damaged between runs.
#include "tests/library/library_fixture.h"
#include "tests/support/console_process.h"

#include <algorithm>
#include <fstream>

namespace kx5 {
namespace {

using test::ConsoleProcess;

class LibraryConsole : public ::testing::Test {
  protected:
    std::unique_ptr<ConsoleProcess> start() {
        auto c = std::make_unique<ConsoleProcess>(KX5_EXECUTABLE,
                                                  test::ConsoleOptions{.home = home.path()});
        EXPECT_EQ(c->call({"$$app_startevent", "true"}), "b1");
        return c;
    }

    // The fields of the first event that starts with prefix (none when it
    // does not come within a minute).
    std::vector<std::string> awaitEvent(ConsoleProcess& c, const std::string& prefix) {
        return c.waitForEvent(prefix, 60000).value_or(std::vector<std::string>{});
    }

    picojson::object json(const std::string& text) {
        return test::parseJson(text).get<picojson::object>();
    }

    std::string irs() const { return home.path() + "irs"; }

    test::TempDir home;
};

} // namespace

TEST_F(LibraryConsole, FoldersScanInTheBackgroundAndAnswerSearches) {
    const std::string v30 = irs() + "/Mesa/V30 57.wav";
    test::writeIr(v30, test::pcm(48000), test::filterResponse(1000, 48000, 4800));
    test::writeIr(irs() + "/Mesa/Greenback.wav", test::pcm(44100, 16, 2),
                  test::filterResponse(3000, 44100, 4410));
    std::ofstream(irs() + "/broken.wav") << "no audio";
    auto c = start();

    // Arguments the page got wrong.
    EXPECT_EQ(c->call({"$$library_addfolder"}), "eInvalid argument");
    EXPECT_EQ(c->call({"$$library_addfolder", irs() + "/none"}), "eNo such file or directory");
    EXPECT_EQ(c->call({"$$library_search", "not json"}), "esystem exception");
    EXPECT_EQ(c->call({"$$library_nosuchcall"}), "v");
    EXPECT_EQ(c->call({"$$library_cancel"}), "b");

    EXPECT_EQ(c->call({"$$library_addfolder", irs() + "/"}), "b1");
    const auto end = awaitEvent(*c, "library\fscanned\f");
    ASSERT_EQ(end.size(), 3u);
    const auto summary = json(end[2]);
    EXPECT_EQ(test::number(summary, "files"), 2);
    EXPECT_EQ(test::number(summary, "skipped"), 1);
    EXPECT_NE(std::find(c->events().begin(), c->events().end(), "library\fprogress\f3\f3"),
              c->events().end());

    const auto found = json(c->call({"$$library_search", R"({"text":"v30"})"}).substr(1));
    EXPECT_EQ(test::number(found, "total"), 1);
    EXPECT_EQ(found.at("rows").get(0).get("path").get<std::string>(), v30);

    EXPECT_EQ(c->call({"$$library_tag", v30, R"(["tight","57"])"}), "b1");
    EXPECT_EQ(c->call({"$$library_tag", v30, "{}"}), "esystem exception");
    EXPECT_EQ(c->call({"$$library_tag", irs() + "/broken.wav", "[]"}), "b");
    EXPECT_EQ(c->call({"$$library_favourite", v30, "true"}), "b1");
    const auto entry = json(c->call({"$$library_entry", v30}).substr(1));
    EXPECT_EQ(test::number(entry, "favourite"), 1);
    EXPECT_EQ(entry.at("tags").serialize(), R"(["tight","57"])");
    EXPECT_EQ(c->call({"$$library_skipped"}),
              "s[{\"path\":" + picojson::value(irs() + "/broken.wav").serialize() +
                  ",\"reason\":\"not an audio file this program reads (WAV, AIFF, FLAC)\"}]");
    EXPECT_EQ(json(c->call({"$$library_status"}).substr(1)).at("scanning").get<bool>(), false);
    EXPECT_EQ(c->call({"$$library_folders"}),
              "s[{\"files\":2,\"path\":" + picojson::value(irs()).serialize() + ",\"skipped\":1}]");
    c.reset();

    // Between runs the index is damaged: it is kept aside, reported and
    // filled again; the marks are in the other file.
    const std::string index = home.path() + "data/velmar/kx5-editor/library/ir-index.sqlite";
    {
        std::fstream f(index, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.good());
        f.write(std::string(100, '\x7f').data(), 100);
    }
    c = start();
    EXPECT_EQ(c->call({"$$library_folders"}).substr(0, 2), "s[");
    const auto rebuilt = awaitEvent(*c, "library\frebuilt\findex\f");
    ASSERT_GE(rebuilt.size(), 4u);
    EXPECT_NE(rebuilt[3].find(index + ".damaged-"), std::string::npos) << rebuilt[3];
    ASSERT_FALSE(awaitEvent(*c, "library\fscanned\f").empty());
    const auto tagged = json(c->call({"$$library_search", R"({"text":"tight"})"}).substr(1));
    EXPECT_EQ(test::number(tagged, "total"), 1);
    EXPECT_EQ(test::number(json(c->call({"$$library_entry", v30}).substr(1)), "favourite"), 1);
}

} // namespace kx5
