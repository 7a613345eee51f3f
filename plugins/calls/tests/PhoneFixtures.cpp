#include "PhoneFixtures.h"

#include "Netstring.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace calls_test {

namespace {

int unusedPort(int type)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string makeFolder(const char *prefix)
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
}

std::string json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

int unusedUdpPort()
{
    return unusedPort(SOCK_DGRAM);
}

int unusedTcpPort()
{
    return unusedPort(SOCK_STREAM);
}

// --- Phone ---------------------------------------------------------------------------------------

Phone::Phone(std::string user, std::string displayName)
    : m_user(std::move(user)), m_displayName(std::move(displayName)), m_folder(makeFolder("calls-phone"))
{
    m_sipPort = unusedUdpPort();
    m_controlPort = unusedTcpPort();
    const std::string config =
        "poll_method epoll\n"
        "sip_listen 127.0.0.1:" + std::to_string(m_sipPort) + "\n"
        "audio_player alsa,null\n"
        "audio_source alsa,null\n"
        "audio_alert alsa,null\n"
        "module_path /usr/lib/baresip/modules\n"
        "module g711.so\n"
        "module alsa.so\n"
        "module_app account.so\n"
        "module_app contact.so\n"
        "module_app menu.so\n"
        "module_app ctrl_tcp.so\n"
        "ctrl_tcp_listen 127.0.0.1:" + std::to_string(m_controlPort) + "\n";
    writeFile(m_folder + "/config", config);
    std::string account = "<" + uri() + ">;regint=0\n";
    if (!m_displayName.empty())
        account = "\"" + m_displayName + "\" " + account;
    writeFile(m_folder + "/accounts", account);
    writeFile(m_folder + "/contacts", "");
}

