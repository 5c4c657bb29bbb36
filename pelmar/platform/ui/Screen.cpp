#include "pelmar/platform/ui/Screen.h"

namespace pelmar::ui {

Screen& Screen::main() {
    static auto* screen = new Screen();  // never destroyed
    return *screen;
}

Screen::Screen() {
    reset();
}

void Screen::configure(Size size, double scale, int maximumFramesPerSecond, EdgeInsets safeArea) {
    bounds_ = Rect::of({}, size);
    scale_ = scale;
    maximumFramesPerSecond_ = maximumFramesPerSecond;
    safeAreaInsets_ = safeArea;
}

void Screen::setBoundsSize(Size size, EdgeInsets safeArea) {
    bounds_ = Rect::of({}, size);
    safeAreaInsets_ = safeArea;
}

void Screen::reset() {
    configure({390, 844}, 3, 60, EdgeInsets{47, 0, 34, 0});
}

}  // namespace pelmar::ui
