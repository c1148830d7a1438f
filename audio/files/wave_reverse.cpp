#include "audio/files/audio_file_ops.h"
#include "audio/files/pending_output.h"
#include "audio/files/wave_input.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>
#include <vector>

namespace kx5 {

bool reverseWave(const std::string& input, const std::string& output,
                 const std::string& tempFolder) {
    WaveInput source;
    if (!source.open(input, tempFolder)) return false;
    const WaveFormat& format = source.format();
    const size_t frame = format.blockAlign;
    const size_t blockBytes = frame * kWaveBlockFrames;

    // The data goes to a scratch file first, so the walk backwards needs only
    // one block in memory whatever the file's length.
    TempFile scratchName(tempFolder, ".dat");
    if (!scratchName.valid()) return false;
    FileHandle scratch = openFile(scratchName.path(), "w+b");
    if (!scratch) return false;
    std::vector<uint8_t> block(blockBytes);
    uint64_t total = 0;
    for (;;) {
        const long got = source.reader().read(block.data(), block.size());
        if (got < 0) return false;
        // A trailing partial frame is dropped.
        const size_t bytes = static_cast<size_t>(got) / frame * frame;
        if (bytes == 0) break;
        if (std::fwrite(block.data(), 1, bytes, scratch.get()) != bytes) return false;
        total += bytes;
    }
    if (std::fflush(scratch.get()) != 0) return false;

    PendingOutput out(output);
    WaveChunkWriter writer;
    if (out.path().empty() || !writer.create(out.path(), format)) return false;
    std::vector<uint8_t> reversed(blockBytes);
    uint64_t position = total;
    while (position > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(position, blockBytes));
        position -= chunk;
        if (fseeko(scratch.get(), static_cast<off_t>(position), SEEK_SET) != 0 ||
            std::fread(block.data(), 1, chunk, scratch.get()) != chunk)
            return false;
        const size_t frames = chunk / frame;
        for (size_t f = 0; f < frames; ++f)
            std::memcpy(reversed.data() + f * frame, block.data() + (frames - 1 - f) * frame,
                        frame);
        if (!writer.write(reversed.data(), chunk)) return false;
    }
    scratch.reset();
    return writer.close() && out.commit();
}

} // namespace kx5
