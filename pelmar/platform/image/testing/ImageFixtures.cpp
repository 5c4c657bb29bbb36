#include "pelmar/platform/image/testing/ImageFixtures.h"

#include <gif_lib.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "pelmar/platform/image/ImageEncoder.h"

namespace pelmar::image::test {

std::shared_ptr<Bitmap> quadrants(int width,
                                  int height,
                                  const Colour& topLeft,
                                  const Colour& topRight,
                                  const Colour& bottomLeft,
                                  const Colour& bottomRight) {
    auto bitmap = Bitmap::create(width, height, {.format = PixelFormat::BGRA8, .opaque = true});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            const Colour& c =
                    bottom ? (right ? bottomRight : bottomLeft) : (right ? topRight : topLeft);
            std::memcpy(bitmap->row(y) + x * 4, c.data(), 4);
        }
    }
    return bitmap;
}

std::shared_ptr<Bitmap> photo(int width, int height, uint32_t seed) {
    auto bitmap = Bitmap::create(width, height, {.format = PixelFormat::BGRA8, .opaque = true});
    uint32_t noise = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        uint8_t* p = bitmap->row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            noise = noise * 1664525u + 1013904223u;
            const double r = std::hypot(x - width / 2.0, y - height / 2.0);
            const int n = static_cast<int>(noise >> 28);
            p[0] = static_cast<uint8_t>((x * 255 / width + n) & 0xFF);
            p[1] = static_cast<uint8_t>((y * 255 / height + n) & 0xFF);
            p[2] = static_cast<uint8_t>(128 + 100 * std::sin(r / (7.0 + seed % 5)));
            p[3] = 255;
        }
    }
    return bitmap;
}

std::string jpeg(const Bitmap& bitmap, int quality, bool progressive) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, bitmap.data(), bitmap.width(),
                               static_cast<int>(bitmap.stride()), bitmap.height(),
                               bitmap.format() == PixelFormat::RGBA8 ? TJPF_RGBA : TJPF_BGRA, &out,
                               &size, TJSAMP_420, quality, progressive ? TJFLAG_PROGRESSIVE : 0);
    std::string bytes = rc == 0 ? std::string(reinterpret_cast<char*>(out), size) : "";
    tjFree(out);
    tjDestroy(handle);
    if (bytes.empty()) {
        throw std::runtime_error("fixture JPEG not made");
    }
    return bytes;
}

namespace {

// A TIFF block whose first directory holds a resolution unit and then `orientation`.
std::string exifTIFF(int orientation, bool bigEndian) {
    std::string tiff;
    const auto u16 = [&](unsigned v) {
        if (bigEndian) {
            tiff += static_cast<char>(v >> 8);
            tiff += static_cast<char>(v & 0xFF);
        } else {
            tiff += static_cast<char>(v & 0xFF);
            tiff += static_cast<char>(v >> 8);
        }
    };
    const auto u32 = [&](uint32_t v) {
        if (bigEndian) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF);
            u16(v >> 16);
        }
    };
    tiff += bigEndian ? "MM" : "II";
    u16(42);
    u32(8);
    u16(2);  // two entries: a resolution unit first, then the orientation
    u16(0x0128);
    u16(3);
    u32(1);
    u16(2);
    u16(0);
    u16(0x0112);
    u16(3);
    u32(1);
    u16(static_cast<unsigned>(orientation));
    u16(0);
    u32(0);
    return tiff;
}

void appendBigEndian32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>(v >> (24 - 8 * i));
    }
}

}  // namespace

std::string withExifOrientation(const std::string& jpeg, int orientation, bool bigEndian) {
    const std::string body = std::string("Exif\0\0", 6) + exifTIFF(orientation, bigEndian);
    const std::size_t length = body.size() + 2;
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    segment += body;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string pngWithExifOrientation(const std::string& png, int orientation, bool bigEndian) {
    const std::string typeAndData = "eXIf" + exifTIFF(orientation, bigEndian);
    std::string chunk;
    appendBigEndian32(chunk, static_cast<uint32_t>(typeAndData.size() - 4));
    chunk += typeAndData;
    appendBigEndian32(chunk, static_cast<uint32_t>(
                                     crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()),
                                           static_cast<uInt>(typeAndData.size()))));
    // Signature (8), then IHDR: length (4), type (4), 13 bytes of data, CRC (4).
    constexpr std::size_t kAfterHeader = 8 + 4 + 4 + 13 + 4;
    return png.substr(0, kAfterHeader) + chunk + png.substr(kAfterHeader);
}

const std::array<StoredOrientation, 8> kStoredOrientations{{
        {"Up", 1, false, {kRed, kGreen, kBlue, kWhite}},
        {"UpMirrored", 2, false, {kGreen, kRed, kWhite, kBlue}},
        {"Down", 3, false, {kWhite, kBlue, kGreen, kRed}},
        {"DownMirrored", 4, false, {kBlue, kWhite, kRed, kGreen}},
        {"LeftMirrored", 5, true, {kRed, kBlue, kGreen, kWhite}},
        {"Right", 6, true, {kGreen, kWhite, kRed, kBlue}},
        {"RightMirrored", 7, true, {kWhite, kGreen, kBlue, kRed}},
        {"Left", 8, true, {kBlue, kRed, kWhite, kGreen}},
}};

