// A literal, unoptimised reading of the impulse-response conversion: one sine
// per sinc term, the full real transform there and back, the half-band window
// evaluated per term. The product's fast conversion is checked against it.
#pragma once

#include <vector>

namespace kx5::test {

struct LiteralSource {
    int channels = 1;
    int rate = 48000;
    std::vector<double> samples; // interleaved, frames * channels
};

struct LiteralOutcome {
    bool usable = false;
    std::vector<float> values; // the 3354 values of the coefficient file
    int length96k = 0;
    int leadSilence = 0;
};

LiteralOutcome literalConversion(const LiteralSource& source, int channel);

} // namespace kx5::test
