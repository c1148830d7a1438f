// Times the whole conversion (load, convert, write the coefficient file) of a
// generated 0.5 s, 48 kHz mono impulse response: the literal reading and the
// product's conversion side by side, then the ratio.
//   ir_conversion_benchmark [repetitions of the fast conversion, default 10]
#include "ir/coefficient_file.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"
#include "ir/wave_file.h"
#include "tests/ir/generated_ir.h"
#include "tests/ir/literal_conversion.h"
#include "tests/ir/ulp_distance.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

using namespace kx5;

struct Times {
    double wall, cpu;
};

template <typename F> Times measure(F&& f) {
    timespec c0, c1;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
    const auto w0 = std::chrono::steady_clock::now();
    f();
    const auto w1 = std::chrono::steady_clock::now();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
    return {std::chrono::duration<double>(w1 - w0).count(),
            double(c1.tv_sec - c0.tv_sec) + double(c1.tv_nsec - c0.tv_nsec) * 1e-9};
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    test::TempDir folder;
    const std::string input = folder.file("ir48k.wav");
    test::writeFile(input, test::simpleWave(test::FormatRecord{1, 1, 48000, 24},
                                            test::generateImpulseResponse(2024, 48000, 24000)));

    std::vector<float> literalValues;
    const Times literal = measure([&] {
        CWaveFile wave;
        if (wave.open(input) != CWaveFile::OpenResult::Opened) return;
        test::LiteralSource source;
        source.rate = int(wave.sampleRate());
        source.samples.resize(wave.frames());
        wave.readSamples(source.samples.data(), wave.frames());
        wave.close();
        literalValues = test::literalConversion(source, 0).values;
        writeCoefficientFile(folder.file("literal.tmp"), literalValues);
    });

    auto state = std::make_unique<ConversionState>();
    std::vector<float> fastValues;
    Times best{1e9, 1e9};
    for (int r = 0; r < repetitions; ++r) {
        const Times t = measure([&] {
            std::atomic<bool> abandon{false};
            if (loadConversionSource(input, 0, *state) != LoadResult::Loaded) return;
            if (runConversion(*state, abandon) != ConversionOutcome::Converted) return;
            fastValues = coefficientValues(*state);
            writeCoefficientFile(folder.file(kCoefficientFileName), fastValues);
        });
        best.wall = std::min(best.wall, t.wall);
        best.cpu = std::min(best.cpu, t.cpu);
    }

    int64_t maxUlp = 0;
    int identical = 0;
    const bool comparable = fastValues.size() == literalValues.size() && !fastValues.empty();
    for (size_t i = 0; comparable && i < fastValues.size(); ++i) {
        maxUlp = std::max(maxUlp, test::ulpDistance(fastValues[i], literalValues[i]));
        identical += fastValues[i] == literalValues[i];
    }
    std::printf("0.5 s 48 kHz mono IR, load to written file\n");
    std::printf("literal: %9.2f ms wall %9.2f ms cpu\n", literal.wall * 1e3, literal.cpu * 1e3);
    std::printf("fast:    %9.2f ms wall %9.2f ms cpu (best of %d)\n", best.wall * 1e3,
                best.cpu * 1e3, repetitions);
    std::printf("ratio:   %9.1f x wall %9.1f x cpu\n", literal.wall / best.wall,
                literal.cpu / best.cpu);
    if (!comparable) {
        std::printf("values:  conversion failed\n");
        return 1;
    }
    std::printf("values:  %d of %zu bit-identical, largest difference %lld ulp\n", identical,
                fastValues.size(), static_cast<long long>(maxUlp));
    return maxUlp <= 1 ? 0 : 1;
}
