// Netstring: the framing of the phone's control socket, "LENGTH:BYTES," with LENGTH in decimal.
//
// NetstringReader takes the bytes of the socket as they arrive and hands back whole messages. The
// peer is not trusted: a length prefix longer than the reader's limit, a prefix that is not a
// number, or a message that does not end with ',' puts the reader into a failed state at once,
// before anything of the announced size is allocated. A failed reader stays failed; the
// connection it belongs to is then dropped.
//
// [any-thread] One object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace calls {

// "LENGTH:payload," for `payload`.
std::string encodeNetstring(std::string_view payload);

class NetstringReader {
public:
    // Messages longer than `maxLength` bytes are refused.
    explicit NetstringReader(std::size_t maxLength = 64 * 1024);

    // Appends received bytes. False (and failed() from then on) when they break the framing.
    bool feed(std::string_view bytes);
    // The next complete message, if there is one. Call until empty after each feed.
    std::optional<std::string> next();

    bool failed() const { return !m_error.empty(); }
    // Why the reader failed, for a log line; empty while it has not.
    const std::string &error() const { return m_error; }
    // Forgets buffered bytes and any failure, for a new connection.
    void reset();

private:
    // Parses as much of m_buffer as forms whole messages; sets m_error on a framing fault.
    void parse();

    std::size_t m_maxLength;
    std::string m_buffer;              // bytes received that do not yet form a whole message
    std::deque<std::string> m_ready;   // whole messages waiting for next()
    std::string m_error;
};

} // namespace calls
