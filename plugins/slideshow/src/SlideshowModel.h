// SlideshowModel: the Slideshow keys' rules as plain values: the five kinds, the slide a key would
// bring up, the state a face is drawn from, and the size of a slide's thumbnail.
//
// No Qt, no threads, no office: [any-thread], pure functions.
#pragma once

#include <string>

namespace slideshow {

enum Kind { KindSlideshow = 0, KindPrevious = 1, KindNext = 2, KindNextNearest = 3, KindGoto = 4 };
inline constexpr int kKindCount = 5;

// `function` of Create clamped to 0..4.
int clampKind(int function);

// The number of the slide that a key of `kind` brings up on slide `current` of `count`, or 0 when
// there is none: previous for current >= 2; next for current < count; two ahead while there is
// one, the first slide from the last; `gotoIndex` when it is a slide of the presentation.
int targetNumber(int kind, int current, int count, int gotoIndex);

// Identity of a slide: the presentation it belongs to (as numbered by the monitor), the
// presentation's modification count (a changed slide is another picture), and its number.
// `number` 0 means "no slide".
struct SlideIdentity {
    long long document = 0;
    long changes = 0;
    int number = 0;

    bool valid() const { return number > 0; }
    bool operator==(const SlideIdentity &) const = default;
};

// How far a look at the presentation program came.
enum Stage {
    StageNoProgram = 0,  // no program, or no connection to it
    StageNoPresentation = 1,
    StageNoShow = 2,     // a presentation is open, no slide show runs
    StageCurrentSlide = 3,
    StageNoCurrentSlide = 4, // a slide show runs without a current slide
};

// What a face is drawn from; two states that compare equal by sameFace() draw the same face.
struct ShowState {
    SlideIdentity targetSlide; // none when !targetSlide.valid()
    int stage = StageNoProgram;
    std::string name;          // the presentation's name
    int thumbnailOk = 1;       // 0 when the last thumbnail could not be made
    int targetNumber = 0;      // the target's number, 0 when none was taken
    int current = 0;
    int count = 0;

    bool sameFace(const ShowState &other) const
    {
        return targetSlide == other.targetSlide && stage == other.stage && thumbnailOk == other.thumbnailOk
               && name == other.name;
    }
};

// Size in pixels of a slide's picture on a key, from the slide's size in any unit: 96 wide and
// proportionally high for a slide wider than high, 96 high and proportionally wide otherwise.
// The picture is made at twice this size. A slide without a size counts as 4:3.
struct ThumbnailSize {
    int width = 96;
    int height = 72;
    bool operator==(const ThumbnailSize &) const = default;
};
ThumbnailSize thumbnailSize(long slideWidth, long slideHeight);

} // namespace slideshow
