#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelmar::av {

// A corner of a found object, normalised to [0, 1] of the picture, origin at the top left.
struct MetadataPoint {
    double x = 0;
    double y = 0;

    friend bool operator==(const MetadataPoint&, const MetadataPoint&) = default;
};

// MetadataObject: something a metadata output found in a camera picture: a machine-readable code
// (its type is one of CaptureMetadataOutput's code types) with its decoded text and its corners,
// or a face. Bounds are normalised to [0, 1] of the picture, origin at the top left.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none; a code whose content is not text has no stringValue.
struct MetadataObject {
    std::string type;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    std::optional<std::string> stringValue;
    // Clockwise from the code's own top left; empty for faces.
    std::vector<MetadataPoint> corners;

    bool isMachineReadableCode() const { return !corners.empty() || stringValue.has_value(); }
};

}  // namespace pelmar::av
