// Parsing JSON that comes from outside (the page, files, the console): as
// picojson::parse, but arrays and objects alike nest at most kMaxJsonDepth
// levels, so a hostile text cannot exhaust the stack.
#pragma once

#include <picojson.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace kx5 {

inline constexpr size_t kMaxJsonDepth = 100;

// Empty on success; otherwise picojson's "syntax error at line N near: ..."
// text, or "JSON nested deeper than N levels".
std::string parseJson(picojson::value& out, std::string_view text, size_t maxDepth = kMaxJsonDepth);

// The member `key` of a request object; std::runtime_error "missing <key>"
// when it is not there.
const picojson::value& requiredMember(const picojson::object& o, const char* key);

} // namespace kx5
