#include "Netstring.h"

namespace calls {

namespace {
// Digits of the largest length accepted; a longer prefix is refused without reading it further.
std::size_t digitsOf(std::size_t value)
{
    std::size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}
} // namespace

std::string encodeNetstring(std::string_view payload)
{
    std::string framed = std::to_string(payload.size());
    framed += ':';
    framed += payload;
    framed += ',';
    return framed;
}

NetstringReader::NetstringReader(std::size_t maxLength) : m_maxLength(maxLength) {}

bool NetstringReader::feed(std::string_view bytes)
{
    if (failed())
        return false;
    m_buffer.append(bytes);
    parse();
    return !failed();
}

std::optional<std::string> NetstringReader::next()
{
    if (m_ready.empty())
        return std::nullopt;
    std::string message = std::move(m_ready.front());
    m_ready.pop_front();
    return message;
}

void NetstringReader::reset()
{
    m_buffer.clear();
    m_ready.clear();
    m_error.clear();
}

void NetstringReader::parse()
{
    const std::size_t maxDigits = digitsOf(m_maxLength);
    std::size_t pos = 0;
    while (pos < m_buffer.size()) {
        // The length prefix: one or more digits, then ':'.
        std::size_t length = 0;
        std::size_t i = pos;
        while (i < m_buffer.size() && m_buffer[i] >= '0' && m_buffer[i] <= '9') {
            if (i - pos >= maxDigits) {
                m_error = "length prefix too long";
                return;
            }
            length = length * 10 + std::size_t(m_buffer[i] - '0');
            ++i;
        }
        if (i - pos > 0 && length > m_maxLength) {
            m_error = "message of " + std::to_string(length) + " bytes is over the limit";
            return;
        }
        if (i == m_buffer.size())
            break; // the prefix is not complete yet
        if (i == pos || m_buffer[i] != ':') {
            m_error = "not a netstring";
            return;
        }
        const std::size_t start = i + 1;
        if (m_buffer.size() - start < length + 1)
            break; // the payload or its ',' is still to come
        if (m_buffer[start + length] != ',') {
            m_error = "netstring not terminated by ','";
            return;
        }
        m_ready.emplace_back(m_buffer, start, length);
        pos = start + length + 1;
    }
    m_buffer.erase(0, pos);
}

} // namespace calls
