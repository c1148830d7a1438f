// A MIDI receiver's input: bytes drain from a small buffer at the line rate;
// a message that arrives while the buffer has no room for it is lost.
#pragma once

#include <cstddef>

namespace kx5::sim {

class InputRateLimit {
  public:
    // bitsPerSecond 0 turns the limit off. Ten bits carry one byte.
    InputRateLimit(double bitsPerSecond, size_t bufferBytes)
        : bytesPerSecond_(bitsPerSecond / 10), capacity_(static_cast<double>(bufferBytes)) {}

    // A message of size bytes arrives at time t (seconds, never decreasing).
    bool accept(size_t size, double t);

  private:
    double bytesPerSecond_;
    double capacity_;
    double level_ = 0;
    double last_ = 0;
    bool started_ = false;
};

} // namespace kx5::sim
