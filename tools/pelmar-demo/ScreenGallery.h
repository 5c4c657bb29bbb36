#pragma once

#include <string>
#include <vector>

// The `screens` command: a gallery of every screen of the SDK. It hosts the screens as a host app
// does (pelmar::ScreenHost, the synthetic camera and microphone, local media written here),
// opens each through the public facade or the public screen classes, drives it to its main state,
// writes one PNG per screen and an index.html contact sheet into the folder given by --out, and
// prints a line per picture. Returns the process exit status: 0 when every screen was shown and
// written, 1 when one was not (each named on stderr), 2 for wrong arguments.
// Threads: main thread only (it becomes the main thread).

namespace pelmar::demo {

int runScreenGallery(const std::vector<std::string>& arguments);

}  // namespace pelmar::demo
