// EXIF orientation reading from arbitrary bytes, taken both as a JPEG and as a TIFF block: nothing
// may read outside the input.
#include "pelmar/platform/image/ExifReader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    pelmar::image::ExifReader::orientationFromJPEG(bytes);
    pelmar::image::ExifReader::orientationFromTIFF(bytes);
    return 0;
}
