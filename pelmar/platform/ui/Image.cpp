#include "pelmar/platform/ui/Image.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "pelmar/platform/image/PictureCodec.h"
#include "pelmar/platform/ui/Resources.h"

namespace pelmar::ui {

namespace {

// 2 for "name@2x.png", 3 for "name@3x.jpg", 1 otherwise.
double scaleOfFileName(const std::filesystem::path& path) {
    const std::string stem = path.stem().string();
    if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, "@2x") == 0) {
        return 2;
    }
    if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, "@3x") == 0) {
        return 3;
    }
    return 1;
}

}  // namespace

std::shared_ptr<const Image> Image::named(std::string name) {
    return named(std::move(name), Resources::installed());
}

std::shared_ptr<const Image> Image::named(std::string name, const Resources& resources) {
    if (name.empty()) {
        return nullptr;
    }
    std::shared_ptr<Image> image(new Image());
    if (auto path = resources.imagePath(name)) {
        if (auto file = fromFile(*path)) {
            image->path_ = file->path_;
            image->bitmap_ = file->bitmap_;
        }
    }
    image->name_ = std::move(name);
    return image;
}

std::shared_ptr<const Image> Image::fromFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)
        || std::filesystem::file_size(path, ec) > kMaxFileBytes || ec) {
        return nullptr;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto bitmap = image::PictureCodec::decode(bytes);
    if (!bitmap) {
        return nullptr;
    }
    bitmap->setScale(scaleOfFileName(path));
    std::shared_ptr<Image> image(new Image());
    image->path_ = path;
    image->bitmap_ = std::move(bitmap);
    return image;
}

std::shared_ptr<const Image> Image::fromBitmap(std::shared_ptr<const image::Bitmap> bitmap) {
    if (!bitmap) {
        return nullptr;
    }
    std::shared_ptr<Image> image(new Image());
    image->bitmap_ = std::move(bitmap);
    return image;
}

}  // namespace pelmar::ui
