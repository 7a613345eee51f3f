// Test helpers of the Calls plug-in: a real SIP phone on the loopback address with its control
// socket, a blocking control client for driving the other phone, and a scripted control socket
// for what a real phone cannot be made to say.
#pragma once

#include <pixkey/test/ServiceProcess.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace calls_test {

using namespace std::chrono_literals;

// A free UDP port on 127.0.0.1 (for SIP) and a free TCP port (for the control socket).
int unusedUdpPort();
int unusedTcpPort();

// One phone: its configuration written into a temporary folder (SIP and control ports on the
// loopback address, one account without a registrar, audio to ALSA's null device), the program
// started with -f FOLDER and stopped by its pid.
class Phone {
public:
    // `user` is the account's user part, `displayName` its display name (may be empty).
    Phone(std::string user, std::string displayName = {});
    ~Phone();

    // Starts the phone and waits for its control socket.
    ::testing::AssertionResult start();
    std::string uri() const; // sip:USER@127.0.0.1:PORT
    int controlPort() const { return m_controlPort; }
    const std::string &folder() const { return m_folder; }
    // A HOME folder whose .baresip/config names this phone's control socket.
    std::string homeWithConfig() const;
    pixkey::test::ServiceProcess &process() { return *m_process; }

private:
    std::string m_user, m_displayName, m_folder;
    int m_sipPort = 0, m_controlPort = 0;
    std::unique_ptr<pixkey::test::ServiceProcess> m_process;
};

// A message from a control socket, parsed just enough for tests.
struct ControlMessage {
    std::string json;
    bool contains(const std::string &text) const { return json.find(text) != std::string::npos; }
};

// A blocking client of a phone's control socket.
class ControlClient {
public:
    explicit ControlClient(int port);
    ~ControlClient();
    bool connected() const { return m_fd >= 0; }
    // Sends a command and waits for its answer; the answer's JSON (empty on time-out).
    std::string command(const std::string &name, const std::string &params = {},
                        std::chrono::milliseconds deadline = 3s);
    // Waits for an event whose JSON contains every one of `texts`.
    bool waitForEvent(const std::vector<std::string> &texts, std::chrono::milliseconds deadline = 5s);

private:
    std::optional<ControlMessage> read(std::chrono::steady_clock::time_point until);
    int m_fd = -1;
    std::string m_buffer;
    std::vector<ControlMessage> m_events;
    int m_token = 0;
};

// A control socket played by the test: listens on 127.0.0.1, takes one client at a time, answers
// each command with what `answer` returns (the "data" text), and sends whatever the test asks.
class ScriptedPhone {
public:
    using Answer = std::function<std::optional<std::string>(const std::string &command)>;
    explicit ScriptedPhone(Answer answer = {});
    ~ScriptedPhone();

    int port() const { return m_port; }
    // Sends `json` framed as a netstring to the connected client.
    void sendMessage(const std::string &json);
    // Sends these bytes as they are.
    void sendRaw(const std::string &bytes);
    // An event of class `eventClass` with the given extra fields ("\"id\":\"x\",...").
    void sendEvent(const std::string &eventClass, const std::string &type, const std::string &fields);
    // Waits for a client to be connected; counts connections accepted so far.
    bool waitForClient(std::chrono::milliseconds deadline = 5s);
    int connections() const;
    std::vector<std::string> commands() const; // commands received, in order
    // Drops the current client.
    void disconnect();

private:
    void run();
    Answer m_answer;
    int m_listener = -1, m_client = -1, m_wake[2] = {-1, -1};
    int m_port = 0;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_outbox;                // guarded by m_lock
    std::vector<std::string> m_commands; // guarded by m_lock
    int m_connections = 0;               // guarded by m_lock
    bool m_drop = false, m_stop = false; // guarded by m_lock
    std::thread m_thread;
};

} // namespace calls_test
