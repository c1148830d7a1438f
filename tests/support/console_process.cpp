#include "tests/support/console_process.h"

#include "tests/support/event_text.h"

#include <picojson.h>

#include <chrono>

namespace kx5::test {
namespace {

// The value of a {"key":"text"} line under key; nothing for other lines.
std::optional<std::string> member(const picojson::value& v, const char* key) {
    const auto& o = v.get<picojson::object>();
    auto it = o.find(key);
    if (it == o.end() || !it->second.is<std::string>()) return std::nullopt;
    return it->second.get<std::string>();
}

std::optional<picojson::value> objectLine(const std::string& line) {
    picojson::value v;
    if (!picojson::parse(v, line).empty() || !v.is<picojson::object>()) return std::nullopt;
    return v;
}

} // namespace

std::string callLine(const std::vector<std::string>& callAndArgs) {
    picojson::array a;
    for (const auto& s : callAndArgs)
        a.emplace_back(s);
    return picojson::value(a).serialize();
}

ConsoleProcess::ConsoleProcess(const std::string& executable, const ConsoleOptions& options) {
    if (options.home.empty()) {
        ownHome_ = std::make_unique<TempDir>();
        home_ = ownHome_->path();
    } else {
        home_ = options.home.back() == '/' ? options.home : options.home + "/";
    }
    std::map<std::string, std::string> env = privateHomeEnvironment(home_);
    // Local test servers are reached directly.
    env["no_proxy"] = env["NO_PROXY"] = "*";
    for (const auto& [k, v] : options.env)
        env[k] = v;
    std::vector<std::string> argv = options.prefix;
    argv.push_back(executable);
    argv.push_back("--console");
    argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
    process_ = std::make_unique<ChildProcess>(argv, env);
}

std::string ConsoleProcess::readResult() {
    std::string line;
    while (process_->readLine(line, 60000)) {
        const auto v = objectLine(line);
        if (!v) {
            stray_.push_back(line);
        } else if (auto e = member(*v, "e")) {
            events_.push_back(*e);
        } else if (auto r = member(*v, "r")) {
            return *r;
        } else {
            stray_.push_back(line);
        }
    }
    return {};
}

std::string ConsoleProcess::call(const std::vector<std::string>& callAndArgs) {
    if (!process_->writeLine(callLine(callAndArgs))) return {};
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

std::vector<std::string> ConsoleProcess::eventsUntil(const std::string& prefix, int limitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::vector<std::string> seen;
    for (;;) {
        while (firstUntaken_ < events_.size()) {
            seen.push_back(events_[firstUntaken_++]);
            if (seen.back().rfind(prefix, 0) == 0) return seen;
        }
        if (std::chrono::steady_clock::now() >= end || !started()) return seen;
        process_->writeLine("[\"wait\",50]");
        if (call({"$$notification_badge"}).empty()) return seen;
    }
}

std::optional<int> ConsoleProcess::finish(std::vector<std::string>* rest) {
    process_->closeInput();
    std::string line;
    while (process_->readLine(line, 60000)) {
        if (rest) rest->push_back(line);
        const auto v = objectLine(line);
        if (v) {
            if (auto e = member(*v, "e")) events_.push_back(*e);
        }
    }
    return process_->waitExit(30000);
}

ConsoleRun runConsole(const std::string& executable, const std::vector<std::string>& input,
                      const ConsoleOptions& options) {
    ConsoleProcess console(executable, options);
    for (const auto& line : input)
        if (!console.send(line)) break;
    ConsoleRun run;
    run.exitCode = console.finish(&run.lines).value_or(-1);
    return run;
}

std::vector<std::string> valuesOf(const ConsoleRun& run, const std::string& key) {
    std::vector<std::string> values;
    for (const auto& line : run.lines) {
        const auto v = objectLine(line);
        if (!v) continue;
        if (auto value = member(*v, key.c_str())) values.push_back(*value);
    }
    return values;
}

} // namespace kx5::test
