// The two WAVE readers: acceptance rules, chunk walking, sample conversion.
#include "ir/file_stream.h"
#include "ir/wav_stream.h"
#include "ir/wave_file.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kx5 {
namespace {

using test::Bytes;
using test::chunk;
using test::FormatRecord;

class WavReaders : public ::testing::Test {
  protected:
    std::string put(const Bytes& bytes, const std::string& name = "in.wav") {
        const std::string path = folder.file(name);
        test::writeFile(path, bytes);
        return path;
    }
    bool info(const Bytes& bytes, WavInfo& out) {
        auto file = FileStream::openForReading(put(bytes));
        return file && readWavInfo(*file, out);
    }
    CWaveFile::OpenResult open(const Bytes& bytes, CWaveFile& wave) {
        return wave.open(put(bytes));
    }

    test::TempDir folder;
};

TEST_F(WavReaders, DescribesPlainPcmFile) {
    FormatRecord f{1, 2, 44100, 24};
    WavInfo i;
    ASSERT_TRUE(info(test::simpleWave(f, std::vector<double>(2000, 0.25)), i));
    EXPECT_EQ(i.formatTag, 1);
    EXPECT_EQ(i.channels, 2);
    EXPECT_EQ(i.bitsPerSample, 24u);
    EXPECT_EQ(i.sampleRate, 44100u);
    EXPECT_EQ(i.frames, 1000u);
    EXPECT_EQ(i.tempo, -1.0f);

    CWaveFile wave;
    ASSERT_EQ(open(test::simpleWave(f, std::vector<double>(2000, 0.25)), wave),
              CWaveFile::OpenResult::Opened);
    EXPECT_EQ(wave.frames(), 1000u);
    EXPECT_EQ(wave.sampleRate(), 44100u);
    EXPECT_EQ(wave.channels(), 2);
}

TEST_F(WavReaders, ChunkLayoutsBothReadersAccept) {
    FormatRecord f;
    const Bytes data = chunk("data", test::encodeSamples(f, {0.5, -0.5, 0.25}));
    FormatRecord f18 = f;
    f18.extraBytes = 0; // 18-byte "fmt " chunk
    FormatRecord f20 = f;
    f20.extraBytes = 2;
    const Bytes list = chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'a', 'b', 'c'}, true); // odd, padded
    const Bytes listUnpadded = chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'a', 'b', 'c'});
    const std::vector<Bytes> files = {
        test::riffWave({chunk("fmt ", f18.bytes()), data}),
        test::riffWave({chunk("fmt ", f20.bytes()), data}),
        test::riffWave({chunk("fmt ", f.bytes()), list, data}),
        test::riffWave({chunk("fmt ", f.bytes()), listUnpadded, data}),
        test::riffWave({list, chunk("fmt ", f.bytes()), chunk("junk", Bytes(5, 0), true), data}),
    };
    for (size_t n = 0; n < files.size(); ++n) {
        SCOPED_TRACE(n);
        WavInfo i;
        ASSERT_TRUE(info(files[n], i));
        EXPECT_EQ(i.frames, 3u);
        CWaveFile wave;
        ASSERT_EQ(open(files[n], wave), CWaveFile::OpenResult::Opened);
        double s[3];
        ASSERT_EQ(wave.readSamples(s, 3), 3u);
        EXPECT_EQ(s[0], 0.5);
        EXPECT_EQ(s[1], -0.5);
        EXPECT_EQ(s[2], 0.25);
    }
}

TEST_F(WavReaders, RefusesWhatIsNotCanonicalWave) {
    FormatRecord f;
    const Bytes fmt = chunk("fmt ", f.bytes());
    const Bytes data = chunk("data", test::encodeSamples(f, {0.5}));
    Bytes notWave = test::riffWave({fmt, data});
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    Bytes record = f.bytes();
    record.resize(12);
    const Bytes shortFmt = test::riffWave({chunk("fmt ", record), data});
    const std::vector<Bytes> files = {
        test::riffWave({data, fmt}), // "data" before "fmt "
        test::riffWave({fmt}),       // no "data"
        test::riffWave({data}),      // no "fmt "
        notWave,
        shortFmt,
        Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'},
        Bytes{},
    };
    for (size_t n = 0; n < files.size(); ++n) {
        SCOPED_TRACE(n);
        WavInfo i;
        EXPECT_FALSE(info(files[n], i));
        CWaveFile wave;
        EXPECT_EQ(open(files[n], wave), CWaveFile::OpenResult::Unsupported);
    }
    CWaveFile wave;
    EXPECT_EQ(wave.open(""), CWaveFile::OpenResult::NotFound);
    EXPECT_EQ(wave.open(folder.file("missing.wav")), CWaveFile::OpenResult::Unsupported);
    EXPECT_EQ(wave.open(folder.path()), CWaveFile::OpenResult::Unsupported); // a folder
    const std::string fifo = folder.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(wave.open(fifo), CWaveFile::OpenResult::Unsupported); // and does not block
}

