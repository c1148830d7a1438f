#include "ir/ir_commands.h"

#include "ir/coefficient_file.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"
#include "ir/wav_statistics.h"

#include <system_error>

namespace kx5 {
namespace {

const picojson::value& member(const picojson::object& o, const char* key) {
    static const picojson::value null;
    const auto it = o.find(key);
    return it == o.end() ? null : it->second;
}

void answerLoad(picojson::object& result, const char* text) {
    result["load"] = picojson::value(std::string(text));
}

} // namespace

IrCommands::IrCommands(std::string tempFolder, std::function<void()> signalDone)
    : tempFolder_(std::move(tempFolder)), signalDone_(std::move(signalDone)),
      state_(std::make_unique<ConversionState>()) {}

IrCommands::~IrCommands() {
    shuttingDown_ = true;
    state_->cancelRequested = 1;
    if (worker_.joinable()) worker_.join();
}

bool IrCommands::convert(const picojson::object& args, picojson::object& result) {
    const picojson::value& path = member(args, "path");
    if (!path.is<picojson::null>()) {
        const std::string& file = path.get<std::string>();
        int channel = 0;
        if (args.count("ch")) {
            // Truncation toward zero; only [1, 2) selects the second channel.
            const double ch = args.at("ch").get<double>();
            channel = (ch >= 1.0 && ch < 2.0) ? 1 : 0;
        }
        return start(file, channel, result);
    }
    const std::string& req = member(args, "req").get<std::string>();
    if (req == "cancel") {
        state_->cancelRequested = 1;
        return true;
    }
    if (req == "progress") {
        result["progress"] = picojson::value(double(pollProgress(*state_)));
        return true;
    }
    return false;
}

bool IrCommands::start(const std::string& path, int channel, picojson::object& result) {
    // The state is single: a second start while one runs is refused.
    if (running_) {
        answerLoad(result, "busy");
        return false;
    }
    if (worker_.joinable()) worker_.join();
    ConversionState& s = *state_;
    s.cancelRequested = 0;
    switch (loadConversionSource(path, channel, s)) {
    case LoadResult::NotFound:
        answerLoad(result, "notfound");
        return false;
    case LoadResult::Unsupported:
        answerLoad(result, "unsupported");
        return false;
    case LoadResult::Loaded:
        break;
    }
    s.progress = 0;
    s.stageCount = 0;
    s.stage = 0;
    result_ = Result::None;
    try {
        worker_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        answerLoad(result, "unsupported");
        return false;
    }
    running_ = true;
    return true;
}

void IrCommands::work() {
    ConversionState& s = *state_;
    Result r = Result::Unusable;
    switch (runConversion(s, shuttingDown_)) {
    case ConversionOutcome::Cancelled:
        r = Result::Cancelled;
        break;
    case ConversionOutcome::Unusable:
        r = Result::Unusable;
        break;
    case ConversionOutcome::Converted:
        if (s.cancelRequested == 1)
            r = Result::Cancelled;
        else if (!tempFolder_.empty() && writeCoefficientFile(outputPath(), coefficientValues(s)))
            r = Result::Written;
        else
            r = Result::WriteFailed;
        break;
    }
    result_ = r;
    if (!shuttingDown_ && signalDone_) signalDone_();
}

bool IrCommands::convertDone(picojson::object& result) {
    running_ = false;
    // A cancel that came after the file was written still answers "aborted".
    if (state_->cancelRequested == 1 || result_ == Result::Cancelled) {
        result["cancel"] = picojson::value(std::string("aborted"));
        return true;
    }
    switch (result_.load()) {
    case Result::Written:
        answerLoad(result, "finished");
        result["path"] = picojson::value(outputPath());
        return true;
    case Result::WriteFailed:
        // The page shows its file-error dialog, as for a failed read.
        answerLoad(result, "notfound");
        return false;
    default:
        answerLoad(result, "unsupported");
        return false;
    }
}

bool IrCommands::wavstat(const picojson::object& args, picojson::object& result) {
    return wavStatistics(args, result);
}

} // namespace kx5
