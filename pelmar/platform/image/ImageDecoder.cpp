#include "pelmar/platform/image/ImageDecoder.h"

#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/image/ExifReader.h"
#include "pelmar/platform/image/GifAnimation.h"

namespace pelmar::image {
namespace {

Error decodeError(ImageDecodeErrorCode code, std::string message) {
    return Error{std::string(kImageDecodeErrorDomain), code, std::move(message)};
}

bool startsWith(std::string_view data, std::string_view prefix) {
    return data.size() >= prefix.size() && data.substr(0, prefix.size()) == prefix;
}

// A bitmap over uninitialised pixels (every decoder writes each byte).
std::shared_ptr<Bitmap> newBitmap(int width, int height, bool opaque) {
    if (width < 1 || height < 1 || width > Bitmap::kMaxDimension
        || height > Bitmap::kMaxDimension) {
        return nullptr;
    }
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::shared_ptr<uint8_t[]> pixels(new uint8_t[stride * static_cast<std::size_t>(height)]);
    Bitmap::Layout layout{.format = PixelFormat::BGRA8, .premultiplied = true, .opaque = opaque};
    uint8_t* raw = pixels.get();
    return Bitmap::wrap(width, height, stride, layout, raw, std::move(pixels));
}

bool withinCap(int64_t width, int64_t height, int64_t maxPixels) {
    const int64_t cap = std::min<int64_t>(maxPixels, Bitmap::kMaxPixels);
    return width >= 1 && height >= 1 && width <= Bitmap::kMaxDimension
           && height <= Bitmap::kMaxDimension && width * height <= cap;
}

// ---- JPEG ----

struct TurboHandle {
    tjhandle handle = tjInitDecompress();

    ~TurboHandle() {
        if (handle != nullptr) {
            tjDestroy(handle);
        }
    }
};

bool progressiveJPEG(std::string_view data) {
    std::size_t pos = 2;
    while (pos + 4 <= data.size()) {
        if (static_cast<uint8_t>(data[pos]) != 0xFF) {
            return false;
        }
        const auto marker = static_cast<uint8_t>(data[pos + 1]);
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            return false;
        }
        if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE) {
            return true;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const std::size_t length =
                (static_cast<std::size_t>(static_cast<uint8_t>(data[pos + 2])) << 8)
                | static_cast<uint8_t>(data[pos + 3]);
        pos += 2 + length;
    }
    return false;
}

std::optional<ImageHeader> jpegHeader(std::string_view data, TurboHandle& turbo) {
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (turbo.handle == nullptr
        || tjDecompressHeader3(turbo.handle, reinterpret_cast<const unsigned char*>(data.data()),
                               static_cast<unsigned long>(data.size()), &width, &height,
                               &subsampling, &colorspace)
                   != 0
        || width < 1 || height < 1) {
        return std::nullopt;
    }
    ImageHeader header;
    header.format = ImageFormat::JPEG;
    header.width = width;
    header.height = height;
    header.exifOrientation = ExifReader::orientationFromJPEG(data);
    header.progressive = progressiveJPEG(data);
    return header;
}

tjscalingfactor jpegScale(int width, int height, int minimumDimension) {
    tjscalingfactor best{1, 1};
    if (minimumDimension <= 0) {
        return best;
    }
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    const int longer = std::max(width, height);
    int bestSide = longer;
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const auto f = factors[i];
        if (f.num > f.denom) {
            continue;
        }
        const int side = TJSCALED(longer, f);
        if (side >= minimumDimension && side < bestSide) {
            best = f;
            bestSide = side;
        }
    }
    return best;
}

