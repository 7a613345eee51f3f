#include "PhoneProtocol.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace calls {

namespace {

bool isContinuationByte(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// `text` cut to at most `limit` bytes without splitting a UTF-8 character, with control characters
// turned into spaces (line feeds kept when `keepNewlines`).
std::string cleaned(const QString &value, std::size_t limit, bool keepNewlines = false)
{
    std::string text = value.toStdString();
    if (text.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && isContinuationByte(static_cast<unsigned char>(text[cut])))
            --cut;
        text.resize(cut);
    }
    for (char &c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && !(keepNewlines && c == '\n')) || u == 0x7F)
            c = ' ';
    }
    return text;
}

std::string field(const QJsonObject &object, const char *name, std::size_t limit = kMaxFieldLength,
                  bool keepNewlines = false)
{
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isString() ? cleaned(value.toString(), limit, keepNewlines) : std::string();
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        if (i > start)
            result.push_back(text.substr(start, i - start));
    }
    return result;
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A number of at most `maxDigits` digits.
std::optional<std::int64_t> number(std::string_view text, std::size_t maxDigits = 9)
{
    if (!allDigits(text) || text.size() > maxDigits)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

// "H:MM:SS" (hours of any width up to six digits) as seconds.
std::optional<std::int64_t> clockTime(std::string_view text)
{
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t second = text.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto hours = number(text.substr(0, first), 6);
    const auto minutes = number(text.substr(first + 1, second - first - 1), 2);
    const auto seconds = number(text.substr(second + 1), 2);
    if (!hours || !minutes || !seconds || *minutes > 59 || *seconds > 59)
        return std::nullopt;
    return *hours * 3600 + *minutes * 60 + *seconds;
}

std::string withoutEscapes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b') {
            // CSI sequence: ESC '[' parameters, ending with a letter.
            ++i;
            if (i < text.size() && text[i] == '[') {
                ++i;
                while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i])))
                    ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::size_t findNoCase(std::string_view text, std::string_view needle)
{
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (startsWithNoCase(text.substr(i), needle))
            return i;
    }
    return std::string_view::npos;
}

std::size_t utf8Length(std::string_view text)
{
    return std::size_t(std::count_if(text.begin(), text.end(),
                                     [](char c) { return !isContinuationByte(static_cast<unsigned char>(c)); }));
}

} // namespace

std::optional<PhoneMessage> parsePhoneMessage(std::string_view json)
{
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    PhoneMessage message;
    if (object.value(QLatin1String("response")).toBool(false)) {
        message.kind = PhoneMessage::Kind::Response;
        message.ok = object.value(QLatin1String("ok")).toBool(false);
        const QJsonValue data = object.value(QLatin1String("data"));
        if (data.isString())
            message.data = cleaned(data.toString(), kMaxDataLength, true);
        message.token = field(object, "token");
        return message;
    }
    if (object.value(QLatin1String("event")).toBool(false)) {
        message.kind = PhoneMessage::Kind::Event;
        message.eventClass = field(object, "class");
        message.type = field(object, "type");
        message.accountAor = field(object, "accountaor");
        message.direction = field(object, "direction");
        message.peerUri = field(object, "peeruri");
        message.peerDisplayName = field(object, "peerdisplayname");
        message.id = field(object, "id");
        message.param = field(object, "param", 1024, true); // a message summary has several lines
        return message;
    }
    return std::nullopt;
}

