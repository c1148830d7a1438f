// The "audio" module's file calls through the bridge: format, convert,
// split and reverse, with their events and the files they leave.
#include "audio/modules/native_call_audio.h"
#include "audio_test_support.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace kx5;
using namespace kx5::test;

namespace {

struct AudioModule : ::testing::Test {
    TestBridge bridge;
    NativeCall_audio module{bridge.objects.get()};
    TempDir files;

    std::string call(const std::string& fn, Args args) { return module.call(fn, args); }

    picojson::object format(const std::string& path) {
        const std::string r = call("format", {path});
        EXPECT_EQ(r[0], 's');
        picojson::value v;
        picojson::parse(v, r.substr(1));
        return v.get<picojson::object>();
    }

    // Runs a worker call and answers its one event.
    std::vector<std::string> runWorker(const std::string& fn, const Args& args) {
        EXPECT_EQ(call(fn, args), "v");
        const std::string e = bridge.nextEvent(std::chrono::seconds(60));
        EXPECT_EQ(bridge.nextEvent(std::chrono::milliseconds(50)), "");
        return eventFields(e);
    }

    std::vector<std::string> convert(const std::string& in, const std::string& out,
                                     const std::string& fmt, int channels, int rate, int bits,
                                     int bitrate = 128000) {
        picojson::object o;
        o["file"] = picojson::value(out);
        o["format"] = picojson::value(fmt);
        o["channels"] = picojson::value(double(channels));
        o["samplerate"] = picojson::value(double(rate));
        o["bitdepth"] = picojson::value(double(bits));
        o["bitrate"] = picojson::value(double(bitrate));
        return runWorker("convert", {in, picojson::value(o).serialize()});
    }

    std::string stereoWave(const std::string& name, size_t frames) {
        const std::string path = files.file(name);
        writeWave(path, {}, pcm16(sine16(frames, 2, 44100)));
        return path;
    }
};

std::string jsonList(std::initializer_list<std::string> items) {
    picojson::array a;
    for (const auto& s : items)
        a.emplace_back(s);
    return picojson::value(a).serialize();
}

} // namespace

TEST_F(AudioModule, FormatReportsPcmFloatExtensibleAndOtherTags) {
    const std::string pcm = stereoWave("pcm.wav", 22050);
    EXPECT_EQ(call("format", {pcm}), "s{\"bitdepth\":16,\"bitrate\":1411200,\"channels\":2,"
                                     "\"duration\":0.5,\"format\":\"PCM\",\"samplerate\":44100}");

    const std::string flt = files.file("float.wav");
    writeWave(flt, {3, 1, 48000, 32, false}, std::vector<uint8_t>(4 * 4800, 0));
    auto f = format(flt);
    EXPECT_EQ(f["format"].to_str(), "PCM");
    EXPECT_EQ(f["bitdepth"].get<double>(), 0);
    EXPECT_EQ(f["bitrate"].get<double>(), 48000 * 4 * 8);
    EXPECT_NEAR(f["duration"].get<double>(), 0.1, 1e-6);

    const std::string ext24 = files.file("ext24.wav");
    writeWave(ext24, {1, 2, 44100, 24, true}, std::vector<uint8_t>(6 * 441, 0));
    f = format(ext24);
    EXPECT_EQ(f["format"].to_str(), "PCM");
    EXPECT_EQ(f["bitdepth"].get<double>(), 24);

    const std::string extFloat = files.file("extfloat.wav");
    writeWave(extFloat, {3, 2, 44100, 32, true}, std::vector<uint8_t>(8 * 441, 0));
    f = format(extFloat);
    EXPECT_EQ(f["format"].to_str(), "PCM");
    EXPECT_EQ(f["bitdepth"].get<double>(), 0);

    const std::string alaw = files.file("alaw.wav");
    writeWave(alaw, {6, 1, 8000, 8, false}, std::vector<uint8_t>(800, 0xD5));
    EXPECT_EQ(format(alaw)["format"].to_str(), "0x0006");
}

TEST_F(AudioModule, FormatOfUnreadableFilesAnswersErrorWithZeros) {
    const std::string answer = "s{\"bitdepth\":0,\"bitrate\":0,\"channels\":0,\"duration\":0,"
                               "\"format\":\"error\",\"samplerate\":0}";
    EXPECT_EQ(call("format", {files.file("missing.wav")}), answer);
    const std::string text = files.file("notes.wav");
    std::ofstream(text) << "just some text, not audio at all\n";
    EXPECT_EQ(call("format", {text}), answer);
    // A missing argument is refused as every module refuses one.
    EXPECT_EQ(call("format", {}), "eInvalid argument");
}

TEST_F(AudioModule, FormatOfAnythingButARegularFileAnswersErrorAtOnce) {
    const std::string answer = "s{\"bitdepth\":0,\"bitrate\":0,\"channels\":0,\"duration\":0,"
                               "\"format\":\"error\",\"samplerate\":0}";
    Fifo fifo(files.file("pipe.wav"));
    ASSERT_FALSE(fifo.path.empty());
    EXPECT_EQ(fifo.answerOf([&] { return call("format", {fifo.path}); }), answer);
    // A device that never ends and a folder.
    EXPECT_EQ(fifo.answerOf([&] { return call("format", {"/dev/zero"}); }), answer);
    std::filesystem::create_directory(files.file("folder.wav"));
    EXPECT_EQ(call("format", {files.file("folder.wav")}), answer);
}