ImageDecoder::Result decodeJPEG(std::string_view data,
                                const ImageHeader& header,
                                const ImageDecodeOptions& options,
                                TurboHandle& turbo) {
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(turbo.handle, reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<unsigned long>(data.size()), &width, &height, &subsampling,
                        &colorspace);
    const auto scale = jpegScale(header.width, header.height, options.minimumDimension);
    const int w = TJSCALED(header.width, scale);
    const int h = TJSCALED(header.height, scale);
    auto bitmap = newBitmap(w, h, true);
    if (!bitmap) {
        return {nullptr, decodeError(kImageDecodeErrorTooLarge, "JPEG too large")};
    }
    const bool cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
    const int rc = tjDecompress2(turbo.handle, reinterpret_cast<const unsigned char*>(data.data()),
                                 static_cast<unsigned long>(data.size()), bitmap->data(), w,
                                 static_cast<int>(bitmap->stride()), h,
                                 cmyk ? TJPF_CMYK : TJPF_BGRA, TJFLAG_LIMITSCANS);
    if (rc != 0 && tjGetErrorCode(turbo.handle) != TJERR_WARNING) {
        return {nullptr, decodeError(kImageDecodeErrorCorrupt, tjGetErrorStr2(turbo.handle))};
    }
    if (cmyk) {
        // CMYK JPEGs store inverted inks (the Adobe convention): channel * K / 255 is the colour.
        for (int y = 0; y < h; ++y) {
            uint8_t* p = bitmap->row(y);
            for (int x = 0; x < w; ++x, p += 4) {
                const unsigned c = p[0], m = p[1], yl = p[2], k = p[3];
                p[0] = static_cast<uint8_t>(yl * k / 255);
                p[1] = static_cast<uint8_t>(m * k / 255);
                p[2] = static_cast<uint8_t>(c * k / 255);
                p[3] = 255;
            }
        }
    }
    return {bitmap, std::nullopt};
}

// ---- PNG ----

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string_view data;
    std::size_t pos = 0;

    ~PngReader() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
    }
};

[[noreturn]] void pngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void pngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
    if (length > reader->data.size() - reader->pos) {
        png_error(png, "truncated");
    }
    std::memcpy(out, reader->data.data() + reader->pos, length);
    reader->pos += length;
}

void pngSetTransforms(PngReader& reader, bool hasAlpha);

// Each setjmp lives in a function with no C++ objects of its own, so a longjmp skips nothing.
bool pngReadInfo(PngReader& reader) {
    if (setjmp(png_jmpbuf(reader.png))) {
        return false;
    }
    png_read_info(reader.png, reader.info);
    return true;
}

bool pngReadRows(PngReader& reader, png_bytep* rows, bool hasAlpha) {
    if (setjmp(png_jmpbuf(reader.png))) {
        return false;
    }
    pngSetTransforms(reader, hasAlpha);
    png_set_interlace_handling(reader.png);
    png_read_update_info(reader.png, reader.info);
    if (png_get_rowbytes(reader.png, reader.info)
        != png_get_image_width(reader.png, reader.info) * 4) {
        return false;
    }
    png_read_image(reader.png, rows);
    return true;
}

// Sums of premultiplied pixels over a band of `factor` source rows, reduced to one row of boxes
// of factor x factor pixels (smaller at the right and bottom edges).
struct PngReduction {
    int width = 0;   // source
    int height = 0;  // source
    int factor = 1;
    bool hasAlpha = false;
    Bitmap* target = nullptr;
    std::vector<uint32_t> sums;  // 4 per target pixel
    int rowsInBand = 0;
    int targetRow = 0;

    void add(uint8_t* row) {
        if (hasAlpha) {
            BitmapRedraw::premultiply(row, static_cast<std::size_t>(width));
        }
        for (int x = 0; x < width; ++x) {
            uint32_t* sum = &sums[static_cast<std::size_t>(x / factor) * 4];
            const uint8_t* p = row + static_cast<std::size_t>(x) * 4;
            sum[0] += p[0];
            sum[1] += p[1];
            sum[2] += p[2];
            sum[3] += p[3];
        }
        if (++rowsInBand == factor) {
            flush();
        }
    }

