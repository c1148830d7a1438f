// "wavstat" and "convert" through the control channel on a real GLib UI
// queue: answers, key order, the worker's completion, cancel and refusals.
#include "bridge/javascript_interface.h"
#include "bridge/ui_queue_glib.h"
#include "ir/ir_commands.h"
#include "modules/app/control_channel.h"
#include "tests/ir/generated_ir.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace kx5 {
namespace {

using test::FormatRecord;

class EventSink final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}
};

class IrCommandsTest : public ::testing::Test {
  protected:
    IrCommandsTest()
        : context(g_main_context_new()), ui(std::make_unique<GlibUiQueue>(context)), js(*ui),
          channel(js, defaultControlTable()),
          commands(std::make_unique<IrCommands>(folder.path(), [this] { channel.signalDone(0); })) {
        IrCommands* c = commands.get();
        channel.setHandlers(
            0,
            {"", [c](const picojson::object& a, picojson::object& r) { return c->convert(a, r); },
             [c](picojson::object& r) { return c->convertDone(r); }});
        channel.setHandlers(
            1, {"",
                [c](const picojson::object& a, picojson::object& r) { return c->wavstat(a, r); },
                {}});
    }
    ~IrCommandsTest() override {
        ui->close();
        commands.reset();
        ui.reset();
        g_main_context_unref(context);
    }

    // Handles the request on this (the UI) thread and returns the answer's
    // JSON text, or "" when none was posted.
    std::string request(const std::string& word, const std::string& json) {
        channel.handleControlRequest(word + ":" + json);
        const std::string e = js.pullEvent();
        if (e.empty()) return "";
        const std::string prefix = eventText({"app", "command", word, ""});
        EXPECT_EQ(e.substr(0, prefix.size()), prefix);
        EXPECT_TRUE(js.pullEvent().empty());
        return e.substr(prefix.size());
    }
    std::string convertFile(const std::string& path, int ch = 0) {
        return request("convert", "{\"path\":\"" + path + "\",\"ch\":" + std::to_string(ch) + "}");
    }
    // Runs the loop until the worker's completion answer arrives.
    std::string completion() {
        for (;;) {
            g_main_context_iteration(context, TRUE);
            const std::string e = js.pullEvent();
            if (!e.empty()) return e.substr(eventText({"app", "command", "convert", ""}).size());
        }
    }
    // The path as the answer's JSON writes it ("/" escaped).
    static std::string jsonPath(const std::string& path) {
        return picojson::value(path).serialize();
    }
    std::string writeWave(const std::string& name, const FormatRecord& f,
                          const std::vector<double>& samples) {
        const std::string path = folder.file(name);
        test::writeFile(path, test::simpleWave(f, samples));
        return path;
    }

    test::TempDir folder;
    GMainContext* context;
    std::unique_ptr<GlibUiQueue> ui;
    EventSink js;
    ControlChannel channel;
    std::unique_ptr<IrCommands> commands;
};

