#pragma once

#include <cstddef>
#include <string_view>

namespace pelmar::image {

// ExifReader: finds the orientation tag (0x0112 of the first image directory) in EXIF data, either
// in a JPEG's "Exif" APP1 segment or in a bare TIFF block such as a PNG's eXIf chunk.
// Ownership: static functions over borrowed bytes; nothing is kept.
// Threads: thread-safe.
// Errors: none; missing, truncated or malformed data reads as "no orientation" (0).
// Limits: at most kMaxDirectoryEntries entries of the directory are looked at; every offset is
//     checked against the block before it is read, and the JPEG scan stops at the first
//     start-of-scan marker.
class ExifReader {
public:
    static constexpr std::size_t kMaxDirectoryEntries = 1024;

    ExifReader() = delete;

    // The orientation value of a TIFF block ("II*\0" or "MM\0*"), or 0 when there is none. The
    // value is returned as stored, even outside the EXIF range 1-8.
    static int orientationFromTIFF(std::string_view tiff);

    // The orientation value of the first APP1 segment of a JPEG that starts "Exif\0\0", or 0.
    static int orientationFromJPEG(std::string_view jpeg);
};

}  // namespace pelmar::image
