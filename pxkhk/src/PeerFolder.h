// PeerFolder: the runtime folder where every running configurator keeps its listening socket, and
// the socket operations on it: trust check, listing, connecting with the peer's identity checked,
// removal of sockets whose owner died.
//
// Socket files are named "cfg-PID-N.sock". A socket is bound under a temporary name and renamed
// once it listens, so a socket under the final name that refuses connections belongs to a dead
// process and may be removed.
//
// [any-thread]: the object is immutable after construction; each call works on its own fds.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace pixkey {

class PeerFolder {
public:
    // `folder` empty: $XDG_RUNTIME_DIR/pixkey, or /tmp/pixkey-UID without XDG_RUNTIME_DIR.
    explicit PeerFolder(std::string folder);

    const std::string &path() const { return m_path; }

    // Creates the folder (mode 0700) when missing and checks it: a directory, not a link, owned
    // by this user, no access for group or others. False with a reason in `error` otherwise.
    bool prepare(std::string &error) const;

    // Full paths of the configurator sockets in the folder (whether live or not), sorted.
    std::vector<std::string> sockets() const;

    // A new listening socket under a fresh name in the folder; -1 on failure. `socketPath`
    // receives its path. The fd is non-blocking and close-on-exec.
    int listen(std::string &socketPath, std::string &error) const;

    enum class Probe { Live, Stale, Unreachable };
    // Connects to the socket at `socketPath` (non-blocking connect; a full backlog is retried until
    // `timeout`). Live: `fd` is a connected socket of a process of this user (caller closes it).
    // Stale: nobody listens (the file has been removed). Unreachable: anything else (other user,
    // not a socket, time-out).
    static Probe connect(const std::string &socketPath, std::chrono::milliseconds timeout, int &fd);

    // Whether the process at the other end of connected socket `fd` runs as this user.
    static bool sameUser(int fd);

private:
    std::string m_path;
};

} // namespace pixkey
