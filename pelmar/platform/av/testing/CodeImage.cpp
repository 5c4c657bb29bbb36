#include "pelmar/platform/av/testing/CodeImage.h"

#include <ZXing/BarcodeFormat.h>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <algorithm>
#include <cstring>

namespace pelmar::av::test {

namespace {

std::shared_ptr<media::PixelBuffer> whitePicture(int width, int height) {
    auto picture = media::PixelBuffer::create(width, height, media::PixelFormat::BGRA32);
    std::memset(picture->data(), 0xFF, picture->bytesPerRow() * static_cast<size_t>(height));
    return picture;
}

// Paints the dark modules of `matrix`, stretched over `where`, black.
void paint(media::PixelBuffer& picture,
           const ZXing::BitMatrix& matrix,
           CodePlacement where,
           int height) {
    const int w = std::max(1, where.side);
    const int h = std::max(1, height);
    for (int y = std::max(0, where.top); y < std::min(picture.height(), where.top + h); ++y) {
        const int my = (y - where.top) * matrix.height() / h;
        for (int x = std::max(0, where.left); x < std::min(picture.width(), where.left + w); ++x) {
            const int mx = (x - where.left) * matrix.width() / w;
            if (matrix.get(mx, my)) {
                uint8_t* p = picture.data() + static_cast<size_t>(y) * picture.bytesPerRow()
                             + static_cast<size_t>(x) * 4;
                p[0] = p[1] = p[2] = 0;
            }
        }
    }
}

CodePlacement centred(int width, int height, CodePlacement where) {
    if (where.side <= 0) {
        where.side = std::min(width, height) / 2;
        where.left = (width - where.side) / 2;
        where.top = (height - where.side) / 2;
    }
    return where;
}

}  // namespace

void CodeImage::drawQrCode(media::PixelBuffer& picture,
                           const std::string& text,
                           CodePlacement where) {
    where = centred(picture.width(), picture.height(), where);
    // One module per matrix cell, with the standard quiet zone of four modules.
    const auto matrix =
            ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode).setMargin(4).encode(text, 0, 0);
    paint(picture, matrix, where, where.side);
}

std::shared_ptr<media::PixelBuffer> CodeImage::qrCode(const std::string& text,
                                                      int width,
                                                      int height,
                                                      CodePlacement where) {
    auto picture = whitePicture(width, height);
    drawQrCode(*picture, text, where);
    return picture;
}

std::shared_ptr<media::PixelBuffer> CodeImage::ean13(const std::string& digits,
                                                     int width,
                                                     int height,
                                                     CodePlacement where) {
    auto picture = whitePicture(width, height);
    const auto matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::EAN13)
                                .setMargin(10)
                                .encode(digits, 0, 1);
    paint(*picture, matrix, where, where.side / 2);
    return picture;
}

}  // namespace pelmar::av::test
