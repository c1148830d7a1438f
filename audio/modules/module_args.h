// Argument helpers shared by the audio modules. A missing required argument
// or a malformed number throws, which the bridge answers "esystem exception".
#pragma once

#include "bridge/encoding.h"
#include "bridge/native_call.h"

#include <optional>
#include <stdexcept>

namespace kx5::audio_args {

inline const std::string& required(const Args& args, size_t i) {
    if (i >= args.size()) throw std::out_of_range("missing argument");
    return args[i];
}

inline const std::string* optional(const Args& args, size_t i) {
    return i < args.size() ? &args[i] : nullptr;
}

inline std::optional<float> optionalReal(const Args& args, size_t i) {
    if (i >= args.size()) return std::nullopt;
    return static_cast<float>(toReal(args[i]));
}

inline std::optional<int32_t> optionalInt(const Args& args, size_t i) {
    if (i >= args.size()) return std::nullopt;
    return toInt(args[i]);
}

template <typename T> const T* ptr(const std::optional<T>& v) {
    return v ? &*v : nullptr;
}

} // namespace kx5::audio_args
