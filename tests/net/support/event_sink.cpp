#include "tests/net/support/event_sink.h"

#include <thread>

namespace kx5::test {

void EventSink::drain() {
    for (std::string t = pullEvent(); !t.empty(); t = pullEvent())
        seen_.push_back(std::move(t));
}

const std::vector<std::string>& EventSink::seen() {
    drain();
    return seen_;
}

std::vector<std::vector<std::string>> EventSink::all(const std::string& prefix) {
    drain();
    std::vector<std::vector<std::string>> out;
    for (const auto& t : seen_)
        if (t.rfind(prefix, 0) == 0) out.push_back(eventFields(t));
    return out;
}

std::optional<std::vector<std::string>> EventSink::waitFor(const std::string& prefix,
                                                           std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        drain();
        taken_.resize(seen_.size(), false);
        for (size_t i = 0; i < seen_.size(); ++i) {
            if (taken_[i] || seen_[i].rfind(prefix, 0) != 0) continue;
            taken_[i] = true;
            return eventFields(seen_[i]);
        }
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace kx5::test