TEST_F(AudioModule, ConvertRoundTripsThroughMp3AndM4a) {
    const std::string wav = stereoWave("in.wav", 44100); // 1 s
    const std::string mp3 = files.file("out.mp3");
    auto e = convert(wav, mp3, "mp3", 2, 44100, 16, 192000);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0], "audio");
    EXPECT_EQ(e[1], "converted");
    EXPECT_EQ(e[2], wav);
    EXPECT_EQ(e[3], jsonList({mp3}));
    auto f = format(mp3);
    EXPECT_EQ(f["format"].to_str(), "MP3");
    EXPECT_EQ(f["channels"].get<double>(), 2);
    EXPECT_EQ(f["samplerate"].get<double>(), 44100);
    EXPECT_NEAR(f["bitrate"].get<double>(), 192000, 8000);
    EXPECT_NEAR(f["duration"].get<double>(), 1.0, 0.1);

    const std::string m4a = files.file("out.m4a");
    e = convert(mp3, m4a, "m4a", 1, 48000, 16, 96000);
    EXPECT_EQ(e[1], "converted");
    f = format(m4a);
    EXPECT_EQ(f["format"].to_str(), "AAC");
    EXPECT_EQ(f["channels"].get<double>(), 1);
    EXPECT_EQ(f["samplerate"].get<double>(), 48000);
    EXPECT_NEAR(f["duration"].get<double>(), 1.0, 0.1);

    const std::string back = files.file("back.wav");
    e = convert(m4a, back, "wav", 2, 22050, 24);
    EXPECT_EQ(e[1], "converted");
    const ParsedWave w = readWave(back);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.tag, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 22050u);
    EXPECT_EQ(w.bits, 24);
    EXPECT_EQ(w.blockAlign, 6);
    EXPECT_EQ(w.formatSize, 18u);
    EXPECT_NEAR(double(w.data.size()) / 6 / 22050, 1.0, 0.1);
}

TEST_F(AudioModule, ConvertToFloatWaveInPlaceKeepsTheSignal) {
    const std::string wav = files.file("tone.wav");
    const auto tone = sine16(4410, 1, 44100, 1000, 0.5);
    writeWave(wav, {1, 1, 44100, 16, false}, pcm16(tone));
    const auto e = convert(wav, wav, "wav", 1, 44100, 0);
    EXPECT_EQ(e[1], "converted");
    const ParsedWave w = readWave(wav);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.tag, 3);
    EXPECT_EQ(w.bits, 32);
    ASSERT_EQ(w.data.size(), tone.size() * 4);
    const float* samples = reinterpret_cast<const float*>(w.data.data());
    for (size_t i = 0; i < tone.size(); i += 97)
        EXPECT_NEAR(samples[i], tone[i] / 32768.0, 1e-4);
    EXPECT_EQ(files.entries(), std::vector<std::string>{"tone.wav"});
}

TEST_F(AudioModule, FailedConversionsReportOnceAndLeaveNoOrOldFiles) {
    const std::string wav = stereoWave("in.wav", 4410);
    auto e = convert(wav, files.file("out.ogg"), "ogg", 2, 44100, 16);
    EXPECT_EQ(e, (std::vector<std::string>{"audio", "convertfailed", wav}));

    // An existing output survives a conversion that fails.
    const std::string keep = files.file("keep.wav");
    std::ofstream(keep) << "precious";
    e = convert(files.file("missing.wav"), keep, "wav", 2, 44100, 16);
    EXPECT_EQ(e[1], "convertfailed");
    EXPECT_EQ(std::filesystem::file_size(keep), 8u);
    e = convert(wav, keep, "wav", 0, 44100, 16);
    EXPECT_EQ(e[1], "convertfailed");
    EXPECT_EQ(std::filesystem::file_size(keep), 8u);
    EXPECT_EQ(files.entries(), (std::vector<std::string>{"in.wav", "keep.wav"}));
}

TEST_F(AudioModule, MalformedConvertDescriptionsFailTheCallAndStartNothing) {
    const std::string wav = stereoWave("in.wav", 441);
    for (
        const std::string& bad :
        {std::string("not json"), std::string("[1,2]"),
         std::string(
             R"({"file":"x.wav","format":"wav","channels":2,"samplerate":44100,"bitdepth":16})"),
         std::string(
             R"({"file":"x.wav","format":"wav","channels":"2","samplerate":44100,"bitdepth":16,"bitrate":0})")}) {
        EXPECT_EQ(call("convert", {wav, bad}), "esystem exception") << bad;
    }
    EXPECT_TRUE(bridge.objects->workerThreads.empty());
    EXPECT_EQ(bridge.nextEvent(std::chrono::milliseconds(50)), "");
}

