#include "pelmar/platform/ui/Image.h"

#include <array>
#include <cstring>
#include <fstream>
#include <utility>

namespace pelmar::ui {

namespace {

// True when the first bytes of the file are the signature of a PNG, JPEG or GIF picture.
bool hasPictureSignature(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, 8> head{};
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    const auto got = in.gcount();
    static constexpr std::array<unsigned char, 8> kPng{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (got >= 8 && std::memcmp(head.data(), kPng.data(), 8) == 0) {
        return true;
    }
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        return true;
    }
    return got >= 6
           && (std::memcmp(head.data(), "GIF87a", 6) == 0
               || std::memcmp(head.data(), "GIF89a", 6) == 0);
}

}  // namespace

std::shared_ptr<const Image> Image::named(std::string name) {
    if (name.empty()) {
        return nullptr;
    }
    std::shared_ptr<Image> image(new Image());
    image->name_ = std::move(name);
    return image;
}

std::shared_ptr<const Image> Image::fromFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec) || !hasPictureSignature(path)) {
        return nullptr;
    }
    std::shared_ptr<Image> image(new Image());
    image->path_ = path;
    return image;
}

std::shared_ptr<const Image> Image::fromPixels(int width,
                                               int height,
                                               std::shared_ptr<const void> pixels) {
    std::shared_ptr<Image> image(new Image());
    image->width_ = width;
    image->height_ = height;
    image->pixels_ = std::move(pixels);
    return image;
}

}  // namespace pelmar::ui
