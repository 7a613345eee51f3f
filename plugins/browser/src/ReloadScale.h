// ReloadScale: the "Reload page every" slider's scale, from one minute at position 1 to one day at
// position 100, and the text of the interval box beside it. Pure functions, any thread.
#pragma once

#include <QString>

namespace browser {

inline constexpr int kReloadSliderMin = 1;
inline constexpr int kReloadSliderMax = 100;

// Seconds for slider position p: base[p / 20] + (p mod 20) x step[p / 20]. Positions 1, 20, 40,
// 60, 80, 100 give 60, 600, 1800, 3600, 28800, 86400; position 0 gives 33. Positions outside
// 0..100 are clamped.
int reloadSeconds(int position);

// The slider position that shows a stored period: the smallest p from 0 up to 99 whose seconds
// are at least `seconds` (100 if none), clamped to the slider's range 1..100.
int reloadPosition(int seconds);

// "%d min" below an hour, "%d day" from a day on, "%d:%02d" (hours and minutes) in between.
QString intervalText(int seconds);

} // namespace browser
