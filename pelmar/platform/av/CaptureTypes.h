#pragma once

#include "pelmar/platform/media/FormatDescription.h"

namespace pelmar::av {

using media::MediaType;

// Whether the user lets the app use a kind of capture device.
enum class AuthorizationStatus : int {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    Authorized = 3
};

enum class CaptureDevicePosition : int { Unspecified = 0, Back = 1, Front = 2 };

enum class CaptureDeviceType : int {
    BuiltInWideAngleCamera,
    BuiltInDualCamera,
    BuiltInDualWideCamera,
    BuiltInMicrophone,
};

// The orientation of the pictures of a capture connection (same numbers as the interface's).
enum class VideoOrientation : int {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

enum class VideoStabilizationMode : int { Off = 0, Standard = 1, Cinematic = 2, Auto = -1 };

// Capture quality presets. Medium gives 480 x 360 pictures (360 x 480 in portrait); Photo gives
// 1440 x 1080 (4:3) pictures. A camera showing an image gives pictures of the image's size.
enum class SessionPreset : int { Low, Medium, High, Photo };

enum class FlashMode : int { Off = 0, On = 1, Auto = 2 };

// The kinds of capture output, for fault injection.
enum class CaptureOutputKind : int { VideoData, AudioData, Metadata, MovieFile, Photo };

}  // namespace pelmar::av
