#pragma once

#include <cstdint>

namespace pelmar::av {

// MetadataFaceObject: a face found in a camera picture. Bounds are in device coordinates:
// normalised to [0, 1] of the camera's own picture (landscape right, unmirrored), origin at the
// top left; a preview layer turns them into its own (transformedMetadataObject).
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct MetadataFaceObject {
    int64_t faceID = 0;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

}  // namespace pelmar::av