std::shared_ptr<Bitmap> storedQuadrants(const StoredOrientation& orientation,
                                        int uprightWidth,
                                        int uprightHeight) {
    const auto& q = orientation.stored;
    return orientation.swapsSides ? quadrants(uprightHeight, uprightWidth, q[0], q[1], q[2], q[3])
                                  : quadrants(uprightWidth, uprightHeight, q[0], q[1], q[2], q[3]);
}

std::string quadrantMismatch(const Bitmap& bitmap,
                             const std::array<Colour, 4>& expected,
                             int tolerance) {
    const int w = bitmap.width();
    const int h = bitmap.height();
    const std::array<std::pair<int, int>, 4> centres{
            {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}}};
    static const char* const kNames[] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    std::string mismatch;
    for (int i = 0; i < 4; ++i) {
        const uint8_t* p = bitmap.pixel(centres[i].first, centres[i].second);
        const bool rgba = bitmap.format() == PixelFormat::RGBA8;
        const Colour seen{rgba ? p[2] : p[0], p[1], rgba ? p[0] : p[2], p[3]};
        for (int c = 0; c < 4; ++c) {
            if (std::abs(seen[c] - expected[i][c]) > tolerance) {
                mismatch += std::string(kNames[i]) + " channel " + std::to_string(c) + " is "
                            + std::to_string(seen[c]) + ", not " + std::to_string(expected[i][c])
                            + "; ";
            }
        }
    }
    return mismatch;
}

std::string png(const Bitmap& bitmap) {
    auto bytes = ImageEncoder::encodePNG(bitmap);
    if (!bytes) {
        throw std::runtime_error("fixture PNG not made");
    }
    return *bytes;
}

std::string pngClaimingSize(const std::string& png, uint32_t width, uint32_t height) {
    std::string out = png;
    // Signature (8), IHDR length (4), "IHDR" (4), then width and height, big-endian.
    for (int i = 0; i < 4; ++i) {
        out[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        out[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data() + 12), 17);
    for (int i = 0; i < 4; ++i) {
        out[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    }
    return out;
}

std::string jpegClaimingSize(const std::string& jpeg, uint16_t width, uint16_t height) {
    std::string out = jpeg;
    for (std::size_t pos = 2; pos + 9 < out.size();) {
        const auto marker = static_cast<uint8_t>(out[pos + 1]);
        const std::size_t length =
                (static_cast<uint8_t>(out[pos + 2]) << 8) | static_cast<uint8_t>(out[pos + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            out[pos + 5] = static_cast<char>(height >> 8);
            out[pos + 6] = static_cast<char>(height & 0xFF);
            out[pos + 7] = static_cast<char>(width >> 8);
            out[pos + 8] = static_cast<char>(width & 0xFF);
            return out;
        }
        pos += 2 + length;
    }
    throw std::runtime_error("no frame header in fixture JPEG");
}

namespace {

int gifWrite(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

}  // namespace

std::string gif(int screenWidth,
                int screenHeight,
                const std::vector<std::array<uint8_t, 3>>& palette,
                const std::vector<GifFrame>& frames) {
    std::string out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, gifWrite, &error);
    if (file == nullptr) {
        throw std::runtime_error("fixture GIF not made");
    }
    std::vector<GifColorType> colours;
    for (const auto& c : palette) {
        colours.push_back({c[0], c[1], c[2]});
    }
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    EGifSetGifVersion(file, true);
    bool ok = EGifPutScreenDesc(file, screenWidth, screenHeight, 8, 0, map) == GIF_OK;
    for (const auto& frame : frames) {
        if (frame.transparentIndex >= 0) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
            gcb.TransparentColor = frame.transparentIndex;
            GifByteType extension[4];
            const auto length = EGifGCBToExtension(&gcb, extension);
            ok = ok
                 && EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                                     extension)
                            == GIF_OK;
        }
        ok = ok
             && EGifPutImageDesc(file, frame.left, frame.top, frame.width, frame.height,
                                 frame.interlaced, nullptr)
                        == GIF_OK;
        // An interlaced frame is written in its pass order.
        std::vector<int> order;
        if (frame.interlaced) {
            for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (int y = start; y < frame.height; y += step) {
                    order.push_back(y);
                }
            }
        } else {
            for (int y = 0; y < frame.height; ++y) {
                order.push_back(y);
            }
        }
        for (int y : order) {
            std::vector<GifPixelType> line(frame.indexes.begin() + y * frame.width,
                                           frame.indexes.begin() + (y + 1) * frame.width);
            ok = ok && EGifPutLine(file, line.data(), frame.width) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(file, &error);
    if (!ok) {
        throw std::runtime_error("fixture GIF not made");
    }
    return out;
}

}  // namespace pelmar::image::test