Phone::~Phone()
{
    m_process.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

::testing::AssertionResult Phone::start()
{
    pixkey::test::ServiceProcess::Options options;
    options.program = "baresip";
    options.arguments = {"-f", m_folder};
    options.name = "baresip " + m_user;
    options.environment = {"HOME=" + m_folder};
    m_process = std::make_unique<pixkey::test::ServiceProcess>(options);
    return m_process->start(pixkey::test::Probe::tcpPort(m_controlPort), 20s);
}

std::string Phone::uri() const
{
    return "sip:" + m_user + "@127.0.0.1:" + std::to_string(m_sipPort);
}

std::string Phone::homeWithConfig() const
{
    const std::string home = m_folder + "/home";
    std::filesystem::create_directories(home + "/.baresip");
    writeFile(home + "/.baresip/config", "ctrl_tcp_listen 127.0.0.1:" + std::to_string(m_controlPort) + "\n");
    return home;
}

// --- ControlClient -------------------------------------------------------------------------------

ControlClient::ControlClient(int port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

ControlClient::~ControlClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<ControlMessage> ControlClient::read(std::chrono::steady_clock::time_point until)
{
    for (;;) {
        // A whole netstring in the buffer?
        const std::size_t colon = m_buffer.find(':');
        if (colon != std::string::npos) {
            const std::size_t length = std::strtoul(m_buffer.c_str(), nullptr, 10);
            if (m_buffer.size() >= colon + 1 + length + 1) {
                ControlMessage message{m_buffer.substr(colon + 1, length)};
                m_buffer.erase(0, colon + 1 + length + 1);
                return message;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_fd < 0)
            return std::nullopt;
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, int(left.count())) <= 0)
            continue;
        char bytes[8192];
        const ssize_t n = ::recv(m_fd, bytes, sizeof bytes, 0);
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(bytes, std::size_t(n));
    }
}

std::string ControlClient::command(const std::string &name, const std::string &params,
                                   std::chrono::milliseconds deadline)
{
    if (m_fd < 0)
        return {};
    const std::string token = "test" + std::to_string(++m_token);
    QJsonObject object{{QStringLiteral("command"), QString::fromStdString(name)},
                       {QStringLiteral("token"), QString::fromStdString(token)}};
    if (!params.empty())
        object.insert(QStringLiteral("params"), QString::fromStdString(params));
    const std::string framed = calls::encodeNetstring(json(object));
    if (::send(m_fd, framed.data(), framed.size(), MSG_NOSIGNAL) != ssize_t(framed.size()))
        return {};
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (auto message = read(until)) {
        if (message->contains("\"response\":true") && message->contains("\"token\":\"" + token + "\""))
            return message->json;
        m_events.push_back(*message);
    }
    return {};
}

bool ControlClient::waitForEvent(const std::vector<std::string> &texts, std::chrono::milliseconds deadline)
{
    auto matches = [&](const ControlMessage &message) {
        for (const auto &text : texts)
            if (!message.contains(text))
                return false;
        return true;
    };
    for (auto it = m_events.begin(); it != m_events.end(); ++it) {
        if (matches(*it)) {
            m_events.erase(m_events.begin(), it + 1);
            return true;
        }
    }
    m_events.clear();
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (auto message = read(until)) {
        if (matches(*message))
            return true;
    }
    return false;
}

// --- ScriptedPhone -------------------------------------------------------------------------------

ScriptedPhone::ScriptedPhone(Answer answer) : m_answer(std::move(answer))
{
    if (!m_answer)
        m_answer = [](const std::string &) { return std::optional<std::string>(std::string()); };
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(m_listener, 4);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    [[maybe_unused]] int rc = ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

ScriptedPhone::~ScriptedPhone()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    [[maybe_unused]] auto n = ::write(m_wake[1], "x", 1);
    m_thread.join();
    for (int fd : {m_listener, m_client, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

void ScriptedPhone::sendRaw(const std::string &bytes)
{
    {
        std::lock_guard lock(m_lock);
        m_outbox += bytes;
    }
    [[maybe_unused]] auto n = ::write(m_wake[1], "x", 1);
}

void ScriptedPhone::sendMessage(const std::string &text)
{
    sendRaw(calls::encodeNetstring(text));
}

void ScriptedPhone::sendEvent(const std::string &eventClass, const std::string &type, const std::string &fields)
{
    std::string text = "{\"event\":true,\"class\":\"" + eventClass + "\",\"type\":\"" + type + "\"";
    if (!fields.empty())
        text += "," + fields;
    text += "}";
    sendMessage(text);
}

bool ScriptedPhone::waitForClient(std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, deadline, [&] { return m_client >= 0; });
}

int ScriptedPhone::connections() const
{
    std::lock_guard lock(m_lock);
    return m_connections;
}

std::vector<std::string> ScriptedPhone::commands() const
{
    std::lock_guard lock(m_lock);
    return m_commands;
}

void ScriptedPhone::disconnect()
{
    {
        std::lock_guard lock(m_lock);
        m_drop = true;
    }
    [[maybe_unused]] auto n = ::write(m_wake[1], "x", 1);
}

void ScriptedPhone::run()
{
    calls::NetstringReader reader(1 << 20);
    for (;;) {
        std::string outbox;
        {
            std::unique_lock lock(m_lock);
            if (m_stop)
                return;
            if (m_drop && m_client >= 0) {
                ::close(m_client);
                m_client = -1;
                m_changed.notify_all();
            }
            m_drop = false;
            if (m_client >= 0)
                outbox.swap(m_outbox);
        }
        if (!outbox.empty())
            [[maybe_unused]] auto n = ::send(m_client, outbox.data(), outbox.size(), MSG_NOSIGNAL);

        pollfd fds[3] = {{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}, {m_client, POLLIN, 0}};
        ::poll(fds, m_client >= 0 ? 3 : 2, 200);
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                std::lock_guard lock(m_lock);
                // One client at a time, as the real phone: a new one replaces the old.
                if (m_client >= 0)
                    ::close(m_client);
                m_client = client;
                ++m_connections;
                reader.reset();
                m_changed.notify_all();
            }
            continue;
        }
        if (m_client >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
            char bytes[4096];
            const ssize_t n = ::recv(m_client, bytes, sizeof bytes, 0);
            if (n <= 0) {
                std::lock_guard lock(m_lock);
                ::close(m_client);
                m_client = -1;
                continue;
            }
            reader.feed(std::string_view(bytes, std::size_t(n)));
            while (auto text = reader.next()) {
                const QJsonObject object =
                    QJsonDocument::fromJson(QByteArray::fromStdString(*text)).object();
                const std::string command = object.value(QStringLiteral("command")).toString().toStdString();
                const std::string params = object.value(QStringLiteral("params")).toString().toStdString();
                {
                    std::lock_guard lock(m_lock);
                    m_commands.push_back(params.empty() ? command : command + " " + params);
                    m_changed.notify_all();
                }
                if (const auto data = m_answer(command)) {
                    QJsonObject response{{QStringLiteral("response"), true},
                                         {QStringLiteral("ok"), true},
                                         {QStringLiteral("data"), QString::fromStdString(*data)},
                                         {QStringLiteral("token"), object.value(QStringLiteral("token"))}};
                    const std::string framed = calls::encodeNetstring(json(response));
                    [[maybe_unused]] auto sent = ::send(m_client, framed.data(), framed.size(), MSG_NOSIGNAL);
                }
            }
        }
    }
}

} // namespace calls_test
