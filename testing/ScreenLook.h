#pragma once

#include <string>
#include <vector>

#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::test {

// What a look check expects of a screen beyond its controls and labels.
struct LookExpectation {
    // At least this many live pictures (camera previews and player layers) in the screen.
    int pictures = 0;
    // Views held to no check (an invisible area that only takes taps, for example).
    std::vector<const ui::View*> ignoring;
};

// Paints `window` and checks what a user sees of `screen` (a view in it) there: every live
// picture is not blank and shows its source's colours (the camera's frame, the player's picture
// at its current time) where its layer stands; every visible control draws something inside its
// frame; every visible label with text has ink where its text stands. "Something" and "ink" mean
// pixels that differ from the area's main colour, and a control must paint more than its layer's
// background and border (a blank circle tells the user nothing); a bare control that paints
// nothing is a tap area over its superview, and what the superview paints there (besides its own
// background and border) counts for it. Returns one line per fault,
// naming the view, parted into the live pictures' faults and the controls' and labels'.
// Threads: main thread only. Errors: the faults; a window that cannot be painted is one.
struct LookFaults {
    std::vector<std::string> pictures;
    std::vector<std::string> drawing;  // controls and labels
};

LookFaults lookFaults(ui::Window& window, ui::View& screen, const LookExpectation& expected);

}  // namespace pelmar::test
