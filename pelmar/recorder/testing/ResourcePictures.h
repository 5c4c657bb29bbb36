#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Image.h"

// Checks that a screen shows one of the SDK's pictures by its pixels, not by its name: a wrong
// picture under the right name, or the right name with no picture, does not pass.
// Threads: any thread. Errors: none.

namespace pelmar::test {

// Whether the resource folder holds the picture `name`.
inline bool ResourcePictureShips(const std::string& name) {
    const auto picture = ui::Image::named(name);
    return picture && picture->bitmap();
}

// Whether `shown` has the pixels of the resource picture `name`.
inline bool ShowsResourcePicture(const std::shared_ptr<const ui::Image>& shown,
                                 const std::string& name) {
    const auto expected = ui::Image::named(name);
    const auto* a = shown ? shown->bitmap().get() : nullptr;
    const auto* b = expected ? expected->bitmap().get() : nullptr;
    if (a == nullptr || b == nullptr) {
        return false;
    }
    if (a == b) {
        return true;
    }
    if (a->width() != b->width() || a->height() != b->height() || a->format() != b->format()) {
        return false;
    }
    const std::size_t rowBytes =
            static_cast<std::size_t>(a->width()) * image::bytesPerPixel(a->format());
    for (int y = 0; y < a->height(); ++y) {
        if (std::memcmp(a->row(y), b->row(y), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace pelmar::test