TEST_F(WavReaders, ExtensibleAndOtherFormatsAreDescribedButNotConverted) {
    FormatRecord ext{0xFFFE, 2, 48000, 24};
    ext.extraBytes = 22;
    WavInfo i;
    ASSERT_TRUE(info(test::simpleWave(ext, {0, 0}), i));
    EXPECT_EQ(i.formatTag, 65534);
    CWaveFile wave;
    EXPECT_EQ(open(test::simpleWave(ext, {0, 0}), wave), CWaveFile::OpenResult::Unsupported);
    FormatRecord threeChannels{1, 3, 48000, 16};
    EXPECT_EQ(open(test::simpleWave(threeChannels, {0, 0, 0}), wave),
              CWaveFile::OpenResult::Unsupported);
    // Opened, but 64-bit float and 20-bit PCM convert nothing.
    FormatRecord f64{3, 1, 48000, 64};
    ASSERT_EQ(open(test::riffWave({chunk("fmt ", f64.bytes()), chunk("data", Bytes(16, 0))}), wave),
              CWaveFile::OpenResult::Opened);
    double s[2];
    EXPECT_EQ(wave.readSamples(s, 2), 0u);
    FormatRecord p20{1, 1, 48000, 20};
    p20.blockAlign = 3;
    ASSERT_EQ(open(test::riffWave({chunk("fmt ", p20.bytes()), chunk("data", Bytes(6, 0))}), wave),
              CWaveFile::OpenResult::Opened);
    EXPECT_EQ(wave.readSamples(s, 2), 0u);
}

