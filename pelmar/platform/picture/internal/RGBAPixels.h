#pragma once

// RGBAPixels: the pixel owner of the RGBA images this folder makes. Images are recognised as
// ours by the owner's deleter type (std::get_deleter), so their bytes can be read back.
// Ownership: held by the image through shared_ptr<const void>.
// Threads: immutable once made.
// Errors: none.

#include <memory>
#include <string>

namespace pelmar::picture::internal {

struct RGBAPixels {
    std::string bytes;  // width * height * 4
};

struct RGBAPixelsDeleter {
    void operator()(const RGBAPixels* pixels) const { delete pixels; }
};

// The bytes of an RGBA image made here, or null for any other pixel owner.
inline const RGBAPixels* rgbaPixelsOf(const std::shared_ptr<const void>& owner) {
    if (!owner || std::get_deleter<RGBAPixelsDeleter>(owner) == nullptr) {
        return nullptr;
    }
    return static_cast<const RGBAPixels*>(owner.get());
}

}  // namespace pelmar::picture::internal
