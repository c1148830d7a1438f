// Helpers of the audio tests: hand-made WAVE files, a
// bridge registry without a window, and event waiting.
#pragma once

#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue.h"
#include "tests/support/event_text.h"
#include "tests/support/inline_ui_queue.h"
#include "tests/support/temp_dir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx5::test {

struct WaveSpec {
    uint16_t tag = 1;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    bool extensible = false;
};

// Writes a RIFF WAVE with the given raw data, independent of the code
// under test.
void writeWave(const std::string& path, const WaveSpec& format, const std::vector<uint8_t>& data);
// 16-bit interleaved samples to raw bytes and back.
std::vector<uint8_t> pcm16(const std::vector<int16_t>& samples);
std::vector<int16_t> samples16(const std::vector<uint8_t>& bytes);
// frames x channels of a sine (channel c at frequency base * (c + 1)).
std::vector<int16_t> sine16(size_t frames, int channels, uint32_t rate, double base = 440,
                            double amplitude = 0.5);

struct ParsedWave {
    bool ok = false;
    uint16_t tag = 0, channels = 0, blockAlign = 0, bits = 0;
    uint32_t rate = 0, byteRate = 0;
    uint32_t formatSize = 0;
    std::vector<uint8_t> data;
};
ParsedWave readWave(const std::string& path);

class CollectingInterface final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}
};

// A registry with its event queue; events are pulled with nextEvent.
struct TestBridge {
    TestBridge();
    ~TestBridge();
    // The next event, or "" when none arrived within the wait.
    std::string nextEvent(std::chrono::milliseconds wait = std::chrono::seconds(20));
    // Events until one starts with prefix (included), or all until the wait ends.
    std::vector<std::string> eventsUntil(const std::string& prefix,
                                         std::chrono::milliseconds wait = std::chrono::seconds(20));

    TempDir temp;
    AppPaths paths;
    InlineUiQueue ui;
    CollectingInterface js{ui};
    std::unique_ptr<NativeObjects> objects;
};

// A FIFO that no one writes to, and a call that opens it: the call's answer
// when it came within a few seconds, nullopt when it blocked (it is then set
// free by a writer that opens and closes the FIFO, so a test never hangs).
struct Fifo {
    explicit Fifo(std::string path);
    ~Fifo();
    std::optional<std::string> answerOf(const std::function<std::string()>& call);
    std::string path;
};

} // namespace kx5::test
