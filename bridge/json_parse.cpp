#include "bridge/json_parse.h"

#include <cmath>
#include <stdexcept>

namespace kx5 {
namespace {

// picojson's default context, with objects counted like arrays (the
// library's own context limits only arrays).
class LimitedContext {
  public:
    struct Refusals {
        bool tooDeep = false;
        bool outOfRange = false;
    };
    LimitedContext(picojson::value* out, size_t depthLeft, Refusals* refused)
        : out_(out), depthLeft_(depthLeft), refused_(refused) {}
    LimitedContext(const LimitedContext&) = delete;
    LimitedContext& operator=(const LimitedContext&) = delete;

    bool set_null() {
        *out_ = picojson::value();
        return true;
    }
    bool set_bool(bool b) {
        *out_ = picojson::value(b);
        return true;
    }
    // A value picojson cannot hold (1e999 reads as infinity) is refused
    // here; picojson itself would throw.
    bool set_number(double f) {
        if (!std::isfinite(f)) {
            refused_->outOfRange = true;
            return false;
        }
        *out_ = picojson::value(f);
        return true;
    }
    template <typename Iter> bool parse_string(picojson::input<Iter>& in) {
        *out_ = picojson::value(picojson::string_type, false);
        return picojson::_parse_string(out_->get<std::string>(), in);
    }
    bool parse_array_start() {
        if (!enter()) return false;
        *out_ = picojson::value(picojson::array_type, false);
        return true;
    }
    template <typename Iter> bool parse_array_item(picojson::input<Iter>& in, size_t) {
        picojson::array& a = out_->get<picojson::array>();
        a.push_back(picojson::value());
        LimitedContext inner(&a.back(), depthLeft_, refused_);
        return picojson::_parse(inner, in);
    }
    bool parse_array_stop(size_t) {
        ++depthLeft_;
        return true;
    }
    bool parse_object_start() {
        if (!enter()) return false;
        *out_ = picojson::value(picojson::object_type, false);
        return true;
    }
    template <typename Iter>
    bool parse_object_item(picojson::input<Iter>& in, const std::string& key) {
        picojson::object& o = out_->get<picojson::object>();
        LimitedContext inner(&o[key], depthLeft_, refused_);
        return picojson::_parse(inner, in);
    }
    bool parse_object_stop() {
        ++depthLeft_;
        return true;
    }

  private:
    bool enter() {
        if (depthLeft_ == 0) {
            refused_->tooDeep = true;
            return false;
        }
        --depthLeft_;
        return true;
    }

    picojson::value* out_;
    size_t depthLeft_;
    Refusals* refused_;
};

} // namespace

std::string parseJson(picojson::value& out, std::string_view text, size_t maxDepth) {
    std::string error;
    LimitedContext::Refusals refused;
    LimitedContext context(&out, maxDepth, &refused);
    picojson::_parse(context, text.begin(), text.end(), &error);
    if (refused.tooDeep) return "JSON nested deeper than " + std::to_string(maxDepth) + " levels";
    if (refused.outOfRange) return "a JSON number out of range";
    return error;
}

const picojson::value& requiredMember(const picojson::object& o, const char* key) {
    auto it = o.find(key);
    if (it == o.end()) throw std::runtime_error(std::string("missing ") + key);
    return it->second;
}

} // namespace kx5
