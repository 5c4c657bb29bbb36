#include "pelmar/imageloader/PelmarDecodedImage.h"

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/image/ImageDecoder.h"
#include "pelmar/platform/image/ImageEncoder.h"

namespace pelmar {

std::shared_ptr<image::Bitmap> PelmarDecodedImage::decodedImageWithData(std::string_view data) {
    return decodedImageWithData(data, false);
}

std::shared_ptr<image::Bitmap> PelmarDecodedImage::decodedImageWithData(std::string_view data,
                                                                        bool skipDecodeIfPossible,
                                                                        int64_t maxPixels) {
    if (data.empty()) {
        return nullptr;
    }
    auto result = image::ImageDecoder::decode(
            data, {.maxPixels = maxPixels, .applyOrientation = !skipDecodeIfPossible});
    return std::move(result.bitmap);
}

std::shared_ptr<image::Bitmap> PelmarDecodedImage::decodedImageWithBitmap(
        const image::Bitmap& image, image::Orientation orientation, double scale) {
    return image::BitmapRedraw::redraw(image, orientation, scale);
}

std::shared_ptr<image::Bitmap> PelmarDecodedImage::decodedImageRefWithBitmap(
        const std::shared_ptr<image::Bitmap>& image) {
    if (!image) {
        return nullptr;
    }
    auto redrawn = image::BitmapRedraw::redraw(*image, image::Orientation::Up, image->scale());
    if (!redrawn) {
        return image;
    }
    redrawn->setOrientation(image->orientation());
    return redrawn;
}

int PelmarDecodedImage::imageOrientationFromExif(int exifOrientation) {
    switch (exifOrientation) {
        case 2:
            return 4;
        case 3:
            return 1;
        case 4:
            return 5;
        case 5:
            return 6;
        case 6:
            return 3;
        case 7:
            return 7;
        case 8:
            return 2;
        default:
            return 0;
    }
}

int PelmarDecodedImage::imageOrientationFromImageSource(std::string_view data) {
    const auto header = image::ImageDecoder::readHeader(data);
    return header ? imageOrientationFromExif(header->exifOrientation) : 0;
}

std::optional<std::string> PelmarDecodedImage::JPEGRepresentation(const image::Bitmap& image,
                                                                  double quality) {
    return image::ImageEncoder::encodeJPEG(image, quality);
}

std::optional<std::string> PelmarDecodedImage::PNGRepresentation(const image::Bitmap& image) {
    return image::ImageEncoder::encodePNG(image);
}

std::shared_ptr<image::Bitmap> PelmarScaledImageForKey(
        std::string_view key, const std::shared_ptr<image::Bitmap>& image) {
    if (!image) {
        return nullptr;
    }
    double scale = 1.0;
    if (key.size() >= 8) {
        const auto has = [&](std::string_view mark) { return key.find(mark) != key.npos; };
        if (has("_2x.") || has("@2x.")) {
            scale = 2.0;
        }
        if (has("_3x.") || has("@3x.")) {
            scale = 3.0;
        }
    }
    if (image->scale() == scale) {
        return image;
    }
    auto layout = image->layout();
    layout.scale = scale;
    return image::Bitmap::wrap(image->width(), image->height(), image->stride(), layout,
                               image->data(), image);
}

}  // namespace pelmar
