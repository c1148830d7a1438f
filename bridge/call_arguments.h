// How every module reads the argument texts of a page call. An argument the
// page left out is absent from the list: a required one fails the call with
// "e" + the message for EINVAL ("Invalid argument"), an optional one takes
// its fallback. A malformed number still throws as the conversions do
// ("esystem exception").
#pragma once

#include "bridge/encoding.h"
#include "bridge/native_call.h"

#include <cerrno>
#include <optional>
#include <string>

namespace kx5 {

inline const std::string& required(const Args& args, size_t i) {
    if (i >= args.size()) throw NativeException(EINVAL);
    return args[i];
}

inline std::string optional(const Args& args, size_t i, const std::string& fallback = {}) {
    return i < args.size() ? args[i] : fallback;
}

// For calls that read without the argument and write with it: the argument,
// or null when the page left it out.
inline const std::string* given(const Args& args, size_t i) {
    return i < args.size() ? &args[i] : nullptr;
}

inline std::optional<float> givenReal(const Args& args, size_t i) {
    if (i >= args.size()) return std::nullopt;
    return static_cast<float>(toReal(args[i]));
}

inline std::optional<int32_t> givenInt(const Args& args, size_t i) {
    if (i >= args.size()) return std::nullopt;
    return toInt(args[i]);
}

// The value as the device objects' read-or-set calls take it: null reads.
template <typename T> const T* orNull(const std::optional<T>& v) {
    return v ? &*v : nullptr;
}

} // namespace kx5