TEST_F(WavReaders, ConvertsEverySampleFormat) {
    struct Case {
        uint16_t tag, bits;
        Bytes raw;
        std::vector<double> expected;
    };
    const std::vector<Case> cases = {
        {1, 8, {0x80, 0x00, 0xFF, 0x81}, {0.0, -1.0, 0.9921875, 0.0078125}},
        {1, 16, {0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00}, {-1.0, 32767.0 / 32768, 1.0 / 32768}},
        {1,
         24,
         {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF},
         {-1.0, 8388607.0 / 8388608, -1.0 / 8388608}},
        {1, 32, {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}, {-1.0, 2147483647.0 / 2147483648.0}},
        {3, 32, {0, 0, 0xC0, 0x3F, 0, 0, 0, 0xBF}, {1.5, -0.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        FormatRecord f{c.tag, 1, 48000, c.bits};
        CWaveFile wave;
        ASSERT_EQ(open(test::riffWave({chunk("fmt ", f.bytes()), chunk("data", c.raw)}), wave),
                  CWaveFile::OpenResult::Opened);
        ASSERT_EQ(wave.frames(), c.expected.size());
        std::vector<double> s(c.expected.size() + 4, 99.0);
        // Never more than the "data" chunk holds.
        ASSERT_EQ(wave.readSamples(s.data(), uint32_t(s.size())), c.expected.size());
        for (size_t k = 0; k < c.expected.size(); ++k)
            EXPECT_EQ(s[k], c.expected[k]) << k;
        EXPECT_EQ(s[c.expected.size()], 99.0);
    }
}

TEST_F(WavReaders, TruncatedDataAndZeroBlockAlignment) {
    FormatRecord f{1, 2, 48000, 16};
    Bytes file = test::simpleWave(f, std::vector<double>(200, 0.1));
    file.resize(file.size() - 100); // the header still announces 100 frames
    WavInfo i;
    ASSERT_TRUE(info(file, i));
    EXPECT_EQ(i.frames, 100u);
    CWaveFile wave;
    ASSERT_EQ(open(file, wave), CWaveFile::OpenResult::Opened);
    EXPECT_EQ(wave.dataBytesPresent(), 300u);
    std::vector<double> s(200);
    EXPECT_EQ(wave.readSamples(s.data(), 200), 150u);

    FormatRecord zero = f;
    zero.blockAlign = 0;
    ASSERT_TRUE(info(test::simpleWave(zero, {0.1, 0.1}), i));
    EXPECT_EQ(i.frames, 0u);
    ASSERT_EQ(open(test::simpleWave(zero, {0.1, 0.1}), wave), CWaveFile::OpenResult::Opened);
    EXPECT_EQ(wave.frames(), 0u);
}

TEST_F(WavReaders, AcidChunkGivesTempoMeterAndBeats) {
    FormatRecord f;
    const Bytes fmt = chunk("fmt ", f.bytes());
    const Bytes data = chunk("data", test::encodeSamples(f, {0.1, 0.2}));
    WavInfo i;
    ASSERT_TRUE(
        info(test::riffWave({fmt, chunk("acid", test::acidChunkData(120.0f, 4, 4, 8)), data}), i));
    EXPECT_EQ(i.tempo, 120.0f);
    EXPECT_EQ(i.meterDenominator, 4);
    EXPECT_EQ(i.meterNumerator, 4);
    EXPECT_EQ(i.beatCount, 8u);
    EXPECT_EQ(i.frames, 2u);
    // Before "fmt " or after "data" it is found as well.
    ASSERT_TRUE(
        info(test::riffWave({chunk("acid", test::acidChunkData(90.5f, 8, 6, 3)), fmt, data}), i));
    EXPECT_EQ(i.tempo, 90.5f);
    EXPECT_EQ(i.meterNumerator, 6);
    ASSERT_TRUE(
        info(test::riffWave({fmt, data, chunk("acid", test::acidChunkData(60.0f, 4, 3, 1))}), i));
    EXPECT_EQ(i.tempo, 60.0f);
    // Shorter than 24 bytes: no tempo.
    Bytes shortAcid = test::acidChunkData(120.0f, 4, 4, 8);
    shortAcid.resize(20);
    ASSERT_TRUE(info(test::riffWave({fmt, chunk("acid", shortAcid), data}), i));
    EXPECT_EQ(i.tempo, -1.0f);
}

TEST_F(WavReaders, HugeChunkSizesNeitherLoopNorReadOutside) {
    FormatRecord f;
    // A chunk whose size field would turn negative as a signed 32-bit skip.
    Bytes junk{'j', 'u', 'n', 'k'};
    test::putLe(junk, 0xFFFFFFF8u, 4);
    const Bytes file = test::riffWave({chunk("fmt ", f.bytes()), junk});
    WavInfo i;
    EXPECT_FALSE(info(file, i));
    CWaveFile wave;
    EXPECT_EQ(open(file, wave), CWaveFile::OpenResult::Unsupported);
    // A "data" chunk announcing far more than the file holds reads what is there.
    Bytes bigData{'d', 'a', 't', 'a'};
    test::putLe(bigData, 0xFFFFFFF0u, 4);
    test::putLe(bigData, 0x4000, 2);
    ASSERT_EQ(open(test::riffWave({chunk("fmt ", f.bytes()), bigData}), wave),
              CWaveFile::OpenResult::Opened);
    EXPECT_EQ(wave.dataBytesPresent(), 2u);
    std::vector<double> s(8);
    EXPECT_EQ(wave.readSamples(s.data(), 8), 1u);
    EXPECT_EQ(s[0], 0.5);
}

TEST_F(WavReaders, WrittenFilesReadBack) {
    const std::string path = folder.file("out.wav");
    WaveFormat f;
    f.tag = 1;
    f.channels = 1;
    f.sampleRate = 22050;
    f.avgBytesPerSec = 44100;
    f.blockAlign = 2;
    f.bitsPerSample = 16;
    {
        auto file = FileStream::createForWriting(path);
        ASSERT_TRUE(file);
        WavStream wav(*file);
        ASSERT_TRUE(wav.openWrite(f));
        const unsigned char samples[6] = {0x00, 0x40, 0x00, 0xC0, 0x01, 0x00};
        ASSERT_EQ(wav.write(samples, 6), 6u);
        EXPECT_FALSE(wav.openWrite(f)); // already open
    }
    const Bytes bytes = test::readFile(path);
    ASSERT_EQ(bytes.size(), 12u + 24u + 8u + 6u);
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 4 + 24 + 8 + 6); // RIFF size patched
    EXPECT_EQ(bytes[40] | bytes[41] << 8, 6);            // data size patched
    CWaveFile wave;
    ASSERT_EQ(wave.open(path), CWaveFile::OpenResult::Opened);
    EXPECT_EQ(wave.sampleRate(), 22050u);
    double s[3];
    ASSERT_EQ(wave.readSamples(s, 3), 3u);
    EXPECT_EQ(s[0], 0.5);
    EXPECT_EQ(s[1], -0.5);
    EXPECT_EQ(s[2], 1.0 / 32768);
}

} // namespace
} // namespace kx5
