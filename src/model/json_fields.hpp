// Strict reading of the service's JSON objects.
//
// The service's records have exact presence and type rules: a required key must be there with
// the right JSON type, an optional one may instead be absent or null, and anything else spoils
// the whole object. FieldReader applies those rules one key at a time and remembers any failure,
// so a decoder reads all its fields in a row and asks `finish` once at the end.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvela::json {

using Value = nlohmann::json;

// The whole body parsed without exceptions; absent unless it is valid JSON with an object at
// the top level.
std::optional<Value> parseObject(std::string_view body);

// Readers of one JSON value; each is absent when the value has another JSON type.
std::optional<std::string> readString(const Value& value);
// Only true and false: no numbers, no strings.
std::optional<bool> readBool(const Value& value);
// Any JSON number, integer or not.
std::optional<double> readNumber(const Value& value);
// A whole number that fits a signed 64-bit integer: a JSON integer, or a JSON float without a
// fraction (12.0). 12.5, "12", true and 1e30 are not.
std::optional<std::int64_t> readInt64(const Value& value);

// A reader of a JSON array whose every element `readElement` accepts; one bad element and the
// whole array is rejected.
template <class Read>
auto arrayOf(Read readElement) {
    using Element = typename decltype(readElement(std::declval<const Value&>()))::value_type;
    return [readElement](const Value& value) -> std::optional<std::vector<Element>> {
        if (!value.is_array()) return std::nullopt;
        std::vector<Element> elements;
        elements.reserve(value.size());
        for (const Value& v : value) {
            auto element = readElement(v);
            if (!element) return std::nullopt;
            elements.push_back(std::move(*element));
        }
        return elements;
    };
}

class FieldReader {
public:
    // `object` must outlive the reader; anything but a JSON object fails at once.
    explicit FieldReader(const Value& object) : object_(object), ok_(object.is_object()) {}

    // A key that must be present, not null, and of the type `read` accepts.
    template <class Read>
    auto required(const char* key, Read read) {
        using T = typename decltype(read(std::declval<const Value&>()))::value_type;
        const Value* value = find(key);
        if (value) {
            if (auto result = read(*value)) return std::move(*result);
        }
        ok_ = false;
        return T{};
    }

    // A key that may be absent or null; present with another type, it spoils the object.
    template <class Read>
    auto optional(const char* key, Read read) -> decltype(read(std::declval<const Value&>())) {
        const Value* value = find(key);
        if (!value) return std::nullopt;
        auto result = read(*value);
        if (!result) ok_ = false;
        return result;
    }

    bool ok() const { return ok_; }

    // The record built from the fields read, unless one of them failed.
    template <class T>
    std::optional<T> finish(T record) const {
        if (!ok_) return std::nullopt;
        return record;
    }

private:
    // The key's value, or null when the key is absent or holds JSON null.
    const Value* find(const char* key) const;

    const Value& object_;
    bool ok_;
};

}  // namespace orvela::json
