// Forced decoding of the image loader (orientation and premultiplied alpha included) against the
// raw decoders on the same files: tjDecompress2 for baseline and progressive JPEG, png_read_image
// for an RGBA PNG, and giflib's line reader for GIF frame 0. The last line gives the worst ratio of
// our time to the raw decoder's over the four formats.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BestThroughputReporter.h"
#include "pelmar/imageloader/PelmarDecodedImage.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"

namespace {

namespace image = pelmar::image;

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
constexpr int kGifSide = 800;

const std::string& baselineJPEG() {
    static const std::string data = image::test::jpeg(*image::test::photo(kWidth, kHeight), 85);
    return data;
}

const std::string& progressiveJPEG() {
    static const std::string data =
            image::test::jpeg(*image::test::photo(kWidth, kHeight, 2), 85, true);
    return data;
}

const std::string& rgbaPNG() {
    static const std::string data = [] {
        auto picture = image::test::photo(kWidth, kHeight, 3);
        auto translucent = image::Bitmap::create(
                kWidth, kHeight, {.format = image::PixelFormat::BGRA8, .premultiplied = false});
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(translucent->row(y), picture->row(y), kWidth * 4);
            for (int x = 0; x < kWidth; ++x) {
                translucent->row(y)[x * 4 + 3] = static_cast<uint8_t>((x + y) & 0xFF);
            }
        }
        auto premultiplied = pelmar::PelmarDecodedImage::decodedImageRefWithBitmap(translucent);
        return image::test::png(*premultiplied);
    }();
    return data;
}

const std::string& paletteGIF() {
    static const std::string data = [] {
        std::vector<std::array<uint8_t, 3>> palette;
        for (int i = 0; i < 256; ++i) {
            palette.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                               static_cast<uint8_t>(i * 7)});
        }
        image::test::GifFrame frame{0, 0, kGifSide, kGifSide, {}};
        frame.indexes.resize(static_cast<size_t>(kGifSide) * kGifSide);
        for (int y = 0; y < kGifSide; ++y) {
            for (int x = 0; x < kGifSide; ++x) {
                frame.indexes[static_cast<size_t>(y) * kGifSide + x] =
                        static_cast<uint8_t>((x / 16 + y / 16) * 9);
            }
        }
        return image::test::gif(kGifSide, kGifSide, palette, {frame});
    }();
    return data;
}

void decodeOurs(benchmark::State& state, const std::string& data, int64_t pixels) {
    for (auto _ : state) {
        auto bitmap = pelmar::PelmarDecodedImage::decodedImageWithData(data);
        if (!bitmap) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(bitmap->data());
    }
    state.SetBytesProcessed(state.iterations() * pixels * 4);
}

