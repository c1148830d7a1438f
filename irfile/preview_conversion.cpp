#include "irfile/preview_conversion.h"

#include "ir/coefficient_file.h"
#include "ir/conversion_state.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"

#include <memory>

namespace kx5 {

PreviewConversions::PreviewConversions(std::string tempFolder, Done done)
    : tempFolder_(std::move(tempFolder)), done_(std::move(done)) {}

PreviewConversions::~PreviewConversions() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.reset();
    }
    abandon_ = true;
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

uint64_t PreviewConversions::request(const std::string& path, int channel) {
    std::lock_guard lock(mutex_);
    pending_ = Job{path, channel == 1 ? 1 : 0, ++requests_};
    // The one running is for a file no longer shown.
    abandon_ = true;
    if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    wake_.notify_all();
    return requests_;
}

void PreviewConversions::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
            if (stopping_) return;
            job = std::move(*pending_);
            pending_.reset();
            abandon_ = false;
        }
        const Result r = convert(job);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        if (done_) done_(r);
    }
}

PreviewConversions::Result PreviewConversions::convert(const Job& job) {
    Result r{job.path, job.channel, job.number, false, {}, {}};
    auto state = std::make_unique<ConversionState>();
    switch (loadConversionSource(job.path, job.channel, *state)) {
    case LoadResult::NotFound:
        r.reason = "notfound";
        return r;
    case LoadResult::Unsupported:
        r.reason = "unsupported";
        return r;
    case LoadResult::Loaded:
        break;
    }
    switch (runConversion(*state, abandon_)) {
    case ConversionOutcome::Cancelled:
        r.reason = "replaced";
        return r;
    case ConversionOutcome::Unusable:
        r.reason = "unsupported";
        return r;
    case ConversionOutcome::Converted:
        break;
    }
    r.coefficients = tempFolder_ + "ir-preview-" + std::to_string(job.number % kFiles) + ".tmp";
    if (tempFolder_.empty() || !writeCoefficientFile(r.coefficients, coefficientValues(*state))) {
        r.reason = "notwritten";
        r.coefficients.clear();
        return r;
    }
    r.ok = true;
    return r;
}

} // namespace kx5
