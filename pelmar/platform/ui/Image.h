#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::ui {

class Resources;

// Image: an image of the screen model, carrying a typed bitmap. It is one of: a named resource of
// the SDK (decoded from the resource folder; only the name when the folder lacks it), a decoded
// picture file (PNG,
// JPEG or GIF), or a bitmap (a camera frame, a decoded or drawn picture). Its size is in points:
// the bitmap's pixels divided by its scale, turned by its orientation. A file named "name@2x.png"
// or "name@3x.png" has scale 2 or 3.
// Ownership: immutable reference object held by shared_ptr; shares its bitmap.
// Threads: thread-safe (immutable).
// Errors: fromFile() gives null for a file that cannot be read or decoded; fromBitmap() gives
//     null for a null bitmap.
// Limits: picture files above kMaxFileBytes are refused.
class Image {
public:
    static constexpr std::uintmax_t kMaxFileBytes = 128ULL * 1024 * 1024;

    // The resource `name` of the installed resource folder (Resources::installed()).
    static std::shared_ptr<const Image> named(std::string name);

    static std::shared_ptr<const Image> named(std::string name, const Resources& resources);

    // The pixels come out upright: a JPEG's or PNG's EXIF orientation is applied while decoding.
    static std::shared_ptr<const Image> fromFile(const std::filesystem::path& path);

    static std::shared_ptr<const Image> fromBitmap(std::shared_ptr<const image::Bitmap> bitmap);

    // The same picture drawn as a template: only its alpha counts, painted in the tint colour of
    // the view that shows it. Null for null.
    static std::shared_ptr<const Image> asTemplate(const std::shared_ptr<const Image>& image) {
        if (!image) {
            return nullptr;
        }
        std::shared_ptr<Image> copy(new Image(*image));
        copy->template_ = true;
        return copy;
    }

    bool isTemplate() const { return template_; }

    // The resource name; empty for files and bitmaps.
    const std::string& name() const { return name_; }

    // The file it was read from; empty otherwise.
    const std::filesystem::path& path() const { return path_; }

    // Null for a named image whose resource was not loaded.
    const std::shared_ptr<const image::Bitmap>& bitmap() const { return bitmap_; }

    // Size in points (0 without a bitmap).
    double width() const { return bitmap_ ? bitmap_->pointWidth() : 0; }

    double height() const { return bitmap_ ? bitmap_->pointHeight() : 0; }

    double scale() const { return bitmap_ ? bitmap_->scale() : 1.0; }

    image::Orientation orientation() const {
        return bitmap_ ? bitmap_->orientation() : image::Orientation::Up;
    }

private:
    Image() = default;

    std::string name_;
    std::filesystem::path path_;
    std::shared_ptr<const image::Bitmap> bitmap_;
    bool template_ = false;
};

}  // namespace pelmar::ui