void rawJPEG(benchmark::State& state, const std::string& data) {
    tjhandle handle = tjInitDecompress();
    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    for (auto _ : state) {
        int w = 0, h = 0, subsampling = 0, colorspace = 0;
        tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(data.data()),
                            data.size(), &w, &h, &subsampling, &colorspace);
        if (tjDecompress2(handle, reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                          pixels.data(), w, w * 4, h, TJPF_BGRA, 0)
            != 0) {
            state.SkipWithError("raw decode failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    tjDestroy(handle);
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}

struct PngInput {
    const std::string* data;
    size_t pos;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (length > input->data->size() - input->pos) {
        png_error(png, "truncated");
    }
    std::memcpy(out, input->data->data() + input->pos, length);
    input->pos += length;
}

bool pngDecode(const std::string& data,
               std::vector<unsigned char>& pixels,
               std::vector<png_bytep>& rows) {
    PngInput input{&data, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &input, pngRead);
    png_read_info(png, info);
    const auto height = png_get_image_height(png, info);
    const auto rowBytes = png_get_rowbytes(png, info);
    for (png_uint_32 y = 0; y < height; ++y) {
        rows[y] = pixels.data() + y * rowBytes;
    }
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void rawPNG(benchmark::State& state, const std::string& data) {
    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    std::vector<png_bytep> rows(kHeight);
    for (auto _ : state) {
        if (!pngDecode(data, pixels, rows)) {
            state.SkipWithError("raw decode failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* input = static_cast<PngInput*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(length), input->data->size() - input->pos);
    std::memcpy(out, input->data->data() + input->pos, n);
    input->pos += n;
    return static_cast<int>(n);
}

void rawGIF(benchmark::State& state, const std::string& data) {
    std::vector<GifPixelType> indexes(static_cast<size_t>(kGifSide) * kGifSide);
    for (auto _ : state) {
        PngInput input{&data, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&input, gifRead, &error);
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        bool ok = gif != nullptr;
        while (ok && DGifGetRecordType(gif, &type) == GIF_OK && type != IMAGE_DESC_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            ok = type == EXTENSION_RECORD_TYPE
                 && DGifGetExtension(gif, &code, &extension) == GIF_OK;
            while (ok && extension != nullptr) {
                ok = DGifGetExtensionNext(gif, &extension) == GIF_OK;
            }
        }
        ok = ok && DGifGetImageDesc(gif) == GIF_OK;
        for (int y = 0; ok && y < kGifSide; ++y) {
            ok = DGifGetLine(gif, indexes.data() + static_cast<size_t>(y) * kGifSide, kGifSide)
                 == GIF_OK;
        }
        if (gif != nullptr) {
            DGifCloseFile(gif, &error);
        }
        if (!ok) {
            state.SkipWithError("raw decode failed");
            break;
        }
        benchmark::DoNotOptimize(indexes.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kGifSide} * kGifSide * 4);
}

void OursBaselineJPEG(benchmark::State& s) {
    decodeOurs(s, baselineJPEG(), int64_t{kWidth} * kHeight);
}

void RawBaselineJPEG(benchmark::State& s) {
    rawJPEG(s, baselineJPEG());
}

void OursProgressiveJPEG(benchmark::State& s) {
    decodeOurs(s, progressiveJPEG(), int64_t{kWidth} * kHeight);
}

void RawProgressiveJPEG(benchmark::State& s) {
    rawJPEG(s, progressiveJPEG());
}

void OursRGBAPNG(benchmark::State& s) {
    decodeOurs(s, rgbaPNG(), int64_t{kWidth} * kHeight);
}

void RawRGBAPNG(benchmark::State& s) {
    rawPNG(s, rgbaPNG());
}

void OursGIFFrame0(benchmark::State& s) {
    decodeOurs(s, paletteGIF(), int64_t{kGifSide} * kGifSide);
}

void RawGIFFrame0(benchmark::State& s) {
    rawGIF(s, paletteGIF());
}

BENCHMARK(OursBaselineJPEG)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(RawBaselineJPEG)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(OursProgressiveJPEG)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(RawProgressiveJPEG)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(OursRGBAPNG)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(RawRGBAPNG)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(OursGIFFrame0)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(RawGIFFrame0)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    pelmar::bench::BestThroughputReporter reporter;
    if (!pelmar::bench::runInterleavedBenchmarks(argc, argv, reporter)) {
        return 1;
    }
    double worst = 0;
    for (const char* format : {"BaselineJPEG", "ProgressiveJPEG", "RGBAPNG", "GIFFrame0"}) {
        const double ours = reporter.bestMibPerSecond(std::string("Ours") + format);
        const double raw = reporter.bestMibPerSecond(std::string("Raw") + format);
        const double ratio = ours > 0 ? raw / ours : 0;
        std::printf("%s: ours %.1f MiB/s, raw %.1f MiB/s, time ratio %.2f\n", format, ours, raw,
                    ratio);
        worst = std::max(worst, ratio);
    }
    std::printf("image_decode: ratio=%.2f\n", worst);
    return 0;
}
