#include "PeerFrame.h"

#include <cstring>

namespace pixkey {

namespace {

constexpr char kMagic[3] = {'P', 'X', 'K'};

template <typename T>
void put(std::string &out, T value)
{
    using U = std::make_unsigned_t<T>;
    U bits = static_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<char>(bits & 0xFF));
        bits = static_cast<U>(bits >> 8);
    }
}

template <typename T>
T get(std::string_view bytes, std::size_t offset)
{
    using U = std::make_unsigned_t<T>;
    U bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = static_cast<U>((bits << 8) | static_cast<unsigned char>(bytes[offset + i]));
    return static_cast<T>(bits);
}

} // namespace

std::string PeerFrame::encode(Kind kind, const PeerMessage &message)
{
    if (message.path.size() > PeerMessage::kMaxPathLength || message.path.find('\0') != std::string::npos)
        return std::string();
    std::string out;
    out.reserve(kHeaderSize + message.path.size());
    out.append(kMagic, sizeof kMagic);
    out.push_back(static_cast<char>(kVersion));
    out.push_back(static_cast<char>(kind));
    put<std::uint32_t>(out, message.message);
    put<std::int64_t>(out, message.wParam);
    put<std::int64_t>(out, message.lParam);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(message.path.size()));
    out += message.path;
    return out;
}

PeerFrame::Status PeerFrame::parse(std::string_view bytes, Kind &kind, PeerMessage &message)
{
    // Check what has arrived of the fixed part at once, so garbage is dropped without waiting.
    const std::size_t magicBytes = std::min(bytes.size(), sizeof kMagic);
    if (std::memcmp(bytes.data(), kMagic, magicBytes) != 0)
        return Status::Invalid;
    if (bytes.size() > 3 && static_cast<std::uint8_t>(bytes[3]) != kVersion)
        return Status::Invalid;
    if (bytes.size() > 4) {
        const auto k = static_cast<std::uint8_t>(bytes[4]);
        if (k != static_cast<std::uint8_t>(Kind::Message) && k != static_cast<std::uint8_t>(Kind::ShowWindow))
            return Status::Invalid;
    }
    if (bytes.size() < kHeaderSize)
        return Status::NeedMore;

    const auto pathLength = get<std::uint32_t>(bytes, kHeaderSize - 4);
    if (pathLength > PeerMessage::kMaxPathLength)
        return Status::Invalid;
    if (bytes.size() < kHeaderSize + pathLength)
        return Status::NeedMore;
    const std::string_view path = bytes.substr(kHeaderSize, pathLength);
    if (path.find('\0') != std::string_view::npos)
        return Status::Invalid;

    kind = static_cast<Kind>(bytes[4]);
    message.message = get<std::uint32_t>(bytes, 5);
    message.wParam = get<std::int64_t>(bytes, 9);
    message.lParam = get<std::int64_t>(bytes, 17);
    message.path.assign(path);
    return Status::Complete;
}

} // namespace pixkey
