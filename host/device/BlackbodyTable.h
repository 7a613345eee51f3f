#pragma once
// The colour of a blackbody radiator, 8-bit sRGB for the 10-degree observer, from 1000 K to
// 40000 K in steps of 100 K: entry n is 1000 + 100 n kelvin. Read-only data; any thread.

#include <cstdint>

namespace pixkey {

struct BlackbodyColour {
    uint8_t red, green, blue;
};

inline constexpr int kBlackbodyRows = 391;
extern const BlackbodyColour kBlackbodyTable[kBlackbodyRows];

} // namespace pixkey
