// SlideshowProtocol: the text protocol between the Slideshow plug-in and pixkey-impress-bridge.
//
// One request a line on the helper's standard input, one answer a line on its standard output,
// fields separated by tabs. Every answer starts with "ok" (then its fields) or "err" and a message.
//
//   hello                                  ok  GREETING
//   state                                  ok  STAGE COUNT CURRENT WIDTH HEIGHT DOCUMENT CHANGES NAME
//   export DOCUMENT NUMBER WIDTH HEIGHT /PATH   ok   (slide NUMBER as a BMP of WIDTH x HEIGHT pixels)
//   presentations                          ok  N   (open presentations)
//   show                                   ok  CURRENT COUNT   (err when no slide show runs)
//   next | previous | first | goto NUMBER  ok   (err when no slide show runs or no such slide)
//   start | end                            ok   (the active presentation's slide show)
//   open /PATH                             ok  DOCUMENT
//   close DOCUMENT                         ok
//   quit                                   (no answer; the helper ends)
//
// STAGE is how far the state query came: 0 no connection to the office, 1 connected but no
// presentation open, 2 a presentation open but no slide show, 4 a slide show without a current
// slide, 3 a slide show with a current slide. Slide numbers are 1-based. WIDTH and HEIGHT are the
// slides' size in 1/100 mm. DOCUMENT numbers the presentation for the life of the helper; CHANGES
// counts the modifications it reported. NAME is the document's title.
//
// Plain C++, no dependencies: compiled into the helper and into the plug-in. [any-thread]
#pragma once

#include <string>
#include <vector>

namespace slideshow::protocol {

inline constexpr char kGreeting[] = "pixkey-impress-bridge 1";

// Longest line either side sends or accepts, line end excluded.
inline constexpr std::size_t kMaxLine = 4096;

// What the "state" request reports.
struct State {
    int stage = 0;
    int count = 0;
    int current = 0;
    long width = 0;
    long height = 0;
    long document = 0;
    long changes = 0;
    std::string name;

    bool operator==(const State &) const = default;
};

// Splits a line at tabs (an empty line gives no fields).
std::vector<std::string> split(const std::string &line);

// `text` with tabs, line ends and other control characters turned into spaces, cut to fit a line.
std::string clean(const std::string &text);

// A decimal integer, optionally negative, nothing else; false for anything else or an overflow.
bool parseNumber(const std::string &text, long *value);

// The "ok" answer to "state".
std::string formatState(const State &state);

// Reads an answer to "state"; false (and `state` untouched) for anything malformed.
bool parseState(const std::string &answer, State *state);

} // namespace slideshow::protocol
