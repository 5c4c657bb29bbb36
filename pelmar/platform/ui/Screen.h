#pragma once

#include "pelmar/platform/ui/EdgeInsets.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::ui {

// Screen: the display the app's windows are on: its bounds in points (they swap width and height
// when the interface rotates), points-to-pixels scale, the most frames per second it shows and
// the insets its hardware keeps clear (notch, home indicator) in the current orientation.
// Ownership: one main screen for the process (Screen::main()), never destroyed.
// Threads: main thread only.
// Errors: none.
class Screen {
public:
    static Screen& main();

    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    Rect bounds() const { return bounds_; }

    double scale() const { return scale_; }

    int maximumFramesPerSecond() const { return maximumFramesPerSecond_; }

    EdgeInsets safeAreaInsets() const { return safeAreaInsets_; }

    // Describes the device (tests and hosts); reset() goes back to a 390 x 844 phone at scale 3,
    // 60 frames per second, insets 47 top and 34 bottom.
    void configure(Size size, double scale, int maximumFramesPerSecond, EdgeInsets safeArea);

    // The interface turned: width and height swap and the insets turn with it.
    void setBoundsSize(Size size, EdgeInsets safeArea);

    void reset();

private:
    Screen();

    Rect bounds_;
    double scale_ = 3;
    int maximumFramesPerSecond_ = 60;
    EdgeInsets safeAreaInsets_;
};

}  // namespace pelmar::ui
