#include "pelmar/platform/image/ExifReader.h"

#include <cstdint>

namespace pelmar::image {
namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;

class TiffView {
public:
    TiffView(std::string_view bytes, bool littleEndian) : bytes_(bytes), little_(littleEndian) {}

    bool has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }

    uint16_t u16(std::size_t offset) const {
        const auto a = static_cast<uint8_t>(bytes_[offset]);
        const auto b = static_cast<uint8_t>(bytes_[offset + 1]);
        return static_cast<uint16_t>(little_ ? (b << 8) | a : (a << 8) | b);
    }

    uint32_t u32(std::size_t offset) const {
        const uint32_t hi = u16(offset);
        const uint32_t lo = u16(offset + 2);
        return little_ ? (lo << 16) | hi : (hi << 16) | lo;
    }

private:
    std::string_view bytes_;
    bool little_;
};

}  // namespace

int ExifReader::orientationFromTIFF(std::string_view tiff) {
    if (tiff.size() < 8) {
        return 0;
    }
    bool little;
    if (tiff.substr(0, 4) == std::string_view("II*\0", 4)) {
        little = true;
    } else if (tiff.substr(0, 4) == std::string_view("MM\0*", 4)) {
        little = false;
    } else {
        return 0;
    }
    const TiffView view(tiff, little);
    const std::size_t directory = view.u32(4);
    if (!view.has(directory, 2)) {
        return 0;
    }
    std::size_t entries = view.u16(directory);
    if (entries > kMaxDirectoryEntries) {
        entries = kMaxDirectoryEntries;
    }
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + i * 12;
        if (!view.has(entry, 12)) {
            return 0;
        }
        if (view.u16(entry) != kOrientationTag) {
            continue;
        }
        // A SHORT with count 1 sits in the first two bytes of the value field.
        if (view.u16(entry + 2) != kShortType || view.u32(entry + 4) < 1) {
            return 0;
        }
        return view.u16(entry + 8);
    }
    return 0;
}

int ExifReader::orientationFromJPEG(std::string_view jpeg) {
    if (jpeg.size() < 4 || static_cast<uint8_t>(jpeg[0]) != 0xFF
        || static_cast<uint8_t>(jpeg[1]) != 0xD8) {
        return 0;
    }
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size()) {
        if (static_cast<uint8_t>(jpeg[pos]) != 0xFF) {
            return 0;
        }
        const auto marker = static_cast<uint8_t>(jpeg[pos + 1]);
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {  // start of scan, end of image: no EXIF
            return 0;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without length
            pos += 2;
            continue;
        }
        const std::size_t length =
                (static_cast<std::size_t>(static_cast<uint8_t>(jpeg[pos + 2])) << 8)
                | static_cast<uint8_t>(jpeg[pos + 3]);
        if (length < 2 || length > jpeg.size() - pos - 2) {
            return 0;
        }
        const std::string_view body = jpeg.substr(pos + 4, length - 2);
        if (marker == 0xE1 && body.size() >= 6
            && body.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
            return orientationFromTIFF(body.substr(6));
        }
        pos += 2 + length;
    }
    return 0;
}

}  // namespace pelmar::image
