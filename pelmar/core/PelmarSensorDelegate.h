#pragma once

#include <cstdint>

// PelmarSensorDelegate: light, sound and face readings of the camera recorder. Optional methods.
// Ownership: held strongly by the facade.
// Threads: light and sound on the recorder's session queue, faces on the main queue;
//     implementations must be thread-safe.
// Errors: none.

namespace pelmar {

// A rectangle in preview coordinates.
struct FaceRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

class PelmarSensorDelegate {
public:
    virtual ~PelmarSensorDelegate() = default;

    // The EXIF brightness value of a camera frame.
    virtual void luxMeter(double /*brightness*/) {}

    // The microphone level, 0 to 1.
    virtual void audioMeter(double /*level*/) {}

    virtual void faceDetected(int64_t /*faceID*/, const FaceRect& /*rect*/) {}
};

}  // namespace pelmar
