#include "VolumePlugin.h"

#include "VolumeResources.h"

#include <algorithm>
#include <cstring>
#include <pixkey/utility/PkxImages.h>

namespace volume {

namespace {

const char kIdentifier[] = "prt.volume.mfc5";
const char kRightsNotice[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "pixkey-dev@example.org";
const char kHomePage[] = "https://pixkey.example.org/plugins/volume";

// Per kind: the name, the icon and the face.
struct KindResources {
    const char *name;
    const char *icon;
    const char *face;
};
constexpr KindResources kResources[] = {
    {"Volume", "IDI_UP", "IDB_UP"},
    {"Up", "IDI_UP", "IDB_UP"},
    {"Down", "IDI_DOWN", "IDB_DOWN"},
    {"Mute", "IDI_MUTE", "IDB_MUTE"},
};

constexpr int kSegments = 10;
constexpr int kBarTop = 80;
constexpr int kBarBottom = 87; // exclusive
constexpr std::uint32_t kUnlit = 0x5A5A5A;
constexpr std::uint32_t kLit = 0xFFFFFF;
constexpr std::uint32_t kLitMuted = 0x8C8C8C;

intptr_t text(const char *value)
{
    return reinterpret_cast<intptr_t>(value);
}

// Fills left..right x top..bottom (right and bottom exclusive) with `rgb`, clipped to the surface.
void fill(PkxSurface &surface, int left, int top, int right, int bottom, std::uint32_t rgb)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, surface.width);
    bottom = std::min(bottom, surface.height);
    const std::uint8_t blue = rgb & 0xFF;
    const std::uint8_t green = (rgb >> 8) & 0xFF;
    const std::uint8_t red = (rgb >> 16) & 0xFF;
    for (int y = top; y < bottom; ++y) {
        std::uint8_t *pixel = surface.bits + std::ptrdiff_t(y) * surface.stride + std::ptrdiff_t(left) * 3;
        for (int x = left; x < right; ++x, pixel += 3) {
            pixel[0] = blue;
            pixel[1] = green;
            pixel[2] = red;
        }
    }
}

} // namespace

void drawVolumeBar(PkxSurface &surface, unsigned level, bool muted)
{
    const int lit = int(std::min(level / VolumePlugin::kStep, unsigned(kSegments)));
    for (int i = 0; i < kSegments; ++i) {
        const int x = 18 + 6 * i;
        const std::uint32_t colour = i >= lit ? kUnlit : muted ? kLitMuted : kLit;
        fill(surface, x - 1, kBarTop, x + 4, kBarBottom, colour);
        // Muted segments show as outlines.
        if (muted)
            fill(surface, x, kBarTop + 1, x + 3, kBarBottom - 1, kUnlit);
    }
}

int VolumePlugin::kindFor(int function)
{
    return std::clamp(function, int(Describing), int(Mute));
}

VolumePlugin::VolumePlugin(int function, std::unique_ptr<VolumeControl> mixer)
    : m_kind(kindFor(function)), m_mixer(std::move(mixer))
{
}

VolumePlugin::~VolumePlugin() = default;

int VolumePlugin::Paint(PkxSurface &surface)
{
    const unsigned level = m_mixer ? m_mixer->GetVolume() : 0;
    const int muted = m_mixer ? m_mixer->GetMute() : 0;
    if (level == m_shownLevel && muted == m_shownMute && !m_redraw)
        return 0;
    if (!surface.bits)
        return 0;

    const int rows = std::min(surface.height, int(PKX_FACE_SIZE));
    const int columns = std::min(surface.width, int(PKX_FACE_SIZE));
    for (int y = 0; y < rows; ++y) {
        std::uint8_t *line = surface.bits + std::ptrdiff_t(y) * surface.stride;
        if (m_face.isNull())
            std::memset(line, 0, std::size_t(columns) * 3);
        else
            std::memcpy(line, m_face.constScanLine(y), std::size_t(columns) * 3);
    }
    drawVolumeBar(surface, level, muted != 0);

    m_shownLevel = level;
    m_shownMute = muted;
    m_redraw = 0;
    return 1;
}

void VolumePlugin::OnKeyDown()
{
    if (!m_mixer || m_kind == Describing)
        return;
    if (m_kind == Mute) {
        m_mixer->SetMute(m_mixer->GetMute() ? 0 : 1);
        return;
    }
    // A volume key always makes itself heard: it unmutes before it moves the level.
    if (m_mixer->GetMute())
        m_mixer->SetMute(0);
    unsigned v = std::min(m_mixer->GetVolume(), VolumeControl::kFullLevel);
    if (m_kind == Up)
        v = VolumeControl::kFullLevel - v > kStep ? v + kStep : VolumeControl::kFullLevel;
    else
        v = v > kStep ? v - kStep : 0;
    m_mixer->SetVolume(v);
}

intptr_t VolumePlugin::GetInfo(int code)
{
    const KindResources &resources = kResources[m_kind];
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return text(kIdentifier);
    case PKX_INFO_NAME:
        return text(resources.name);
    case PKX_INFO_AUTHOR:
        return text(kRightsNotice);
    case PKX_INFO_EMAIL:
        return text(kEmail);
    case PKX_INFO_WEB:
        return text(kHomePage);
    case PKX_INFO_FUNCTION_COUNT:
        return 3;
    case PKX_INFO_PAINT_PERIOD:
        return 500;
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(iconImage(resources.icon, 16)));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(iconImage(resources.icon, 32)));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(faceBitmap(resources.face)));
    default:
        return 0;
    }
}

int VolumePlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        m_redraw = 1;
        m_face = faceBitmap(kResources[m_kind].face).convertToFormat(QImage::Format_BGR888);
        if (m_face.width() != PKX_FACE_SIZE || m_face.height() != PKX_FACE_SIZE)
            m_face = QImage(); // a black face rather than rows read past a picture's end
        if (m_mixer)
            m_mixer->Open();
    } else if (code == PKX_EVENT_DEACTIVATE) {
        if (m_mixer)
            m_mixer->Close();
        m_face = QImage();
    }
    return 1;
}

} // namespace volume
