// BrowserSettings: the eleven settings of a Browser key and their exchange as named text
// properties (indices 256 to 266), as the host stores them with a layout.
//
// A plain value; the plug-in guards its copy with its own lock.
#pragma once

#include <string>

namespace browser {

// The page shown by a new Browser key, and the address its press opens by default.
inline constexpr const char kDefaultUrl[] = "https://news.ycombinator.com/";

struct BrowserSettings {
    int height = 1024;          // "Height": height of the off-screen page, pixels
    int width = 1024;           // "Width": width of the off-screen page, pixels
    std::string url = kDefaultUrl;    // "URL": the page shown
    std::string target = kDefaultUrl; // "Target": opened by a press with Action 2
    int reloadPeriod = 420;     // "ReloadPeriod": seconds between reloads
    int autoscroll = 0;         // "Autoscroll": 1 scrolls one step per capture
    int animation = 0;          // "Animation": 1 captures at every paint
    int targetTop = 0;          // "TargetTop": top of the shown square, page pixels
    int targetLeft = 0;         // "TargetLeft": left of the shown square, page pixels
    int targetSize = 96;        // "TargetSize": side of the shown square, page pixels
    int action = 1;             // "Action": 0 reload, 1 also open the page shown, 2 also open Target

    bool operator==(const BrowserSettings &) const = default;
};

// Smallest and largest side of the off-screen page. The page and each capture of it are held in
// memory, so a stored size beyond this is rendered at the bound instead of exhausting memory.
inline constexpr int kMinPageSide = 96;
inline constexpr int kMaxPageSide = 4096;

// The page size the renderer uses for a stored Width or Height.
int pageSide(int stored);

// Fills the host's 256-byte buffers with property `index` (256 + i) and returns 1; 0 for an index
// that is not one of the eleven. Strings are cut to fit at a UTF-8 character boundary.
int getProperty(const BrowserSettings &settings, int index, char *name, char *value);

// Sets the property called `name` (compared over at most 256 characters, case-sensitive) and
// returns 1; 0 for an unknown name. Integers are read as decimal like atoi (leading blanks and a
// sign, then digits; anything else reads as 0), saturated to the int range.
int setProperty(BrowserSettings &settings, const char *name, const char *value);

} // namespace browser
