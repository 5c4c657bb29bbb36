#pragma once

#include <optional>
#include <string>

// ButtonConfig: the look of one recorder button: its image paths, scale and optional size.
// Ownership: plain value, copyable.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar {

struct ButtonConfig {
    std::optional<std::string> imagePath;
    std::optional<std::string> selectedImagePath;
    double scale = 1.0;
    std::optional<double> width;
    std::optional<double> height;
};

}  // namespace pelmar
