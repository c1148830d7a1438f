// libFuzzer target for the WAVE readers: the input is taken as a file and
// described (readWavInfo), opened and read (CWaveFile), and loaded as a
// conversion source on both channels.
#include "ir/conversion_state.h"
#include "ir/file_stream.h"
#include "ir/source_loader.h"
#include "ir/wav_stream.h"
#include "ir/wave_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

// An anonymous in-memory file with the input; its /proc path opens like any file.
class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("wav", MFD_CLOEXEC)) {
        size_t done = 0;
        while (fd_ >= 0 && done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += size_t(n);
        }
    }
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    bool ok() const { return fd_ >= 0; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto state = std::make_unique<kx5::ConversionState>();
    MemoryFile file(data, size);
    if (!file.ok()) return 0;
    if (auto stream = kx5::FileStream::openForReading(file.path())) {
        kx5::WavInfo info;
        kx5::readWavInfo(*stream, info);
    }
    kx5::CWaveFile wave;
    if (wave.open(file.path()) == kx5::CWaveFile::OpenResult::Opened) {
        std::vector<double> samples(4096);
        while (wave.readSamples(samples.data(), uint32_t(samples.size())) == samples.size()) {
        }
    }
    kx5::loadConversionSource(file.path(), 0, *state);
    kx5::loadConversionSource(file.path(), 1, *state);
    return 0;
}