TEST_F(IrCommandsTest, WavstatAnswersInKeyOrder) {
    const std::string mono =
        writeWave("m.wav", FormatRecord{1, 1, 48000, 16}, std::vector<double>(10, 0.1));
    EXPECT_EQ(request("wavstat", "{\"path\":\"" + mono + "\"}"),
              "{\"bits\":16,\"channels\":1,\"format\":1,\"result\":1,\"sampleRate\":48000,"
              "\"samples\":10}");
    const std::string stereo =
        writeWave("s.wav", FormatRecord{1, 2, 44100, 24}, std::vector<double>(2000, 0.1));
    EXPECT_EQ(request("wavstat", "{\"path\":\"" + stereo + "\"}"),
              "{\"bits\":24,\"channels\":2,\"format\":1,\"result\":1,\"sampleRate\":44100,"
              "\"samples\":1000}");
    FormatRecord f{1, 2, 44100, 24};
    test::writeFile(folder.file("acid.wav"),
                    test::riffWave({test::chunk("fmt ", f.bytes()),
                                    test::chunk("acid", test::acidChunkData(120.0f, 4, 4, 8)),
                                    test::chunk("data", test::encodeSamples(
                                                            f, std::vector<double>(2000, 0.1)))}));
    EXPECT_EQ(request("wavstat", "{\"path\":\"" + folder.file("acid.wav") + "\"}"),
              "{\"beatCount\":8,\"bits\":24,\"channels\":2,\"denominator\":4,\"format\":1,"
              "\"numerator\":4,\"result\":1,\"sampleRate\":44100,\"samples\":1000,\"tempo\":120}");
    const std::string flt = writeWave("f.wav", FormatRecord{3, 1, 96000, 32}, {0.5});
    EXPECT_EQ(request("wavstat", "{\"path\":\"" + flt + "\"}"),
              "{\"bits\":32,\"channels\":1,\"format\":3,\"result\":1,\"sampleRate\":96000,"
              "\"samples\":1}");
    test::writeFile(folder.file("text.wav"),
                    test::Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v'});
    EXPECT_EQ(request("wavstat", "{\"path\":\"" + folder.file("text.wav") + "\"}"),
              "{\"result\":0}");
    EXPECT_EQ(request("wavstat", "{\"path\":\"" + folder.file("none.wav") + "\"}"),
              "{\"result\":0}");
    // A missing or non-string path is the JSON type error: no answer.
    EXPECT_EQ(request("wavstat", "{}"), "");
    EXPECT_EQ(request("wavstat", "{\"path\":3}"), "");
}

TEST_F(IrCommandsTest, ConvertWritesTheFileAndAnswersWithItsPath) {
    const std::string path = writeWave("ir.wav", FormatRecord{1, 1, 48000, 24},
                                       test::generateImpulseResponse(21, 48000, 4800, 10));
    EXPECT_EQ(convertFile(path), "{\"result\":1}");
    const std::string out = folder.file("VLM00000.tmp");
    EXPECT_EQ(completion(), "{\"load\":\"finished\",\"path\":" + jsonPath(out) + ",\"result\":1}");
    EXPECT_EQ(std::filesystem::file_size(out), 13416u);
    EXPECT_EQ(request("convert", "{\"req\":\"progress\"}"), "{\"progress\":99,\"result\":1}");
    // A second conversion overwrites the same file.
    EXPECT_EQ(convertFile(path), "{\"result\":1}");
    EXPECT_EQ(completion(), "{\"load\":\"finished\",\"path\":" + jsonPath(out) + ",\"result\":1}");
}

TEST_F(IrCommandsTest, CancelWritesNoFileAndAnswersAborted) {
    // An odd rate keeps the worker busy long enough for the cancel.
    const std::string path = writeWave("ir.wav", FormatRecord{3, 1, 44101, 32},
                                       test::generateImpulseResponse(22, 44101, 22050));
    EXPECT_EQ(convertFile(path), "{\"result\":1}");
    EXPECT_EQ(request("convert", "{\"req\":\"cancel\"}"), "{\"result\":1}");
    EXPECT_EQ(completion(), "{\"cancel\":\"aborted\",\"result\":1}");
    EXPECT_FALSE(std::filesystem::exists(folder.file("VLM00000.tmp")));
    // The next start is not affected by the earlier cancel.
    const std::string small = writeWave("s.wav", FormatRecord{1, 1, 48000, 16},
                                        test::generateImpulseResponse(23, 48000, 1000));
    EXPECT_EQ(convertFile(small), "{\"result\":1}");
    EXPECT_EQ(completion().substr(0, 19), "{\"load\":\"finished\",");
}

TEST_F(IrCommandsTest, StartWhileRunningIsRefused) {
    const std::string path = writeWave("ir.wav", FormatRecord{1, 1, 48000, 16},
                                       test::generateImpulseResponse(24, 48000, 2000));
    EXPECT_EQ(convertFile(path), "{\"result\":1}");
    // Until the completion has been handled on this thread, it is running.
    EXPECT_EQ(convertFile(path), "{\"load\":\"busy\",\"result\":0}");
    EXPECT_EQ(completion().substr(0, 19), "{\"load\":\"finished\",");
}

TEST_F(IrCommandsTest, RequestFormsAndFailures) {
    EXPECT_EQ(request("convert", "{\"path\":\"\"}"), "{\"load\":\"notfound\",\"result\":0}");
    EXPECT_EQ(convertFile(folder.file("none.wav")), "{\"load\":\"unsupported\",\"result\":0}");
    const std::string silent =
        writeWave("z.wav", FormatRecord{1, 1, 48000, 16}, std::vector<double>(100, 0.0));
    EXPECT_EQ(convertFile(silent), "{\"load\":\"unsupported\",\"result\":0}");
    const std::string ext = writeWave("e.wav", FormatRecord{0xFFFE, 1, 48000, 16}, {0.5});
    EXPECT_EQ(convertFile(ext), "{\"load\":\"unsupported\",\"result\":0}");
    EXPECT_EQ(request("convert", "{\"req\":\"other\"}"), "{\"result\":0}");
    EXPECT_EQ(request("convert", "{\"req\":\"progress\"}"), "{\"progress\":1,\"result\":1}");
    // A cancel with nothing running answers success and changes nothing.
    EXPECT_EQ(request("convert", "{\"req\":\"cancel\"}"), "{\"result\":1}");
    // Type errors: no answer.
    EXPECT_EQ(request("convert", ""), "");
    EXPECT_EQ(request("convert", "{\"path\":5}"), "");
    EXPECT_EQ(request("convert", "{\"path\":null}"), "");
    EXPECT_EQ(request("convert", "{\"path\":\"x\",\"ch\":\"1\"}"), "");
    EXPECT_EQ(request("convert", "{\"req\":1}"), "");
}

TEST_F(IrCommandsTest, UnwritableFolderIsReportedNotFinished) {
    const std::string path = writeWave("ir.wav", FormatRecord{1, 1, 48000, 16},
                                       test::generateImpulseResponse(25, 48000, 1000));
    commands.reset();
    const std::string gone = folder.file("gone/");
    commands = std::make_unique<IrCommands>(gone, [this] { channel.signalDone(0); });
    IrCommands* c = commands.get();
    channel.setHandlers(
        0, {"", [c](const picojson::object& a, picojson::object& r) { return c->convert(a, r); },
            [c](picojson::object& r) { return c->convertDone(r); }});
    EXPECT_EQ(convertFile(path), "{\"result\":1}");
    EXPECT_EQ(completion(), "{\"load\":\"notfound\",\"result\":0}");
}

TEST_F(IrCommandsTest, DestroyingWhileConvertingJoinsTheWorker) {
    const std::string path = writeWave("ir.wav", FormatRecord{3, 1, 44101, 32},
                                       test::generateImpulseResponse(26, 44101, 22050));
    EXPECT_EQ(convertFile(path), "{\"result\":1}");
    ui->close();
    commands.reset();
    EXPECT_FALSE(std::filesystem::exists(folder.file("VLM00000.tmp")));
}

} // namespace
} // namespace kx5
