#include "audition/audition_sources.h"

#include "audition/convolver.h"
#include "ir/conversion_state.h"
#include "ir/source_loader.h"
#include "irfile/prepared_source.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace kx5 {

std::variant<MonoSound, SourceRefusal> readDiPhrase(const std::string& path) {
    const SourceDescription d = describeSource(path);
    if (const auto* refused = std::get_if<SourceRefusal>(&d)) return *refused;
    const uint32_t rate = std::get<SourceFormat>(d).sampleRate;
    SourceRead read = readSource(path, uint64_t(kMaxPhraseSeconds * rate));
    if (const auto* refused = std::get_if<SourceRefusal>(&read)) return *refused;
    const SourceSamples& s = std::get<SourceSamples>(read);
    MonoSound out;
    out.rate = s.format.sampleRate;
    out.samples.resize(s.frames);
    const size_t channels = s.format.channels;
    for (size_t f = 0; f < s.frames; ++f) {
        double sum = 0;
        for (size_t c = 0; c < channels; ++c)
            sum += s.interleaved[f * channels + c];
        out.samples[f] = float(sum / double(channels));
    }
    return out;
}

std::variant<MonoSound, SourceRefusal> readAuditionIr(const std::string& path, int channel,
                                                      const std::string& tempFolder) {
    const bool mix = channel == 2;
    const Preparation p =
        prepareSource(path, mix ? ChannelUse::Mix : ChannelUse::AsStored, tempFolder);
    if (const auto* refused = std::get_if<SourceRefusal>(&p)) return *refused;
    auto state = std::make_unique<ConversionState>();
    if (loadConversionSource(std::get<PreparedSource>(p).path, mix ? 0 : channel, *state) !=
        LoadResult::Loaded)
        return SourceRefusal{"nothing audible the conversion would take"};
    MonoSound ir;
    ir.rate = uint32_t(state->sourceRate);
    ir.samples.assign(state->source.begin(), state->source.begin() + state->sourceFrames);
    return ir;
}

std::vector<float> resampled(const std::vector<float>& samples, uint32_t from, uint32_t to) {
    if (from == to || samples.empty() || from == 0 || to == 0) return samples;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, int(to), &mono, AV_SAMPLE_FMT_FLT,
                            int(from), 0, nullptr) < 0)
        return {};
    std::unique_ptr<SwrContext, void (*)(SwrContext*)> swr(raw,
                                                           [](SwrContext* s) { swr_free(&s); });
    if (swr_init(swr.get()) < 0) return {};
    const int64_t room = av_rescale_rnd(int64_t(samples.size()), to, from, AV_ROUND_UP) + 256;
    std::vector<float> out(static_cast<size_t>(room));
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data());
    const uint8_t* src = reinterpret_cast<const uint8_t*>(samples.data());
    int n = swr_convert(swr.get(), &dst, int(room), &src, int(samples.size()));
    if (n < 0) return {};
    size_t done = size_t(n);
    // What the filter still holds.
    dst = reinterpret_cast<uint8_t*>(out.data() + done);
    n = swr_convert(swr.get(), &dst, int(room - int64_t(done)), nullptr, 0);
    if (n > 0) done += size_t(n);
    out.resize(done);
    return out;
}

Rendering renderThrough(const MonoSound& phrase, const MonoSound& ir) {
    Rendering r;
    r.rate = phrase.rate;
    r.samples = convolve(phrase.samples, resampled(ir.samples, ir.rate, phrase.rate));
    double sum = 0, peak = 0;
    for (float v : r.samples) {
        sum += double(v) * v;
        peak = std::max(peak, double(std::fabs(v)));
    }
    const auto db = [](double x) { return x > 0 ? 20.0 * std::log10(x) : -200.0; };
    if (!r.samples.empty()) r.rmsDb = db(std::sqrt(sum / double(r.samples.size())));
    r.peakDb = db(peak);
    return r;
}

} // namespace kx5
