#include "tests/support/console_process.h"

#include "tests/net/support/event_sink.h"

#include <picojson.h>

#include <chrono>
#include <filesystem>

#ifndef KX5_EDITOR_PATH
#error "KX5_EDITOR_PATH must name the program"
#endif

namespace kx5::test {

ConsoleProcess::ConsoleProcess(const std::vector<std::string>& options,
                               const std::vector<std::string>& prefix,
                               const std::vector<std::string>& environment) {
    std::vector<std::string> argv = prefix;
    argv.push_back(KX5_EDITOR_PATH);
    argv.push_back("--console");
    argv.insert(argv.end(), options.begin(), options.end());
    const std::string h = home_.path();
    std::filesystem::create_directories(h + "tmp");
    std::filesystem::create_directories(h + "runtime");
    std::filesystem::permissions(h + "runtime", std::filesystem::perms::owner_all);
    std::vector<std::string> env = {"HOME=" + h,
                                    "XDG_CONFIG_HOME=" + h + "config",
                                    "XDG_DATA_HOME=" + h + "data",
                                    "XDG_CACHE_HOME=" + h + "cache",
                                    "XDG_RUNTIME_DIR=" + h + "runtime",
                                    "TMPDIR=" + h + "tmp",
                                    "no_proxy=*",
                                    "NO_PROXY=*"};
    env.insert(env.end(), environment.begin(), environment.end());
    process_ = std::make_unique<ChildProcess>(argv, env);
}

std::string ConsoleProcess::readResult() {
    while (auto line = process_->readLine(30000)) {
        picojson::value v;
        if (!picojson::parse(v, *line).empty() || !v.is<picojson::object>()) {
            stray_.push_back(*line);
            continue;
        }
        const auto& o = v.get<picojson::object>();
        if (auto e = o.find("e"); e != o.end() && e->second.is<std::string>())
            events_.push_back(e->second.get<std::string>());
        else if (auto r = o.find("r"); r != o.end() && r->second.is<std::string>())
            return r->second.get<std::string>();
        else
            stray_.push_back(*line);
    }
    return {};
}

std::string ConsoleProcess::call(const std::vector<std::string>& callAndArgs) {
    picojson::array a;
    for (const auto& s : callAndArgs)
        a.emplace_back(s);
    process_->writeLine(picojson::value(a).serialize());
    return readResult();
}

std::optional<std::vector<std::string>> ConsoleProcess::waitForEvent(const std::string& prefix,
                                                                     int limitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        taken_.resize(events_.size(), false);
        for (size_t i = 0; i < events_.size(); ++i) {
            if (taken_[i] || events_[i].rfind(prefix, 0) != 0) continue;
            taken_[i] = true;
            return eventFields(events_[i]);
        }
        if (std::chrono::steady_clock::now() >= end || !started()) return std::nullopt;
        // A wait prints no result; the call after it marks where its events end.
        process_->writeLine("[\"wait\",50]");
        if (call({"$$notification_badge"}).empty()) return std::nullopt;
    }
}

std::optional<int> ConsoleProcess::finish() {
    process_->closeInput();
    while (auto line = process_->readLine(30000)) {
        picojson::value v;
        if (picojson::parse(v, *line).empty() && v.is<picojson::object>() &&
            v.get<picojson::object>().count("e"))
            events_.push_back(v.get<picojson::object>().at("e").get<std::string>());
    }
    return process_->wait(30000);
}

} // namespace kx5::test
