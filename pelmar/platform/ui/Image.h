#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace pelmar::ui {

// Image: an image of the screen model. It is one of: a named resource of the SDK (the name is all
// it holds), a picture file that was checked to be a PNG, JPEG or GIF, or a picture made from
// pixels (a camera frame), which keeps the pixel owner alive.
// Ownership: immutable reference object held by shared_ptr.
// Threads: thread-safe (immutable).
// Errors: fromFile() gives null for a file that cannot be read or is not a known picture format.
class Image {
public:
    static std::shared_ptr<const Image> named(std::string name);

    static std::shared_ptr<const Image> fromFile(const std::filesystem::path& path);

    // `pixels` is whatever owns the picture's memory (for example a pixel buffer).
    static std::shared_ptr<const Image> fromPixels(int width,
                                                   int height,
                                                   std::shared_ptr<const void> pixels);

    // The resource name; empty for files and pixels.
    const std::string& name() const { return name_; }

    // The file it was read from; empty otherwise.
    const std::filesystem::path& path() const { return path_; }

    int width() const { return width_; }

    int height() const { return height_; }

    const std::shared_ptr<const void>& pixels() const { return pixels_; }

private:
    Image() = default;

    std::string name_;
    std::filesystem::path path_;
    int width_ = 0;
    int height_ = 0;
    std::shared_ptr<const void> pixels_;
};

}  // namespace pelmar::ui
