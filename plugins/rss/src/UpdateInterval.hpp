// UpdateInterval: the "Update every" slider's positions as download periods, and the text of a
// period in the slider's value box. Pure functions; [any-thread].
#pragma once

#include <string>

namespace pixkey::rss {

// Seconds for slider position p (1..100; 0 also maps): 1, 21, 41, 61, 81 and 100 are exactly
// 1 min, 10 min, 30 min, 1 hr, 8 hrs and 1 day.
int secondsForPosition(int p);
// The position that shows a stored period: the smallest p from 0 to 99 whose seconds reach it,
// else 100.
int positionForSeconds(int seconds);
// "N min" below an hour, "N day" from a day on, "H:MM" between.
std::string intervalText(int seconds);

} // namespace pixkey::rss
