// VolumePlugin: one key of the Volume plug-in. The library offers three functions: 1 "Up" raises
// the default output's master level by a tenth, 2 "Down" lowers it, 3 "Mute" toggles its mute
// switch; 0 is the object that only describes the library. Every key shows its own picture with a
// ten-segment bar along the bottom that follows the level and the mute state, also when another
// program changes them.
//
// Created and deleted on the host's main thread; the object owns its VolumeControl. Paint,
// OnKeyDown and OnEvent run on the instance's paint thread. GetInfo runs on the main thread and
// reads only the kind, which never changes; nothing else is shared between the two.
#pragma once

#include "VolumeControl.h"

#include <pixkey_plugin.hpp>

#include <QImage>

#include <cstdint>
#include <memory>

namespace volume {

// The bar along the bottom of every face: ten segments of 5x7 pixels from x = 17, y = 80, one lit
// for every full tenth (6553) of the level; lit segments are white, or light grey outlines when
// muted. Draws into `surface`, clipped to it. [any-thread]
void drawVolumeBar(PkxSurface &surface, unsigned level, bool muted);

class VolumePlugin : public pkx::Plugin<VolumePlugin> {
public:
    enum Kind { Describing = 0, Up = 1, Down = 2, Mute = 3 };

    // One press moves the level by a tenth of the range.
    static constexpr unsigned kStep = 6553;

    // The kind for `function`: clamped to 0..3.
    static int kindFor(int function);

    // A key of kind kindFor(function) driving `mixer` (may be null: the key then shows an empty
    // bar and does nothing).
    VolumePlugin(int function, std::unique_ptr<VolumeControl> mixer);
    ~VolumePlugin();

    int kind() const { return m_kind; }

    // [paint-thread] Draws the face and the bar when the level, the mute state or an activation
    // asks for it: 1 then, 0 when nothing changed.
    int Paint(PkxSurface &surface);
    // [paint-thread] Up and Down unmute first, then move the level by kStep within 0..65535;
    // Mute toggles the mute switch; the describing object does nothing.
    void OnKeyDown();
    // [main-thread] Texts, counts and fresh images; 0 for codes not answered.
    intptr_t GetInfo(int code);
    // [paint-thread] 1 loads the face and opens the mixer, 2 closes it and frees the face. Always 1.
    int OnEvent(int code);

private:
    const int m_kind;
    const std::unique_ptr<VolumeControl> m_mixer;
    QImage m_face;                  // Format_BGR888, loaded while active
    std::uint32_t m_shownLevel = 0; // what the face last showed
    int m_shownMute = 0;
    std::uint8_t m_redraw = 0;      // 1: the next Paint draws whatever the state
};

} // namespace volume
