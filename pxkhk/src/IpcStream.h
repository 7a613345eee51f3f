// IpcStream: a non-blocking connection to a compositor's unix socket (sway's i3 IPC, Hyprland's
// event and request sockets) with a queue of bytes to send; the back ends poll it in the hook's
// loop and parse what pump() read.
//
// Threads: belongs to the hook thread of its back end, like the back end.
#pragma once

#include <cstddef>
#include <string>

namespace pixkey {

class IpcStream {
public:
    enum class Status { Open, Closed, Failed };

    IpcStream() = default;
    ~IpcStream() { close(); }
    IpcStream(const IpcStream &) = delete;
    IpcStream &operator=(const IpcStream &) = delete;

    // Connects to the socket at `path` without waiting. False with a reason.
    bool connect(const std::string &path, std::string &error);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // The poll events it waits for: input, and output while bytes wait to be sent.
    short events() const;

    void send(const std::string &bytes) { m_out += bytes; }
    bool sending() const { return !m_out.empty(); }
    // Sends what the socket takes and appends what has arrived to `in`, reading no more once `in`
    // holds `limit` bytes. Closed once the peer closed (what came before is in `in`), Failed on
    // an error (`error` says which); Open otherwise.
    Status pump(std::string &in, std::size_t limit, std::string &error);

private:
    int m_fd = -1;
    std::string m_out;
};

} // namespace pixkey
