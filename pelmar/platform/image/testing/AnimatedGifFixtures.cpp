#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"

#include <gif_lib.h>

#include <stdexcept>

namespace pelmar::image::test {

namespace {

int appendBytes(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

}  // namespace

std::string animatedGif(int screenWidth,
                        int screenHeight,
                        const std::vector<std::array<uint8_t, 3>>& palette,
                        const std::vector<AnimatedGifFrame>& frames,
                        std::optional<int> loopCount) {
    std::string out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, appendBytes, &error);
    if (file == nullptr) {
        throw std::runtime_error("fixture GIF not made");
    }
    std::vector<GifColorType> colours;
    for (const auto& c : palette) {
        colours.push_back({c[0], c[1], c[2]});
    }
    // giflib takes colour tables of 2, 4, ..., 256 entries; the rest is black.
    std::size_t tableSize = 2;
    while (tableSize < colours.size()) {
        tableSize *= 2;
    }
    colours.resize(tableSize, GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    EGifSetGifVersion(file, true);
    bool ok = EGifPutScreenDesc(file, screenWidth, screenHeight, 8, 0, map) == GIF_OK;
    if (loopCount) {
        GifByteType name[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        GifByteType loops[] = {1, static_cast<GifByteType>(*loopCount & 0xFF),
                               static_cast<GifByteType>((*loopCount >> 8) & 0xFF)};
        ok = ok && EGifPutExtensionLeader(file, APPLICATION_EXT_FUNC_CODE) == GIF_OK
             && EGifPutExtensionBlock(file, sizeof name, name) == GIF_OK
             && EGifPutExtensionBlock(file, sizeof loops, loops) == GIF_OK
             && EGifPutExtensionTrailer(file) == GIF_OK;
    }
    for (const auto& animated : frames) {
        const GifFrame& frame = animated.frame;
        if (animated.delayCentiseconds) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = animated.disposal;
            gcb.DelayTime = *animated.delayCentiseconds;
            gcb.TransparentColor = frame.transparentIndex;
            GifByteType extension[4];
            const auto length = EGifGCBToExtension(&gcb, extension);
            ok = ok
                 && EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                                     extension)
                            == GIF_OK;
        }
        ok = ok
             && EGifPutImageDesc(file, frame.left, frame.top, frame.width, frame.height, false,
                                 nullptr)
                        == GIF_OK;
        for (int y = 0; y < frame.height && ok; ++y) {
            std::vector<GifPixelType> line(frame.indexes.begin() + y * frame.width,
                                           frame.indexes.begin() + (y + 1) * frame.width);
            ok = EGifPutLine(file, line.data(), frame.width) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(file, &error);
    if (!ok) {
        throw std::runtime_error("fixture GIF not made");
    }
    return out;
}

std::string patternGif(int width, int height, int count, int delayCentiseconds) {
    std::vector<std::array<uint8_t, 3>> palette(256);
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 7)};
    }
    std::vector<AnimatedGifFrame> frames;
    for (int f = 0; f < count; ++f) {
        GifFrame frame{0, 0, width, height, std::vector<uint8_t>(width * height)};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                frame.indexes[y * width + x] = static_cast<uint8_t>((x / 8 + y / 8 + f * 5) & 0xFF);
            }
        }
        frames.push_back({frame, delayCentiseconds, 1});
    }
    return animatedGif(width, height, palette, frames);
}

std::string disposalGif() {
    const std::vector<std::array<uint8_t, 3>> palette = {
            {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}};
    GifFrame red{0, 0, 6, 4, std::vector<uint8_t>(24, 0)};
    GifFrame green{1, 1, 2, 2, {1, 1, 1, 3}, 3};
    GifFrame blue{2, 0, 3, 3, {2, 2, 2, 2, 2, 2, 2, 2, 3}, 3};
    GifFrame black{0, 2, 2, 2, std::vector<uint8_t>(4, 4)};
    GifFrame greenRight{4, 2, 2, 2, std::vector<uint8_t>(4, 1)};
    return animatedGif(
            6, 4, palette,
            {{red, 10, 1}, {green, 10, 2}, {blue, 10, 3}, {black, 10, 0}, {greenRight, 10, 0}});
}

}  // namespace pelmar::image::test
