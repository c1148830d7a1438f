// What the library tests share: WAV files with known sounds written into a
// temporary tree, and an IrLibrary whose events are collected.
#pragma once

#include "library/ir_library.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kx5::test {

// The impulse response of a second-order low-pass (or high-pass) filter.
inline std::vector<double> filterResponse(double cutoffHz, uint32_t rate, size_t frames,
                                          bool highPass = false, double gain = 0.8) {
    const double w = 2.0 * M_PI * cutoffHz / rate;
    const double alpha = std::sin(w) / (2.0 * M_SQRT1_2);
    const double c = std::cos(w);
    const double b1 = highPass ? -(1.0 + c) : 1.0 - c;
    const double b0 = highPass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
    const double a0 = 1.0 + alpha, a1 = -2.0 * c, a2 = 1.0 - alpha;
    std::vector<double> out(frames);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double x = i == 0 ? gain : 0.0;
        const double y = (b0 * x + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2) / a0;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        out[i] = y;
    }
    return out;
}

inline FormatRecord pcm(uint32_t rate, uint16_t bits = 24, uint16_t channels = 1) {
    FormatRecord f;
    f.rate = rate;
    f.bits = bits;
    f.channels = channels;
    return f;
}

// Mono samples repeated on every channel of the record.
inline void writeIr(const std::string& path, const FormatRecord& f,
                    const std::vector<double>& mono) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::vector<double> interleaved;
    for (double v : mono)
        for (int c = 0; c < f.channels; ++c)
            interleaved.push_back(v);
    writeFile(path, simpleWave(f, interleaved));
}

inline picojson::value parseJson(const std::string& text) {
    picojson::value v;
    const std::string err = picojson::parse(v, text);
    EXPECT_TRUE(err.empty()) << err << " in " << text;
    return v;
}

// Events of one library, as the sink receives them (any thread).
class EventLog {
  public:
    IrLibrary::EventSink sink() {
        return [this](std::vector<std::string> fields) {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(fields));
            changed_.notify_all();
        };
    }
    // Waits for the n-th (1-based) event of this type; a minute means a hang.
    std::vector<std::string> waitFor(const std::string& type, size_t n = 1) {
        std::unique_lock lock(mutex_);
        std::vector<std::string> found;
        changed_.wait_for(lock, std::chrono::minutes(1), [&] {
            size_t seen = 0;
            for (const auto& e : events_)
                if (e[0] == type && ++seen == n) {
                    found = e;
                    return true;
                }
            return false;
        });
        return found;
    }
    size_t count(const std::string& type) {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& e : events_)
            n += e[0] == type;
        return n;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::string>> events_;
};

class LibraryTest : public ::testing::Test {
  protected:
    std::string files() const { return home.path() + "irs"; }
    std::string dataFolder() const { return home.path() + "data/library/"; }

    void openLibrary(ScanOptions options = {}) {
        library.reset();
        events = std::make_unique<EventLog>();
        library = std::make_unique<IrLibrary>(dataFolder(), events->sink(), options);
    }

    // Waits for the n-th "scanned" event and returns its summary.
    picojson::object scanned(size_t n = 1) {
        const auto e = events->waitFor("scanned", n);
        if (e.size() < 2) {
            ADD_FAILURE() << "no scan ended";
            return {};
        }
        return parseJson(e[1]).get<picojson::object>();
    }

    picojson::object search(const std::string& query) {
        return parseJson(library->search(SearchQuery::fromJson(query))).get<picojson::object>();
    }

    // The names of the rows a search answers, in order.
    std::vector<std::string> names(const std::string& query) {
        std::vector<std::string> out;
        const picojson::object result = search(query);
        for (const auto& row : result.at("rows").get<picojson::array>())
            out.push_back(row.get("name").get<std::string>());
        return out;
    }

    TempDir home;
    std::unique_ptr<EventLog> events;
    std::unique_ptr<IrLibrary> library;
};

inline int number(const picojson::object& o, const std::string& key) {
    auto it = o.find(key);
    return it == o.end() || !it->second.is<double>() ? -1 : int(it->second.get<double>());
}

} // namespace kx5::test