std::string encodeCommand(std::string_view command, std::string_view params, std::string_view token)
{
    QJsonObject object;
    object.insert(QLatin1String("command"), QString::fromUtf8(command.data(), qsizetype(command.size())));
    if (!params.empty())
        object.insert(QLatin1String("params"), QString::fromUtf8(params.data(), qsizetype(params.size())));
    object.insert(QLatin1String("token"), QString::fromUtf8(token.data(), qsizetype(token.size())));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::vector<ListedCall> parseCallList(std::string_view data)
{
    std::vector<ListedCall> calls;
    for (std::string_view line : splitLines(data)) {
        if (calls.size() >= kMaxCalls)
            break;
        const std::size_t open = line.find("[line ");
        if (open == std::string_view::npos)
            continue;
        const std::size_t close = line.find(']', open);
        if (close == std::string_view::npos)
            continue;
        const auto lineNumber = number(trimmed(line.substr(open + 6, close - open - 6)), 4);
        if (!lineNumber)
            continue;
        ListedCall call;
        call.line = int(*lineNumber);
        call.current = trimmed(line.substr(0, open)) == ">";
        const std::string_view rest = line.substr(close + 1);
        const auto tokens = words(rest);
        if (tokens.size() < 3)
            continue;
        const auto seconds = clockTime(tokens[0]);
        if (!seconds)
            continue;
        call.seconds = *seconds;
        call.state = std::string(tokens[1].substr(0, 32));
        call.onHold = rest.find("(on hold)") != std::string_view::npos;
        call.peerUri = std::string(tokens.back().substr(0, kMaxFieldLength));
        calls.push_back(std::move(call));
    }
    return calls;
}

std::vector<AccountRegistration> parseRegistrations(std::string_view data)
{
    std::vector<AccountRegistration> accounts;
    const std::string plain = withoutEscapes(data);
    for (std::string_view line : splitLines(plain)) {
        if (accounts.size() >= kMaxCalls)
            break;
        auto tokens = words(line);
        if (!tokens.empty() && tokens.front() == ">")
            tokens.erase(tokens.begin());
        if (tokens.empty())
            continue;
        const std::string_view aor = tokens.front();
        if (!startsWithNoCase(aor, "sip:") && !startsWithNoCase(aor, "sips:"))
            continue;
        AccountRegistration account;
        account.aor = std::string(aor.substr(0, kMaxFieldLength));
        for (std::size_t i = 1; i < tokens.size(); ++i) {
            if (tokens[i] == "OK")
                account.registration = Registration::Registered;
            else if (tokens[i] == "ERR")
                account.registration = Registration::Failed;
            else if (tokens[i] == "zzz")
                account.registration = Registration::Pending;
            else
                continue;
            break;
        }
        accounts.push_back(std::move(account));
    }
    return accounts;
}

int onlineStatus(const std::vector<AccountRegistration> &accounts)
{
    bool failed = false, pending = false, needsNone = true;
    for (const auto &account : accounts) {
        switch (account.registration) {
        case Registration::Registered:
            return 1;
        case Registration::Failed:
            failed = true;
            needsNone = false;
            break;
        case Registration::Pending:
            pending = true;
            needsNone = false;
            break;
        case Registration::NotNeeded:
            break;
        }
    }
    if (needsNone)
        return 1;
    if (failed)
        return 3;
    return pending ? 0 : 1;
}

std::optional<int> parseVoicemails(std::string_view body)
{
    for (std::string_view line : splitLines(body)) {
        line = trimmed(line);
        if (!startsWithNoCase(line, "Voice-Message:"))
            continue;
        std::string_view value = trimmed(line.substr(14));
        std::size_t digits = 0;
        while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9')
            ++digits;
        if (digits == 0)
            return std::nullopt;
        if (digits > 4)
            return 9999;
        return int(*number(value.substr(0, digits)));
    }
    return std::nullopt;
}

std::string uriUserPart(std::string_view uri)
{
    uri = trimmed(uri);
    if (const std::size_t open = uri.find('<'); open != std::string_view::npos) {
        const std::size_t close = uri.find('>', open);
        uri = uri.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    }
    std::size_t schemeEnd = 0;
    if (startsWithNoCase(uri, "sip:"))
        schemeEnd = 4;
    else if (startsWithNoCase(uri, "sips:"))
        schemeEnd = 5;
    else if (startsWithNoCase(uri, "tel:")) {
        uri.remove_prefix(4);
        return std::string(uri.substr(0, uri.find_first_of(";?")));
    } else
        return {};
    uri.remove_prefix(schemeEnd);
    const std::size_t at = uri.find('@');
    if (at == std::string_view::npos)
        return {};
    std::string_view user = uri.substr(0, at);
    return std::string(user.substr(0, user.find(';')));
}

bool isTelephonePeer(std::string_view uri)
{
    std::string_view plain = trimmed(uri);
    if (const std::size_t open = plain.find('<'); open != std::string_view::npos)
        plain.remove_prefix(open + 1);
    if (startsWithNoCase(plain, "tel:"))
        return true;
    if (findNoCase(plain, ";user=phone") != std::string_view::npos)
        return true;
    std::string user = uriUserPart(plain);
    std::string_view digits = user;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    return allDigits(digits);
}

std::string partnerName(std::string_view displayName, std::string_view uri)
{
    displayName = trimmed(displayName);
    if (!displayName.empty() && utf8Length(displayName) <= 17)
        return std::string(displayName);
    std::string user = uriUserPart(uri);
    return user.empty() ? std::string(trimmed(uri)) : user;
}

std::string formatDuration(std::int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      int(seconds / 60 % 60), int(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%02d:%02d", int(seconds / 60), int(seconds % 60));
    return text;
}

ControlEndpoint controlEndpointFromConfig(std::string_view configText)
{
    ControlEndpoint endpoint;
    for (std::string_view line : splitLines(configText)) {
        line = trimmed(line.substr(0, line.find('#')));
        const auto tokens = words(line);
        if (tokens.size() < 2 || tokens[0] != "ctrl_tcp_listen")
            continue;
        const std::string_view address = tokens[1];
        const std::size_t colon = address.rfind(':');
        if (colon == std::string_view::npos)
            continue;
        const auto port = number(address.substr(colon + 1), 5);
        if (!port || *port < 1 || *port > 65535)
            continue;
        endpoint.port = std::uint16_t(*port);
        endpoint.host = address.substr(0, colon) == "[::1]" ? "::1" : "127.0.0.1";
    }
    return endpoint;
}

ControlEndpoint userControlEndpoint()
{
    const char *home = std::getenv("HOME");
    if (!home || !*home)
        return {};
    std::ifstream in(std::string(home) + "/.baresip/config");
    if (!in)
        return {};
    // The configuration is a short text file; more than 256 KiB is not one.
    std::string text(256 * 1024, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(in.gcount()));
    return controlEndpointFromConfig(text);
}

} // namespace calls
