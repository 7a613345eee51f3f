#include "PlayersPlugin.h"

#include "PlayersResources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <pixkey/utility/PkxImages.h>

namespace players {

namespace {

const char kIdentifier[] = "bsp.player.mfc5";
const char kDescription[] = "Winamp and Windows Media Player controls.";
const char kAuthor[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "support@pixkey.example";
const char kWeb[] = "https://pixkey.example/";

struct KindResources {
    const char *name;
    const char *icon;
    int face;
    int preview;
};

constexpr KindResources kKinds[] = {
    {"Player", "ICON_PLAY", 8012, 8020},
    {"Previous", "ICON_PREV", 8017, 8017},
    {"Play\\Pause", "ICON_PLAY", 8012, 8020},
    {"Forward", "ICON_NEXT", 8018, 8018},
};

constexpr int kPlayingOverlay = 8019;

// The ticker and the time bar.
constexpr int kTitleTop = 70;
constexpr int kTickerStart = 96;
constexpr int kTickerStep = 5;
constexpr int kTickerGap = 20;
constexpr int kBarTop = 86;
constexpr int kBarBottom = 96; // exclusive
constexpr int kTimeTop = 85;
constexpr int kElapsedX = 7;
constexpr int kRemainingX = 89;
constexpr unsigned kRemainColour = 0x616161;
constexpr int kSize = PKX_FACE_SIZE;

bool usable(const PkxSurface &surface)
{
    return surface.bits && surface.width == PKX_FACE_SIZE && surface.height == PKX_FACE_SIZE
           && surface.stride >= PKX_FACE_STRIDE;
}

void copyFace(PkxSurface &surface, const QImage &face)
{
    for (int y = 0; y < PKX_FACE_SIZE; ++y) {
        std::uint8_t *row = surface.bits + std::size_t(y) * std::size_t(surface.stride);
        if (face.width() == PKX_FACE_SIZE && face.height() == PKX_FACE_SIZE)
            std::memcpy(row, face.constScanLine(y), PKX_FACE_STRIDE);
        else
            std::memset(row, 0, PKX_FACE_STRIDE);
    }
}

void fill(PkxSurface &surface, int left, int top, int right, int bottom, unsigned rgb)
{
    left = std::clamp(left, 0, kSize);
    right = std::clamp(right, 0, kSize);
    for (int y = std::max(top, 0); y < std::min(bottom, kSize); ++y) {
        std::uint8_t *pixel = surface.bits + std::size_t(y) * std::size_t(surface.stride) + std::size_t(left) * 3;
        for (int x = left; x < right; ++x, pixel += 3) {
            pixel[0] = std::uint8_t(rgb);
            pixel[1] = std::uint8_t(rgb >> 8);
            pixel[2] = std::uint8_t(rgb >> 16);
        }
    }
}

// "M:SS" of a non-negative count of milliseconds.
void formatTime(char *buffer, std::size_t size, const char *sign, std::int64_t ms)
{
    std::snprintf(buffer, size, "%s%lld:%02d", sign, static_cast<long long>(ms / 60000), int((ms % 60000) / 1000));
}

} // namespace

PlayersPlugin::PlayersPlugin(int function, std::shared_ptr<PlayerDirectory> directory)
    : m_kind(std::clamp(function, 0, 3)), m_givenDirectory(std::move(directory))
{
}

MediaPlayer &PlayersPlugin::selectActive()
{
    if (!m_directory)
        return m_nullPlayer;
    const SnapshotPtr snapshot = m_directory->snapshot();

    // One player object per service present, kept across paints.
    bool same = snapshot->players.size() == m_players.size();
    for (std::size_t i = 0; same && i < m_players.size(); ++i)
        same = m_players[i]->service() == snapshot->players[i].service;
    if (!same) {
        std::vector<std::unique_ptr<MprisPlayer>> players;
        for (const PlayerState &state : snapshot->players) {
            auto kept = std::find_if(m_players.begin(), m_players.end(),
                                     [&](const auto &player) { return player && player->service() == state.service; });
            players.push_back(kept != m_players.end() ? std::move(*kept)
                                                      : std::make_unique<MprisPlayer>(m_directory, state.service));
        }
        m_players = std::move(players);
    }

    std::vector<MprisPlayer *> present;
    for (const auto &player : m_players)
        if (player->Find())
            present.push_back(player.get());
    // Playing ones first; the rest keeps the order by service name.
    std::stable_partition(present.begin(), present.end(), [](MprisPlayer *player) { return player->IsPlaying(); });

    for (MprisPlayer *player : present)
        if (player->RunsInProcess(snapshot->focusedProcess))
            return *player;
    if (!present.empty())
        return *present.front();
    return m_nullPlayer;
}

void PlayersPlugin::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    m_face = bitmap(kKinds[m_kind].face);
    if (m_kind == PlayPauseKey) {
        m_playingOverlay = bitmap(kPlayingOverlay);
        m_titleText = std::make_unique<pixkey::CLocalizableTextRenderer>();
        m_titleText->LoadFont("VELMORA_12PX");
        m_titleText->color = pixkey::RGBQUAD{255, 255, 255, 0};
        m_timeText = std::make_unique<pixkey::CLocalizableTextRenderer>();
        m_timeText->LoadFont("TIMELINE");
        m_timeText->color = pixkey::RGBQUAD{255, 255, 255, 0};
    }
}

int PlayersPlugin::Paint(PkxSurface &surface)
{
    if (!usable(surface))
        return 0;
    MediaPlayer &player = selectActive();
    copyFace(surface, m_face);
    if (m_kind == PlayPauseKey && m_loaded) {
        if (player.IsPlaying())
            copyFace(surface, m_playingOverlay);
        drawTicker(surface, player);
        drawTimeBar(surface, player);
    }
    return 1;
}

void PlayersPlugin::drawTicker(PkxSurface &surface, const MediaPlayer &player)
{
    const std::string title = player.GetTitle();
    const int width = m_titleText->PrintText(nullptr, title.c_str(), m_tickerX, kTitleTop);
    if (width <= PKX_FACE_SIZE) {
        m_tickerX = PKX_FACE_SIZE / 2;
        m_titleText->alignment = pixkey::CTextRenderer::AlignCenter;
    } else {
        m_titleText->alignment = pixkey::CTextRenderer::AlignLeft;
    }
    m_titleText->PrintText(&surface, title.c_str(), m_tickerX, kTitleTop);
    m_tickerX -= kTickerStep;
    if (m_tickerX < -width - kTickerGap)
        m_tickerX = kTickerStart;
}

void PlayersPlugin::drawTimeBar(PkxSurface &surface, const MediaPlayer &player)
{
    const std::int64_t position = player.GetPosition();
    const std::int64_t length = std::int64_t(player.GetLength()) * 1000;
    const std::int64_t remaining = length - position;
    // A length of 0 has nothing to measure the position against (and would divide by zero).
    if (position < 0 || length <= 0 || remaining < 0) {
        fill(surface, 0, kBarTop, PKX_FACE_SIZE, kBarBottom, 0x000000);
        return;
    }
    const int elapsedRight = int(double(position) * kSize / double(length));
    fill(surface, elapsedRight, kBarTop, PKX_FACE_SIZE, kBarBottom, kRemainColour);

    char text[32];
    formatTime(text, sizeof text, "", position);
    m_timeText->alignment = pixkey::CTextRenderer::AlignLeft;
    m_timeText->PrintText(&surface, text, kElapsedX, kTimeTop);
    formatTime(text, sizeof text, "-", remaining);
    m_timeText->alignment = pixkey::CTextRenderer::AlignRight;
    m_timeText->PrintText(&surface, text, kRemainingX, kTimeTop);
}

void PlayersPlugin::OnKeyDown()
{
    if (!m_activated)
        return;
    MediaPlayer &player = selectActive();
    switch (m_kind) {
    case PreviousKey:
        player.Previous();
        break;
    case PlayPauseKey:
        if (player.IsPlaying())
            player.Pause();
        else
            player.Play();
        break;
    case NextKey:
        player.Next();
        break;
    default:
        break;
    }
}

intptr_t PlayersPlugin::GetInfo(int code)
{
    const KindResources &kind = kKinds[m_kind];
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return reinterpret_cast<intptr_t>(kIdentifier);
    case PKX_INFO_NAME:
        return reinterpret_cast<intptr_t>(kind.name);
    case PKX_INFO_DESCRIPTION:
        return reinterpret_cast<intptr_t>(kDescription);
    case PKX_INFO_AUTHOR:
        return reinterpret_cast<intptr_t>(kAuthor);
    case PKX_INFO_EMAIL:
        return reinterpret_cast<intptr_t>(kEmail);
    case PKX_INFO_WEB:
        return reinterpret_cast<intptr_t>(kWeb);
    case PKX_INFO_FUNCTION_COUNT:
        return 3;
    case PKX_INFO_DEFAULT_FUNCTION:
        return 2;
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(icon(kind.icon, 16)));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(icon(kind.icon, 32)));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(bitmap(kind.preview)));
    default:
        return 0;
    }
}

int PlayersPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        m_tickerX = kTickerStart;
        m_directory = m_givenDirectory ? m_givenDirectory : PlayerDirectory::shared();
        m_players.clear();
        m_activated = true;
        load();
    } else if (code == PKX_EVENT_DEACTIVATE) {
        m_players.clear();
        m_directory.reset();
        m_activated = false;
    }
    return 1;
}

} // namespace players
