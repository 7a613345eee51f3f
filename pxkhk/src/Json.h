// Json: a small reader for the JSON that compositors answer over their IPC sockets (sway's i3
// IPC, Hyprland's request socket). Strict: any syntax error, a nesting deeper than kMaxDepth or
// trailing bytes make parse fail, so a peer talking nonsense is noticed rather than half-read.
//
// Threads: plain values, no shared state.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pixkey {

class JsonValue {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };
    static constexpr int kMaxDepth = 256;

    // The value in `text`; empty when it is not a single well-formed JSON value.
    static std::optional<JsonValue> parse(std::string_view text);

    Type type() const { return m_type; }
    bool isObject() const { return m_type == Type::Object; }
    bool isArray() const { return m_type == Type::Array; }

    // Member `name` of an object; a Null value when absent or not an object.
    const JsonValue &operator[](const std::string &name) const;
    // The elements of an array (empty otherwise).
    const std::vector<JsonValue> &elements() const { return m_elements; }

    // The value as a string, number or boolean; `fallback` when it is of another type.
    std::string string(const std::string &fallback = {}) const { return m_type == Type::String ? m_text : fallback; }
    // Numbers that are whole and fit in 64 bits; `fallback` otherwise.
    std::int64_t integer(std::int64_t fallback = 0) const;
    bool boolean(bool fallback = false) const { return m_type == Type::Bool ? m_bool : fallback; }

private:
    friend class JsonParser;
    Type m_type = Type::Null;
    bool m_bool = false;
    double m_number = 0;
    std::string m_text;
    std::vector<JsonValue> m_elements;
    std::map<std::string, JsonValue> m_members;
};

} // namespace pixkey
