// JPEG data through the image decoder: see ImageDecoderFuzz.h for what must hold.
#include "ImageDecoderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return pelmar::image::fuzz::decodeAs(pelmar::image::ImageFormat::JPEG, data, size);
}
