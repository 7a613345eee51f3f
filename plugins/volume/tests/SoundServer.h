// SoundServer: a private PulseAudio server for the Volume tests, started and stopped through the
// shared ServiceProcess: no daemon, no idle exit, only a null sink and the native protocol on a
// socket in a temporary folder (runtime, state and home folders all inside it, so nothing of the
// user's or root's own sound set-up is touched). PipeWire's pipewire-pulse serves the same
// protocol; the tests use PulseAudio because it starts alone, without a session.
//
// One object per test program; kill() and start() again make a server that went away and came
// back under the same address. pactl() runs the command-line client against it.
#pragma once

#include <pixkey/test/ServiceProcess.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace volume::test {

class SoundServer {
public:
    SoundServer();
    ~SoundServer();

    // Starts the server and waits for its socket; the failure names pulseaudio's own output.
    ::testing::AssertionResult start();
    // Ends it at once, as a crash would.
    void kill();

    // "unix:/.../native": what PULSE_SERVER takes.
    const std::string &address() const { return m_address; }
    // An address where no server is, in the same folder.
    std::string deadAddress() const;

    // Runs pactl with `arguments` against the server; its output, or "pactl failed: ..." text.
    std::string pactl(const std::vector<std::string> &arguments) const;
    // The default sink's volume in server units per channel, and its mute state, as pactl reads them.
    std::vector<unsigned> sinkVolume(const std::string &sink = "@DEFAULT_SINK@") const;
    bool sinkMuted(const std::string &sink = "@DEFAULT_SINK@") const;
    void setSinkVolume(const std::vector<unsigned> &channels, const std::string &sink = "@DEFAULT_SINK@") const;
    void setSinkMuted(bool muted, const std::string &sink = "@DEFAULT_SINK@") const;

private:
    std::string m_folder;
    std::string m_address;
    std::unique_ptr<pixkey::test::ServiceProcess> m_process;
};

} // namespace volume::test
