#pragma once

namespace pelmar::ui {

// How a presented view controller covers its presenter. FullScreen and CurrentContext take the
// presenter off screen (it gets disappearance callbacks); the others leave it visible underneath.
// Automatic is what a controller has until told otherwise, and behaves as PageSheet.
enum class ModalPresentationStyle : int {
    FullScreen = 0,
    PageSheet = 1,
    FormSheet = 2,
    CurrentContext = 3,
    Custom = 4,
    OverFullScreen = 5,
    OverCurrentContext = 6,
    Popover = 7,
    None = -1,
    Automatic = -2,
};

}  // namespace pelmar::ui