    void flush() {
        if (rowsInBand == 0) {
            return;
        }
        uint8_t* out = target->row(targetRow);
        for (int tx = 0; tx < target->width(); ++tx) {
            const int columns = std::min(factor, width - tx * factor);
            const uint32_t count = static_cast<uint32_t>(columns * rowsInBand);
            uint32_t* sum = &sums[static_cast<std::size_t>(tx) * 4];
            for (int c = 0; c < 4; ++c) {
                out[tx * 4 + c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
                sum[c] = 0;
            }
        }
        rowsInBand = 0;
        ++targetRow;
    }
};

void pngSetTransforms(PngReader& reader, bool hasAlpha) {
    png_set_expand(reader.png);
    png_set_strip_16(reader.png);
    png_set_gray_to_rgb(reader.png);
    png_set_bgr(reader.png);
    if (!hasAlpha) {
        png_set_filler(reader.png, 0xFF, PNG_FILLER_AFTER);
    }
}

// Reads the rows one at a time into `row` (width x 4 bytes) and folds each into `reduction`.
bool pngReadRowsReduced(PngReader& reader, png_bytep row, PngReduction* reduction) {
    if (setjmp(png_jmpbuf(reader.png))) {
        return false;
    }
    pngSetTransforms(reader, reduction->hasAlpha);
    png_read_update_info(reader.png, reader.info);
    if (png_get_rowbytes(reader.png, reader.info)
        != png_get_image_width(reader.png, reader.info) * 4) {
        return false;
    }
    for (int y = 0; y < reduction->height; ++y) {
        png_read_row(reader.png, row, nullptr);
        reduction->add(row);
    }
    return true;
}

bool pngOpen(PngReader& reader, std::string_view data) {
    reader.data = data;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (reader.png == nullptr) {
        return false;
    }
    reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr) {
        return false;
    }
    // The pixel cap is ours (checked on the header); libpng's own limits only bound chunks.
    png_set_user_limits(reader.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(reader.png, ImageDecoder::kMaxChunkBytes);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzzed inputs would almost never carry valid checksums; reach the code behind them.
    png_set_crc_action(reader.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#endif
    png_set_read_fn(reader.png, &reader, pngRead);
    return pngReadInfo(reader);
}

ImageHeader pngHeader(const PngReader& reader) {
    ImageHeader header;
    header.format = ImageFormat::PNG;
    header.width = static_cast<int>(
            std::min<png_uint_32>(png_get_image_width(reader.png, reader.info), INT32_MAX));
    header.height = static_cast<int>(
            std::min<png_uint_32>(png_get_image_height(reader.png, reader.info), INT32_MAX));
    const auto colorType = png_get_color_type(reader.png, reader.info);
    header.hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0
                      || png_get_valid(reader.png, reader.info, PNG_INFO_tRNS) != 0;
    header.interlaced = png_get_interlace_type(reader.png, reader.info) != PNG_INTERLACE_NONE;
#ifdef PNG_eXIf_SUPPORTED
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(reader.png, reader.info, &exifLength, &exif) != 0 && exif != nullptr) {
        header.exifOrientation = ExifReader::orientationFromTIFF(
                std::string_view(reinterpret_cast<const char*>(exif), exifLength));
    }
#endif
    return header;
}

// The whole-number reduction of a PNG whose longer side stays at least `minimumDimension`; 1 for
// interlaced images, whose rows only come whole after the last pass.
int pngFactor(const ImageHeader& header, int minimumDimension) {
    if (minimumDimension <= 0 || header.interlaced) {
        return 1;
    }
    const int longer = std::max(header.width, header.height);
    // Bounded so that the 32-bit sums of a box never overflow.
    return std::clamp(longer / minimumDimension, 1, 1024);
}

// Decodes row by row into a picture `factor` times smaller per side: the full-size pixels are
// never held, only one source row and one row of sums.
ImageDecoder::Result decodePNGReduced(PngReader& reader, const ImageHeader& header, int factor) {
    const int width = (header.width + factor - 1) / factor;
    const int height = (header.height + factor - 1) / factor;
    auto bitmap = newBitmap(width, height, !header.hasAlpha);
    if (!bitmap) {
        return {nullptr, decodeError(kImageDecodeErrorTooLarge, "PNG too large")};
    }
    PngReduction reduction{.width = header.width,
                           .height = header.height,
                           .factor = factor,
                           .hasAlpha = header.hasAlpha,
                           .target = bitmap.get(),
                           .sums = std::vector<uint32_t>(static_cast<std::size_t>(width) * 4)};
    std::vector<uint8_t> row(static_cast<std::size_t>(header.width) * 4);
    if (!pngReadRowsReduced(reader, row.data(), &reduction)) {
        return {nullptr, decodeError(kImageDecodeErrorCorrupt, "unreadable PNG pixels")};
    }
    reduction.flush();
    return {bitmap, std::nullopt};
}

ImageDecoder::Result decodePNG(PngReader& reader, const ImageHeader& header) {
    auto bitmap = newBitmap(header.width, header.height, !header.hasAlpha);
    if (!bitmap) {
        return {nullptr, decodeError(kImageDecodeErrorTooLarge, "PNG too large")};
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(header.height));
    for (int y = 0; y < header.height; ++y) {
        rows[static_cast<std::size_t>(y)] = bitmap->row(y);
    }
    if (!pngReadRows(reader, rows.data(), header.hasAlpha)) {
        return {nullptr, decodeError(kImageDecodeErrorCorrupt, "unreadable PNG pixels")};
    }
    if (header.hasAlpha) {
        for (int y = 0; y < header.height; ++y) {
            BitmapRedraw::premultiply(bitmap->row(y), static_cast<std::size_t>(header.width));
        }
    }
    return {bitmap, std::nullopt};
}

// ---- GIF ----

struct GifSource {
    std::string_view data;
    std::size_t pos = 0;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0)),
                                   source->data.size() - source->pos);
    std::memcpy(out, source->data.data() + source->pos, n);
    source->pos += n;
    return static_cast<int>(n);
}

