#include "tools/pelmar-demo/GalleryMedia.h"

#include <ZXing/BarcodeFormat.h>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <numbers>
#include <vector>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/image/ImageEncoder.h"
#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::demo {

namespace {

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

struct ColorMapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

// Writes `bytes` of a little-endian integer.
void putLittle(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

std::optional<std::string> writeGalleryJpeg(const std::filesystem::path& file,
                                            int width,
                                            int height,
                                            int variant) {
    auto picture = image::Bitmap::create(width, height, image::PixelFormat::RGBA8);
    if (!picture) {
        return "cannot make a picture of " + std::to_string(width) + "x" + std::to_string(height);
    }
    const double sunX = width * (0.25 + 0.15 * (variant % 3));
    const double sunY = height * 0.3;
    const double sunR = height * 0.12;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->row(y);
        for (int x = 0; x < width; ++x) {
            const double hillTop = height * 0.65 + height * 0.08 * std::sin(x * 0.015 + variant);
            uint8_t r = 0;
            uint8_t g = 0;
            uint8_t b = 0;
            if (std::hypot(x - sunX, y - sunY) < sunR) {
                r = 255;
                g = 200;
                b = 40;
            } else if (y > hillTop) {
                r = static_cast<uint8_t>(40 + 20 * variant);
                g = static_cast<uint8_t>(140 + (y * 60) / height);
                b = 60;
            } else {
                r = static_cast<uint8_t>(90 + (y * 80) / height);
                g = static_cast<uint8_t>(150 + (y * 60) / height);
                b = static_cast<uint8_t>(235 - 30 * (variant % 2));
            }
            uint8_t* p = row + static_cast<std::size_t>(x) * 4;
            p[0] = r;
            p[1] = g;
            p[2] = b;
            p[3] = 255;
        }
    }
    const auto bytes = image::ImageEncoder::encodeJPEG(*picture, 0.9);
    if (!bytes) {
        return "cannot encode a JPEG";
    }
    std::ofstream out(file, std::ios::binary);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    if (!out) {
        return "cannot write " + file.string();
    }
    return std::nullopt;
}

std::optional<std::string> writeGalleryGif(const std::filesystem::path& file, int side) {
    // Palette: 0 white, 1 dark blue, 2 to 9 the ball's colours.
    static constexpr GifColorType kColours[16] = {
            {255, 255, 255}, {20, 30, 90},   {230, 40, 40},  {240, 150, 30},
            {240, 220, 40},  {60, 190, 70},  {40, 170, 220}, {60, 80, 230},
            {150, 60, 220},  {230, 60, 160}, {0, 0, 0},      {0, 0, 0},
            {0, 0, 0},       {0, 0, 0},      {0, 0, 0},      {0, 0, 0}};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpenFileName(file.c_str(), false, &error));
    if (!gif) {
        return "cannot write " + file.string() + ": " + GifErrorString(error);
    }
    std::unique_ptr<ColorMapObject, ColorMapFree> palette(GifMakeMapObject(16, kColours));
    if (!palette) {
        return "out of memory";
    }
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), side, side, 8, 0, palette.get()) == GIF_ERROR) {
        return "cannot write the GIF header";
    }
    // Loop forever (the NETSCAPE2.0 application extension).
    const GifByteType loop[] = {1, 0, 0};
    if (EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE) == GIF_ERROR
        || EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0") == GIF_ERROR
        || EGifPutExtensionBlock(gif.get(), 3, loop) == GIF_ERROR
        || EGifPutExtensionTrailer(gif.get()) == GIF_ERROR) {
        return "cannot write the GIF loop";
    }
    constexpr int kFrames = 8;
    std::vector<GifPixelType> line(static_cast<std::size_t>(side));
    for (int frame = 0; frame < kFrames; ++frame) {
        GraphicsControlBlock control{};
        control.DelayTime = 10;  // hundredths of a second
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const auto length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension)
                    == GIF_ERROR
            || EGifPutImageDesc(gif.get(), 0, 0, side, side, false, nullptr) == GIF_ERROR) {
            return "cannot write GIF frame " + std::to_string(frame);
        }
        const double cx = side * (0.2 + 0.6 * frame / (kFrames - 1));
        const double cy = side * 0.5;
        const double radius = side * 0.18;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const bool ball = std::hypot(x - cx, y - cy) < radius;
                const bool border = x < side / 16 || y < side / 16 || x >= side - side / 16
                                    || y >= side - side / 16;
                line[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(ball     ? 2 + frame
                                                                              : border ? 1
                                                                                       : 0);
            }
            if (EGifPutLine(gif.get(), line.data(), side) == GIF_ERROR) {
                return "cannot write GIF frame " + std::to_string(frame);
            }
        }
    }
    GifFileType* done = gif.release();
    if (EGifCloseFile(done, &error) == GIF_ERROR) {
        return "cannot finish " + file.string() + ": " + GifErrorString(error);
    }
    return std::nullopt;
}

