// The audio file operations behind the "audio" module: format probing,
// transcoding, splitting and reversing. Each returns false on any failure and
// then leaves no output file behind.
#pragma once

#include "audio/interface/wave_format.h"

#include <string>
#include <vector>

namespace kx5 {

// Format record of the file's first audio stream (extensible tags resolved);
// duration in seconds when asked for.
bool readAudioFormat(const std::string& path, WaveFormat& format, float* duration = nullptr);

// The JSON object answered by "format": format, channels, samplerate,
// bitdepth, bitrate, duration ("error" and zeros for an unreadable file).
std::string audioFormatAnswer(const std::string& path);

// Decodes the input and writes it in the target format: tag 1 or 3 as WAVE,
// 0x1610 as AAC in MPEG-4, 0x0055 as MP3 (bit rate = avgBytesPerSec x 8).
bool transcodeAudio(const std::string& input, const std::string& output, const WaveFormat& target);

// Spreads the input's channels over the outputs (k = channels / n, at most 2
// per output). tempFolder (ending in "/") takes the intermediate WAVE of a
// compressed input.
bool splitWave(const std::string& input, const std::vector<std::string>& outputs,
               const std::string& tempFolder);

// Writes the input's frames in reverse order to a WAVE file.
bool reverseWave(const std::string& input, const std::string& output,
                 const std::string& tempFolder);

} // namespace kx5
