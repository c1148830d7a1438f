// Black box: the "library" module through the program's bridge console,
// events pushed as they come, with a private HOME; a second run finds the
// index damaged between runs.
#include "tests/ir/console_session.h"
#include "tests/library/library_fixture.h"

#include <fstream>

namespace kx5 {
namespace {

using test::ConsoleSession;

std::string callLine(std::initializer_list<std::string> parts) {
    picojson::array a;
    for (const auto& p : parts)
        a.emplace_back(p);
    return picojson::value(a).serialize();
}

// The value of an {"r":...} or {"e":...} line, or nothing.
std::optional<std::string> valueOf(const std::string& line, const char* key) {
    picojson::value v;
    if (!picojson::parse(v, line).empty() || !v.is<picojson::object>()) return std::nullopt;
    const auto& o = v.get<picojson::object>();
    const auto it = o.find(key);
    if (it == o.end() || !it->second.is<std::string>()) return std::nullopt;
    return it->second.get<std::string>();
}

class LibraryConsole : public ::testing::Test {
  protected:
    std::unique_ptr<ConsoleSession> start() {
        auto c = std::make_unique<ConsoleSession>(
            KX5_EXECUTABLE,
            std::map<std::string, std::string>{{"HOME", home.path()},
                                               {"XDG_DATA_HOME", home.path() + "data"},
                                               {"XDG_CONFIG_HOME", home.path() + "config"},
                                               {"TMPDIR", home.path()}});
        EXPECT_EQ(call(*c, {"$$app_startevent", "true"}), "b1");
        return c;
    }

    // The result of one call; the events that came before it are kept.
    std::string call(ConsoleSession& c, std::initializer_list<std::string> parts) {
        c.send(callLine(parts));
        for (;;) {
            const std::string line = c.readUntil([](const std::string&) { return true; });
            if (line.empty()) return "(no answer)";
            if (auto r = valueOf(line, "r")) return *r;
            if (auto e = valueOf(line, "e")) events.push_back(*e);
        }
    }

    // Events up to and including the first that starts with prefix.
    std::string awaitEvent(ConsoleSession& c, const std::string& prefix) {
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0) return e;
        const std::string line = c.readUntil([&](const std::string& l) {
            auto e = valueOf(l, "e");
            if (e) events.push_back(*e);
            return e && e->rfind(prefix, 0) == 0;
        });
        return valueOf(line, "e").value_or("");
    }

    picojson::object json(const std::string& text) {
        return test::parseJson(text).get<picojson::object>();
    }

    std::string irs() const { return home.path() + "irs"; }

    test::TempDir home;
    std::vector<std::string> events;
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
    EXPECT_EQ(call(*c, {"$$library_addfolder"}), "eInvalid argument");
    EXPECT_EQ(call(*c, {"$$library_addfolder", irs() + "/none"}), "eNo such file or directory");
    EXPECT_EQ(call(*c, {"$$library_search", "not json"}), "esystem exception");
    EXPECT_EQ(call(*c, {"$$library_nosuchcall"}), "v");
    EXPECT_EQ(call(*c, {"$$library_cancel"}), "b");

    EXPECT_EQ(call(*c, {"$$library_addfolder", irs() + "/"}), "b1");
    const std::string end = awaitEvent(*c, "library\fscanned\f");
    ASSERT_FALSE(end.empty());
    const auto summary = json(end.substr(end.rfind('\f') + 1));
    EXPECT_EQ(test::number(summary, "files"), 2);
    EXPECT_EQ(test::number(summary, "skipped"), 1);
    EXPECT_NE(std::find(events.begin(), events.end(), "library\fprogress\f3\f3"), events.end());

    const auto found = json(call(*c, {"$$library_search", R"({"text":"v30"})"}).substr(1));
    EXPECT_EQ(test::number(found, "total"), 1);
    EXPECT_EQ(found.at("rows").get(0).get("path").get<std::string>(), v30);

    EXPECT_EQ(call(*c, {"$$library_tag", v30, R"(["tight","57"])"}), "b1");
    EXPECT_EQ(call(*c, {"$$library_tag", v30, "{}"}), "esystem exception");
    EXPECT_EQ(call(*c, {"$$library_tag", irs() + "/broken.wav", "[]"}), "b");
    EXPECT_EQ(call(*c, {"$$library_favourite", v30, "true"}), "b1");
    const auto entry = json(call(*c, {"$$library_entry", v30}).substr(1));
    EXPECT_EQ(test::number(entry, "favourite"), 1);
    EXPECT_EQ(entry.at("tags").serialize(), R"(["tight","57"])");
    EXPECT_EQ(call(*c, {"$$library_skipped"}),
              "s[{\"path\":" + picojson::value(irs() + "/broken.wav").serialize() +
                  ",\"reason\":\"not a WAV file\"}]");
    EXPECT_EQ(json(call(*c, {"$$library_status"}).substr(1)).at("scanning").get<bool>(), false);
    EXPECT_EQ(call(*c, {"$$library_folders"}),
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
    events.clear();
    c = start();
    EXPECT_EQ(call(*c, {"$$library_folders"}).substr(0, 2), "s[");
    const std::string rebuilt = awaitEvent(*c, "library\frebuilt\findex\f");
    EXPECT_NE(rebuilt.find(index + ".damaged-"), std::string::npos) << rebuilt;
    ASSERT_FALSE(awaitEvent(*c, "library\fscanned\f").empty());
    const auto tagged = json(call(*c, {"$$library_search", R"({"text":"tight"})"}).substr(1));
    EXPECT_EQ(test::number(tagged, "total"), 1);
    EXPECT_EQ(test::number(json(call(*c, {"$$library_entry", v30}).substr(1)), "favourite"), 1);
}

} // namespace kx5
