// Black box: "wavstat" and "convert" through the program's bridge console
// ("$$app_control"), with a private HOME and temporary folder.
#include "tests/ir/generated_ir.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/console_process.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <filesystem>

namespace kx5 {
namespace {

// The JSON argument of an "app" "command" <word> event line, or "".
std::string commandJson(const std::string& line, const std::string& word) {
    picojson::value v;
    if (!picojson::parse(v, line).empty() || !v.is<picojson::object>()) return "";
    const auto& o = v.get<picojson::object>();
    const auto e = o.find("e");
    if (e == o.end() || !e->second.is<std::string>()) return "";
    const std::string prefix = "app\fcommand\f" + word + "\f";
    const std::string& text = e->second.get<std::string>();
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : "";
}

picojson::object parseObject(const std::string& json) {
    picojson::value v;
    picojson::parse(v, json);
    return v.is<picojson::object>() ? v.get<picojson::object>() : picojson::object{};
}

bool isCallResult(const std::string& line) {
    return line.compare(0, 5, "{\"r\":") == 0;
}

// Events are printed while the console waits: short waits, each followed by a
// call whose result line marks the end of that wait, until the next
// "command" event of this word.
std::string awaitCommand(test::ConsoleProcess& console, const std::string& word) {
    for (int i = 0; i < 3000; ++i) {
        console.send("[\"wait\",20]");
        console.send("[\"$$ir_marker\"]");
        std::string line;
        bool marker = false;
        while (!marker && console.readLine(line)) {
            if (!commandJson(line, word).empty()) return commandJson(line, word);
            marker = isCallResult(line);
        }
        if (!marker) return "";
    }
    return "";
}

std::string control(const std::string& request) {
    return picojson::value(
               picojson::array{picojson::value("$$app_control"), picojson::value(request)})
        .serialize();
}

TEST(IrConsole, WavstatThenConvertWithProgressPolls) {
    test::TempDir home;
    const std::string wav = home.file("cab ir.wav");
    test::writeFile(wav, test::simpleWave(test::FormatRecord{1, 1, 48000, 24},
                                          test::generateImpulseResponse(31, 48000, 24000, 200)));
    test::ConsoleProcess console(KX5_EXECUTABLE, {.home = home.path()});
    ASSERT_TRUE(console.started());
    const std::string pathJson = picojson::value(wav).serialize();

    console.send(control("wavstat:{\"path\":" + pathJson + "}"));
    EXPECT_EQ(awaitCommand(console, "wavstat"),
              "{\"bits\":24,\"channels\":1,\"format\":1,\"result\":1,\"sampleRate\":48000,"
              "\"samples\":24000}");

    console.send(control("convert:{\"path\":" + pathJson + ",\"ch\":0}"));
    EXPECT_EQ(awaitCommand(console, "convert"), "{\"result\":1}");

    // Poll as the page does until the completion answer arrives.
    double lastProgress = 0;
    picojson::object finished;
    for (int polls = 0; polls < 3000 && finished.empty(); ++polls) {
        console.send(control("convert:{\"req\":\"progress\"}"));
        picojson::object answer = parseObject(awaitCommand(console, "convert"));
        if (answer.count("load")) {
            finished = answer;
            answer = parseObject(awaitCommand(console, "convert"));
        }
        ASSERT_TRUE(answer.count("progress"));
        const double p = answer.at("progress").get<double>();
        EXPECT_GE(p, lastProgress);
        EXPECT_GE(p, 1);
        EXPECT_LE(p, 100);
        lastProgress = p;
    }
    EXPECT_EQ(lastProgress, 99);
    ASSERT_FALSE(finished.empty());
    EXPECT_EQ(finished.at("load").get<std::string>(), "finished");
    EXPECT_EQ(finished.at("result").get<double>(), 1);
    const std::string out = finished.at("path").get<std::string>();
    EXPECT_EQ(std::filesystem::path(out).filename(), "VLM00000.tmp");
    EXPECT_EQ(out.compare(0, home.path().size(), home.path()), 0); // the private temp folder
    EXPECT_EQ(std::filesystem::file_size(out), 13416u);
    EXPECT_EQ((std::filesystem::status(std::filesystem::path(out).parent_path()).permissions() &
               std::filesystem::perms::others_all),
              std::filesystem::perms::none);
}

} // namespace
} // namespace kx5
