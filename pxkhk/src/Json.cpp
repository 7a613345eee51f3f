#include "Json.h"

#include <cmath>
#include <cstdlib>

namespace pixkey {

class JsonParser {
public:
    explicit JsonParser(std::string_view text) : m_text(text) {}

    bool parseDocument(JsonValue &value)
    {
        if (!parseValue(value, 0))
            return false;
        skipSpace();
        return m_at == m_text.size();
    }

private:
    void skipSpace()
    {
        while (m_at < m_text.size()
               && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }
    bool take(char c)
    {
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool literal(std::string_view word)
    {
        if (m_text.substr(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    bool parseValue(JsonValue &value, int depth)
    {
        if (depth > JsonValue::kMaxDepth)
            return false;
        skipSpace();
        if (m_at >= m_text.size())
            return false;
        switch (m_text[m_at]) {
        case '{':
            return parseObject(value, depth);
        case '[':
            return parseArray(value, depth);
        case '"':
            value.m_type = JsonValue::Type::String;
            return parseString(value.m_text);
        case 't':
            value.m_type = JsonValue::Type::Bool;
            value.m_bool = true;
            return literal("true");
        case 'f':
            value.m_type = JsonValue::Type::Bool;
            value.m_bool = false;
            return literal("false");
        case 'n':
            value.m_type = JsonValue::Type::Null;
            return literal("null");
        default:
            return parseNumber(value);
        }
    }

    bool parseObject(JsonValue &value, int depth)
    {
        value.m_type = JsonValue::Type::Object;
        ++m_at; // '{'
        skipSpace();
        if (take('}'))
            return true;
        for (;;) {
            skipSpace();
            std::string name;
            if (m_at >= m_text.size() || m_text[m_at] != '"' || !parseString(name))
                return false;
            skipSpace();
            if (!take(':'))
                return false;
            JsonValue member;
            if (!parseValue(member, depth + 1))
                return false;
            value.m_members[name] = std::move(member);
            skipSpace();
            if (take('}'))
                return true;
            if (!take(','))
                return false;
        }
    }

    bool parseArray(JsonValue &value, int depth)
    {
        value.m_type = JsonValue::Type::Array;
        ++m_at; // '['
        skipSpace();
        if (take(']'))
            return true;
        for (;;) {
            JsonValue element;
            if (!parseValue(element, depth + 1))
                return false;
            value.m_elements.push_back(std::move(element));
            skipSpace();
            if (take(']'))
                return true;
            if (!take(','))
                return false;
        }
    }

    static void appendUtf8(std::string &out, unsigned code)
    {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool hex4(unsigned &code)
    {
        if (m_at + 4 > m_text.size())
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= unsigned(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool parseString(std::string &out)
    {
        ++m_at; // '"'
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            switch (m_text[m_at++]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xD800 && code < 0xDC00) {
                    unsigned low = 0;
                    if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                        return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return false;
                }
                appendUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool parseNumber(JsonValue &value)
    {
        const std::size_t start = m_at;
        take('-');
        const auto digits = [this] {
            const std::size_t from = m_at;
            while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
                ++m_at;
            return m_at > from;
        };
        if (!digits())
            return false;
        if (take('.') && !digits())
            return false;
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!digits())
                return false;
        }
        const std::string number(m_text.substr(start, m_at - start));
        value.m_type = JsonValue::Type::Number;
        value.m_number = std::strtod(number.c_str(), nullptr);
        return std::isfinite(value.m_number);
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

std::optional<JsonValue> JsonValue::parse(std::string_view text)
{
    JsonValue value;
    JsonParser parser(text);
    if (!parser.parseDocument(value))
        return std::nullopt;
    return value;
}

const JsonValue &JsonValue::operator[](const std::string &name) const
{
    static const JsonValue null;
    if (m_type != Type::Object)
        return null;
    const auto it = m_members.find(name);
    return it == m_members.end() ? null : it->second;
}

std::int64_t JsonValue::integer(std::int64_t fallback) const
{
    if (m_type != Type::Number || m_number != std::floor(m_number) || std::fabs(m_number) > 9.0e15)
        return fallback;
    return std::int64_t(m_number);
}

} // namespace pixkey
