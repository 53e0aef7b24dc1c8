#pragma once

namespace platform {

// Scroll codes of a horizontal scroll bar action.
inline constexpr int scrollLineLeft = 0;
inline constexpr int scrollLineRight = 1;
inline constexpr int scrollPageLeft = 2;
inline constexpr int scrollPageRight = 3;
inline constexpr int scrollThumbPosition = 4;
inline constexpr int scrollThumbTrack = 5;
inline constexpr int scrollEnd = 8;

// A standalone horizontal scroll bar. Positions run from min to max - page + 1
// (the thumb covers one page), as a classic desktop scroll bar does.
class ScrollBar {
public:
    struct Info {
        int min = 0;
        int max = 0;
        int page = 0;
        int pos = 0;
    };
    // Which fields of Info a call sets.
    static constexpr unsigned setsRange = 1;
    static constexpr unsigned setsPage = 2;
    static constexpr unsigned setsPosition = 4;

    virtual ~ScrollBar() = default;
    // Sets the fields named by mask and redraws the bar.
    virtual void setInfo(const Info& info, unsigned mask) = 0;
    virtual Info info() = 0;
    // Where the user is dragging the thumb (valid during a thumb-track action;
    // the position otherwise). The bar itself never moves the position: after
    // an action it stays until setInfo moves it.
    virtual int trackPosition() = 0;
};

} // namespace platform
