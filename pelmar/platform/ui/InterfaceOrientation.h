#pragma once

namespace pelmar::ui {

// The orientation of the app's interface (raw values as the system numbers them).
enum class InterfaceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

// The physical orientation of the device. 1-4 match InterfaceOrientation's numbers.
enum class DeviceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 3,
    LandscapeRight = 4,
    FaceUp = 5,
    FaceDown = 6,
};

}  // namespace pelmar::ui
