#include "pelmar/platform/image/ImageEncoder.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <memory>
#include <vector>

#include "pelmar/platform/image/BitmapRedraw.h"

namespace pelmar::image {
namespace {

// Upright BGRA8, premultiplied unless opaque.
std::shared_ptr<Bitmap> upright(const Bitmap& bitmap) {
    return BitmapRedraw::redraw(bitmap, bitmap.orientation(), bitmap.scale());
}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string out;

    ~PngWriter() {
        if (png != nullptr) {
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        }
    }
};

[[noreturn]] void pngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void pngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<PngWriter*>(png_get_io_ptr(png))
            ->out.append(reinterpret_cast<const char*>(data), length);
}

void pngFlush(png_structp /*png*/) {}

bool pngWriteRows(PngWriter& writer, int width, int height, bool alpha, png_bytep* rows) {
    if (setjmp(png_jmpbuf(writer.png))) {
        return false;
    }
    png_set_write_fn(writer.png, &writer, pngWrite, pngFlush);
    png_set_IHDR(writer.png, writer.info, static_cast<png_uint_32>(width),
                 static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer.png, writer.info);
    png_set_bgr(writer.png);
    if (!alpha) {
        png_set_filler(writer.png, 0, PNG_FILLER_AFTER);
    }
    png_write_image(writer.png, rows);
    png_write_end(writer.png, nullptr);
    return true;
}

}  // namespace

std::optional<std::string> ImageEncoder::encodeJPEG(const Bitmap& bitmap, double quality) {
    auto pixels = upright(bitmap);
    if (!pixels) {
        return std::nullopt;
    }
    tjhandle handle = tjInitCompress();
    if (handle == nullptr) {
        return std::nullopt;
    }
    const std::unique_ptr<void, int (*)(tjhandle)> guard(handle, tjDestroy);
    const double clamped = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    const int q = std::max(1, static_cast<int>(std::lround(clamped * 100)));
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle, pixels->data(), pixels->width(), static_cast<int>(pixels->stride()),
                    pixels->height(), TJPF_BGRA, &jpeg, &size, TJSAMP_420, q, 0)
        != 0) {
        tjFree(jpeg);
        return std::nullopt;
    }
    std::string out(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return out;
}

std::optional<std::string> ImageEncoder::encodePNG(const Bitmap& bitmap) {
    auto pixels = upright(bitmap);
    if (!pixels) {
        return std::nullopt;
    }
    const bool alpha = !pixels->opaque();
    if (alpha) {
        // PNG stores straight alpha.
        for (int y = 0; y < pixels->height(); ++y) {
            uint8_t* p = pixels->row(y);
            for (int x = 0; x < pixels->width(); ++x, p += 4) {
                const unsigned a = p[3];
                if (a != 0 && a != 255) {
                    for (int c = 0; c < 3; ++c) {
                        p[c] = static_cast<uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
                    }
                }
            }
        }
    }
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (writer.png == nullptr) {
        return std::nullopt;
    }
    writer.info = png_create_info_struct(writer.png);
    if (writer.info == nullptr) {
        return std::nullopt;
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(pixels->height()));
    for (int y = 0; y < pixels->height(); ++y) {
        rows[static_cast<std::size_t>(y)] = pixels->row(y);
    }
    if (!pngWriteRows(writer, pixels->width(), pixels->height(), alpha, rows.data())) {
        return std::nullopt;
    }
    return std::move(writer.out);
}

}  // namespace pelmar::image