struct GifHandle {
    GifFileType* gif = nullptr;

    ~GifHandle() {
        if (gif != nullptr) {
            int error = 0;
            DGifCloseFile(gif, &error);
        }
    }
};

std::optional<ImageHeader> gifHeader(std::string_view data) {
    if (data.size() < 10) {
        return std::nullopt;
    }
    ImageHeader header;
    header.format = ImageFormat::GIF;
    header.width = static_cast<uint8_t>(data[6]) | (static_cast<uint8_t>(data[7]) << 8);
    header.height = static_cast<uint8_t>(data[8]) | (static_cast<uint8_t>(data[9]) << 8);
    // Whether frame 0 leaves anything transparent is known only once it has been read.
    header.hasAlpha = true;
    if (header.width == 0 || header.height == 0) {
        return std::nullopt;
    }
    return header;
}

ImageDecoder::Result decodeGIF(std::string_view data,
                               const ImageHeader& header,
                               const ImageDecodeOptions& options) {
    GifSource source{data, 0};
    GifHandle handle;
    int error = 0;
    handle.gif = DGifOpen(&source, gifRead, &error);
    if (handle.gif == nullptr) {
        return {nullptr, decodeError(kImageDecodeErrorNotAnImage, "unreadable GIF header")};
    }
    GifFileType* gif = handle.gif;
    const auto corrupt = [] {
        return ImageDecoder::Result{nullptr,
                                    decodeError(kImageDecodeErrorCorrupt, "unreadable GIF frame")};
    };
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK) {
            return corrupt();
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif, &code, &extension) != GIF_OK) {
                return corrupt();
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && extension != nullptr && extension[0] >= 4) {
                transparent = (extension[1] & 0x01) != 0 ? extension[4] : -1;
            }
            while (extension != nullptr) {
                if (DGifGetExtensionNext(gif, &extension) != GIF_OK) {
                    return corrupt();
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) {
            return corrupt();  // the stream ended before its first frame
        }
        if (DGifGetImageDesc(gif) != GIF_OK) {
            return corrupt();
        }
        break;
    }
    const GifImageDesc& frame = gif->Image;
    if (!withinCap(frame.Width, frame.Height, options.maxPixels)) {
        return {nullptr, decodeError(kImageDecodeErrorTooLarge, "GIF frame too large")};
    }
    const ColorMapObject* colors = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colors == nullptr || colors->Colors == nullptr || colors->ColorCount <= 0) {
        return corrupt();
    }
    // The screen is allocated only for a frame whose picture data are all there, so that a
    // few bytes claiming a large screen take no more memory than they hold.
    if (!GifAnimation::hasCompleteFrame(data, options.maxPixels)) {
        return corrupt();
    }
    const int canvasWidth = header.width;
    const int canvasHeight = header.height;
    const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width >= canvasWidth
                        && frame.Height >= canvasHeight;
    const bool opaque = covers && transparent < 0;
    auto bitmap = newBitmap(canvasWidth, canvasHeight, opaque);
    if (!bitmap) {
        return {nullptr, decodeError(kImageDecodeErrorTooLarge, "GIF too large")};
    }
    if (!opaque) {
        std::memset(bitmap->data(), 0, bitmap->byteCount());
    }
    // BGRA of every index: the transparent one is 0 (like the cleared screen), indexes past the
    // colour table are opaque black.
    uint32_t palette[256];
    for (int i = 0; i < 256; ++i) {
        uint8_t bgra[4] = {0, 0, 0, 255};
        if (i == transparent) {
            bgra[3] = 0;
        } else if (i < colors->ColorCount) {
            bgra[0] = colors->Colors[i].Blue;
            bgra[1] = colors->Colors[i].Green;
            bgra[2] = colors->Colors[i].Red;
        }
        std::memcpy(&palette[i], bgra, 4);
    }
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    // Interlaced frames send rows in four passes.
    static constexpr int kPassStart[] = {0, 4, 2, 1};
    static constexpr int kPassStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    const int xStart = frame.Left;
    const int xEnd = std::min(canvasWidth, frame.Left + frame.Width);
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kPassStart[pass] : 0;
        const int step = frame.Interlace ? kPassStep[pass] : 1;
        for (int row = start; row < frame.Height; row += step) {
            if (DGifGetLine(gif, line.data(), frame.Width) != GIF_OK) {
                return corrupt();
            }
            const int y = frame.Top + row;
            if (y >= canvasHeight || xStart >= xEnd) {
                continue;
            }
            uint8_t* out = bitmap->row(y) + static_cast<std::size_t>(xStart) * 4;
            for (int x = xStart; x < xEnd; ++x, out += 4) {
                std::memcpy(out, &palette[line[static_cast<std::size_t>(x - xStart)]], 4);
            }
        }
    }
    return {bitmap, std::nullopt};
}

}  // namespace

