#include "pelmar/imageloader/PelmarImageDetectors.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace pelmar {

bool pelmar_isGIF(std::string_view data) {
    return data.size() >= 3 && data.substr(0, 3) == "GIF";
}

namespace {

// Skips sub-blocks from `pos` (a size byte s, then s bytes, repeated while s was 255); answers
// the position after the last one, or none when a read would pass the end.
std::optional<std::size_t> skipSubBlocks(std::string_view data, std::size_t pos) {
    for (;;) {
        if (pos >= data.size()) {
            return std::nullopt;
        }
        const auto size = static_cast<uint8_t>(data[pos]);
        pos += static_cast<std::size_t>(size) + 1;
        if (size != 255) {
            return pos;
        }
    }
}

}  // namespace

bool pelmar_isAnimatedGIF(std::string_view data) {
    if (!pelmar_isGIF(data)) {
        return false;
    }
    bool seenControl = false;
    std::size_t pos = 0;
    for (;;) {
        while (pos < data.size() && static_cast<uint8_t>(data[pos]) != 0x21) {
            ++pos;
        }
        if (pos + 1 >= data.size()) {
            return false;
        }
        if (static_cast<uint8_t>(data[pos + 1]) != 0xF9) {
            ++pos;
            continue;
        }
        if (seenControl) {
            return true;
        }
        seenControl = true;
        // The extension's sub-blocks, ending on its terminator.
        const auto afterExtension = skipSubBlocks(data, pos + 2);
        if (!afterExtension) {
            return false;
        }
        const std::size_t terminator = *afterExtension;
        if (terminator + 1 >= data.size() || terminator + 12 >= data.size()) {
            return false;
        }
        // Past the image descriptor and the code-size byte to the first image-data sub-block.
        const auto afterImage = skipSubBlocks(data, terminator + 12);
        if (!afterImage) {
            return false;
        }
        pos = *afterImage + 1;
    }
}

}  // namespace pelmar