TEST_F(AudioModule, SplitSpreadsSixChannelsOverThreeTwoAndFourOutputs) {
    const size_t frames = 20000; // more than one block
    std::vector<int16_t> samples(frames * 6);
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < 6; ++c)
            samples[f * 6 + c] = static_cast<int16_t>(c * 1000 + f % 997);
    const std::string in = files.file("six.wav");
    writeWave(in, {1, 6, 48000, 16, false}, pcm16(samples));

    auto check = [&](size_t outputs, int perOutput) {
        std::vector<std::string> paths;
        picojson::array list;
        for (size_t j = 0; j < outputs; ++j) {
            paths.push_back(
                files.file("split" + std::to_string(outputs) + "_" + std::to_string(j) + ".wav"));
            list.emplace_back(paths.back());
        }
        const std::string listText = picojson::value(list).serialize();
        const auto e = runWorker("split", {in, listText});
        ASSERT_EQ(e, (std::vector<std::string>{"audio", "converted", in, listText}));
        for (size_t j = 0; j < outputs; ++j) {
            const ParsedWave w = readWave(paths[j]);
            ASSERT_TRUE(w.ok);
            EXPECT_EQ(w.channels, perOutput);
            EXPECT_EQ(w.rate, 48000u);
            EXPECT_EQ(w.blockAlign, 2 * perOutput);
            EXPECT_EQ(w.byteRate, 48000u * 2 * perOutput);
            const auto got = samples16(w.data);
            ASSERT_EQ(got.size(), frames * perOutput);
            for (size_t f = 0; f < frames; f += 331)
                for (int c = 0; c < perOutput; ++c)
                    EXPECT_EQ(got[f * perOutput + c], samples[f * 6 + j * perOutput + c]);
        }
    };
    check(3, 2);
    check(2, 2); // three channels each, at most two kept
    check(4, 1);
}

TEST_F(AudioModule, SplitThatCannotWorkLeavesNoFiles) {
    const std::string in = stereoWave("stereo.wav", 441);
    const std::string list =
        jsonList({files.file("a.wav"), files.file("b.wav"), files.file("c.wav")});
    EXPECT_EQ(runWorker("split", {in, list}),
              (std::vector<std::string>{"audio", "convertfailed", in}));
    EXPECT_EQ(runWorker("split", {in, "{\"not\":\"a list\"}"})[1], "convertfailed");
    EXPECT_EQ(runWorker("split", {in, "[1]"})[1], "convertfailed");
    EXPECT_EQ(runWorker("split", {in, "[]"})[1], "convertfailed");
    EXPECT_EQ(files.entries(), std::vector<std::string>{"stereo.wav"});
}

TEST_F(AudioModule, SplitOfCompressedInputGoesThrough16BitPcm) {
    const std::string wav = stereoWave("in.wav", 22050);
    const std::string mp3 = files.file("in.mp3");
    ASSERT_EQ(convert(wav, mp3, "mp3", 2, 44100, 16)[1], "converted");
    const std::string l = files.file("l.wav"), r = files.file("r.wav");
    EXPECT_EQ(runWorker("split", {mp3, jsonList({l, r})})[1], "converted");
    for (const auto& p : {l, r}) {
        const ParsedWave w = readWave(p);
        ASSERT_TRUE(w.ok);
        EXPECT_EQ(w.tag, 1);
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.channels, 1);
        EXPECT_NEAR(double(w.data.size()) / 2 / 44100, 0.5, 0.1);
    }
    // The intermediate WAVE lived in the temporary folder and is gone.
    for (const auto& name : bridge.temp.entries())
        EXPECT_NE(name.rfind("___", 0), 0u) << name;
}

TEST_F(AudioModule, ReverseIsSampleExactAcrossBlocksAndForEmptyData) {
    const size_t frames = 16384 * 2 + 123;
    std::vector<uint8_t> data(frames * 9); // 24-bit, three channels
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 9);
    const std::string in = files.file("in.wav");
    writeWave(in, {1, 3, 44100, 24, false}, data);
    const std::string out = files.file("out.wav");
    EXPECT_EQ(runWorker("reverse", {in, out}),
              (std::vector<std::string>{"audio", "converted", in, jsonList({out})}));
    const ParsedWave w = readWave(out);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.channels, 3);
    EXPECT_EQ(w.bits, 24);
    ASSERT_EQ(w.data.size(), data.size());
    for (size_t f = 0; f < frames; ++f)
        ASSERT_EQ(0, std::memcmp(&w.data[f * 9], &data[(frames - 1 - f) * 9], 9)) << f;

    const std::string empty = files.file("empty.wav");
    writeWave(empty, {}, {});
    const std::string emptyOut = files.file("empty_out.wav");
    EXPECT_EQ(runWorker("reverse", {empty, emptyOut})[1], "converted");
    const ParsedWave e = readWave(emptyOut);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.channels, 2);
    EXPECT_TRUE(e.data.empty());

    EXPECT_EQ(runWorker("reverse", {files.file("missing.wav"), files.file("x.wav")}),
              (std::vector<std::string>{"audio", "convertfailed", files.file("missing.wav")}));
    EXPECT_FALSE(std::filesystem::exists(files.file("x.wav")));
    EXPECT_TRUE(bridge.temp.entries().empty());
}
