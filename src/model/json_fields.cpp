#include "model/json_fields.hpp"

#include <cmath>
#include <limits>

namespace orvela::json {

std::optional<Value> parseObject(std::string_view body) {
    // No callback, no exceptions: invalid text comes back as a discarded value.
    Value parsed = Value::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

std::optional<std::string> readString(const Value& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}

std::optional<bool> readBool(const Value& value) {
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

std::optional<double> readNumber(const Value& value) {
    if (!value.is_number()) return std::nullopt;
    return value.get<double>();
}

std::optional<std::int64_t> readInt64(const Value& value) {
    // nlohmann keeps non-negative literals as unsigned, so those above INT64_MAX land here too.
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // Converting a double outside [-2^63, 2^63) to an integer is undefined: check first.
        const double d = value.get<double>();
        constexpr double kTwoTo63 = 9223372036854775808.0;
        if (!std::isfinite(d) || d != std::trunc(d) || d < -kTwoTo63 || d >= kTwoTo63) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

const Value* FieldReader::find(const char* key) const {
    if (!object_.is_object()) return nullptr;
    const auto it = object_.find(key);
    if (it == object_.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace orvela::json