ImageFormat ImageDecoder::sniff(std::string_view data) {
    if (startsWith(data, "\xFF\xD8\xFF")) {
        return ImageFormat::JPEG;
    }
    if (startsWith(data, "\x89PNG\r\n\x1A\n")) {
        return ImageFormat::PNG;
    }
    if (startsWith(data, "GIF87a") || startsWith(data, "GIF89a")) {
        return ImageFormat::GIF;
    }
    return ImageFormat::Unknown;
}

std::optional<ImageHeader> ImageDecoder::readHeader(std::string_view data) {
    switch (sniff(data)) {
        case ImageFormat::JPEG: {
            TurboHandle turbo;
            return jpegHeader(data, turbo);
        }
        case ImageFormat::PNG: {
            PngReader reader;
            if (!pngOpen(reader, data)) {
                return std::nullopt;
            }
            return pngHeader(reader);
        }
        case ImageFormat::GIF:
            return gifHeader(data);
        case ImageFormat::Unknown:
            break;
    }
    return std::nullopt;
}

ImageDecoder::Result ImageDecoder::decode(std::string_view data,
                                          const ImageDecodeOptions& options) {
    const auto notAnImage = [] {
        return Result{nullptr, decodeError(kImageDecodeErrorNotAnImage, "not an image")};
    };
    const auto tooLarge = [](const ImageHeader& header) {
        return Result{nullptr,
                      decodeError(kImageDecodeErrorTooLarge,
                                  "image of " + std::to_string(header.width) + "x"
                                          + std::to_string(header.height) + " pixels too large")};
    };
    Result result;
    ImageHeader header;
    switch (sniff(data)) {
        case ImageFormat::JPEG: {
            TurboHandle turbo;
            auto read = jpegHeader(data, turbo);
            if (!read) {
                return notAnImage();
            }
            header = *read;
            if (!withinCap(header.width, header.height, options.maxPixels)) {
                return tooLarge(header);
            }
            result = decodeJPEG(data, header, options, turbo);
            break;
        }
        case ImageFormat::PNG: {
            PngReader reader;
            if (!pngOpen(reader, data)) {
                return notAnImage();
            }
            header = pngHeader(reader);
            if (!withinCap(header.width, header.height, options.maxPixels)) {
                return tooLarge(header);
            }
            const int factor = pngFactor(header, options.minimumDimension);
            result = factor > 1 ? decodePNGReduced(reader, header, factor)
                                : decodePNG(reader, header);
            break;
        }
        case ImageFormat::GIF: {
            auto read = gifHeader(data);
            if (!read) {
                return notAnImage();
            }
            header = *read;
            if (!withinCap(header.width, header.height, options.maxPixels)) {
                return tooLarge(header);
            }
            result = decodeGIF(data, header, options);
            break;
        }
        case ImageFormat::Unknown:
            return notAnImage();
    }
    if (!result.bitmap) {
        return result;
    }
    const int stored = header.exifOrientation;
    const auto orientation =
            stored >= 1 && stored <= 8 ? static_cast<Orientation>(stored) : Orientation::Up;
    if (orientation == Orientation::Up) {
        return result;
    }
    if (!options.applyOrientation) {
        result.bitmap->setOrientation(orientation);
        return result;
    }
    const bool swap = BitmapRedraw::swapsSides(orientation);
    const Bitmap& source = *result.bitmap;
    auto turned = newBitmap(swap ? source.height() : source.width(),
                            swap ? source.width() : source.height(), source.opaque());
    if (!turned) {
        return {nullptr, decodeError(kImageDecodeErrorTooLarge, "image too large")};
    }
    BitmapRedraw::orient(source, *turned, orientation);
    result.bitmap = std::move(turned);
    return result;
}

}  // namespace pelmar::image