std::optional<std::string> writeGalleryWav(const std::filesystem::path& file, double seconds) {
    constexpr uint32_t kRate = 44100;
    const auto samples = static_cast<uint32_t>(seconds * kRate);
    std::ofstream out(file, std::ios::binary);
    out.write("RIFF", 4);
    putLittle(out, 36 + samples * 2, 4);
    out.write("WAVEfmt ", 8);
    putLittle(out, 16, 4);         // format chunk size
    putLittle(out, 1, 2);          // PCM
    putLittle(out, 1, 2);          // mono
    putLittle(out, kRate, 4);      // sample rate
    putLittle(out, kRate * 2, 4);  // bytes per second
    putLittle(out, 2, 2);          // bytes per frame
    putLittle(out, 16, 2);         // bits per sample
    out.write("data", 4);
    putLittle(out, samples * 2, 4);
    for (uint32_t i = 0; i < samples; ++i) {
        const double v = 0.3 * std::sin(2 * std::numbers::pi * 440.0 * i / kRate);
        putLittle(out, static_cast<uint16_t>(static_cast<int16_t>(v * 32767)), 2);
    }
    if (!out) {
        return "cannot write " + file.string();
    }
    return std::nullopt;
}

std::shared_ptr<media::PixelBuffer> galleryCodePicture(const std::string& text,
                                                       int width,
                                                       int height) {
    auto picture = media::PixelBuffer::create(width, height, media::PixelFormat::BGRA32);
    if (!picture) {
        return nullptr;
    }
    // A grey desk under the camera, and the code with its white quiet zone in the middle.
    for (int y = 0; y < height; ++y) {
        uint8_t* p = picture->data() + static_cast<size_t>(y) * picture->bytesPerRow();
        const auto shade = static_cast<uint8_t>(120 + 40 * y / std::max(1, height));
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = shade;
            p[1] = static_cast<uint8_t>(shade + 8);
            p[2] = static_cast<uint8_t>(shade + 16);
            p[3] = 255;
        }
    }
    const int side = std::min(width, height) * 5 / 9;
    const auto code = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                              .setMargin(4)
                              .encode(text, side, side);
    const int left = (width - code.width()) / 2;
    const int top = (height - code.height()) / 2;
    for (int y = 0; y < code.height(); ++y) {
        for (int x = 0; x < code.width(); ++x) {
            if (left + x < 0 || left + x >= width || top + y < 0 || top + y >= height) {
                continue;
            }
            uint8_t* p = picture->data() + static_cast<size_t>(top + y) * picture->bytesPerRow()
                         + static_cast<size_t>(left + x) * 4;
            const uint8_t value = code.get(x, y) ? 0 : 255;
            p[0] = p[1] = p[2] = value;
        }
    }
    return picture;
}

}  // namespace pelmar::demo
