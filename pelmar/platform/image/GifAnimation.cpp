#include "pelmar/platform/image/GifAnimation.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace pelmar::image {

namespace {

struct Source {
    std::string_view data;
    std::size_t pos = 0;
};

int readBytes(GifFileType* gif, GifByteType* out, int length) {
    auto* source = static_cast<Source*>(gif->UserData);
    const std::size_t left = source->data.size() - std::min(source->pos, source->data.size());
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0)), left);
    std::memcpy(out, source->data.data() + source->pos, n);
    source->pos += n;
    return static_cast<int>(n);
}

bool withinCap(int64_t width, int64_t height, int64_t maxPixels) {
    return width <= Bitmap::kMaxDimension && height <= Bitmap::kMaxDimension
           && width * height <= std::min(maxPixels, Bitmap::kMaxPixels);
}

constexpr uint32_t opaquePixel(const GifColorType& c) {
    // BGRA bytes in memory, little-endian word.
    return static_cast<uint32_t>(c.Blue) | (static_cast<uint32_t>(c.Green) << 8)
           | (static_cast<uint32_t>(c.Red) << 16) | 0xFF000000u;
}

}  // namespace

// A giflib reader positioned by hand: after the header and colour table, any frame can be read
// by moving the source to its image separator.
struct GifAnimation::Decoder {
    Source source;
    GifFileType* gif = nullptr;

    explicit Decoder(std::string_view data) {
        source.data = data;
        int error = 0;
        gif = DGifOpen(&source, readBytes, &error);
    }

    ~Decoder() {
        if (gif != nullptr) {
            int error = 0;
            DGifCloseFile(gif, &error);
        }
    }

    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

GifAnimation::GifAnimation(std::shared_ptr<const std::string> data) : data_(std::move(data)) {}

GifAnimation::~GifAnimation() = default;

std::unique_ptr<GifAnimation> GifAnimation::open(std::shared_ptr<const std::string> data,
                                                 int64_t maxPixels) {
    if (!data) {
        return nullptr;
    }
    std::unique_ptr<GifAnimation> animation(new GifAnimation(data));
    if (!animation->index(*data, maxPixels, kMaxFrames + 1)) {
        return nullptr;
    }
    return animation;
}

bool GifAnimation::hasCompleteFrame(std::string_view data, int64_t maxPixels) {
    GifAnimation probe(nullptr);
    return probe.index(data, maxPixels, 1);
}

bool GifAnimation::index(std::string_view data, int64_t maxPixels, std::size_t enough) {
    if (data.size() < 6 || data.compare(0, 3, "GIF") != 0) {
        return false;
    }
    Decoder decoder(data);
    GifFileType* gif = decoder.gif;
    if (gif == nullptr || gif->SWidth <= 0 || gif->SHeight <= 0
        || !withinCap(gif->SWidth, gif->SHeight, maxPixels)) {
        return false;
    }
    width_ = gif->SWidth;
    height_ = gif->SHeight;
    const int screenW = gif->SWidth;
    const int screenH = gif->SHeight;
    Frame pending;  // the graphic control of the next frame
    bool done = false;
    while (!done && frames_.size() < enough) {
        const std::size_t recordStart = decoder.source.pos;
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK) {
            break;  // truncated: keep the frames read completely
        }
        switch (type) {
            case EXTENSION_RECORD_TYPE: {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif, &code, &block) != GIF_OK) {
                    done = true;
                    break;
                }
                bool netscape = false;
                if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
                    pending.disposal = (block[1] >> 2) & 0x07;
                    pending.delayCentiseconds = block[2] | (block[3] << 8);
                    pending.transparentIndex = (block[1] & 0x01) != 0 ? block[4] : -1;
                } else if (code == APPLICATION_EXT_FUNC_CODE && block != nullptr && block[0] >= 11
                           && std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0) {
                    netscape = true;
                }
                while (block != nullptr) {
                    if (DGifGetExtensionNext(gif, &block) != GIF_OK) {
                        done = true;
                        break;
                    }
                    if (netscape && block != nullptr && block[0] >= 3 && block[1] == 1) {
                        loopCount_ = block[2] | (block[3] << 8);
                        netscape = false;
                    }
                }
                break;
            }
            case IMAGE_DESC_RECORD_TYPE: {
                if (DGifGetImageDesc(gif) != GIF_OK) {
                    done = true;
                    break;
                }
                const GifImageDesc& desc = gif->Image;
                if (!withinCap(desc.Width, desc.Height, maxPixels)) {
                    return false;
                }
                Frame frame = pending;
                pending = Frame{};
                frame.left = desc.Left;
                frame.top = desc.Top;
                frame.width = desc.Width;
                frame.height = desc.Height;
                frame.offset = recordStart;
                int codeSize = 0;
                GifByteType* code = nullptr;
                bool complete = DGifGetCode(gif, &codeSize, &code) == GIF_OK;
                while (complete && code != nullptr) {
                    complete = DGifGetCodeNext(gif, &code) == GIF_OK;
                }
                if (!complete) {
                    done = true;
                    break;
                }
                auto& frames = frames_;
                const bool covers = frame.left == 0 && frame.top == 0 && frame.width >= screenW
                                    && frame.height >= screenH;
                if (frames.empty() || (covers && frame.transparentIndex < 0)) {
                    frame.startsClear = true;
                } else {
                    const Frame& before = frames.back();
                    frame.startsClear = before.disposal == 2 && before.left == 0 && before.top == 0
                                        && before.width >= screenW && before.height >= screenH;
                }
                frames.push_back(frame);
                if (frames.size() > kMaxFrames) {
                    return false;
                }
                break;
            }
            default:
                done = true;  // the trailer, or a record type giflib does not know
                break;
        }
    }
    return !frames_.empty();
}

bool GifAnimation::compose(Decoder& decoder, std::size_t index) {
    const Frame& frame = frames_[index];
    GifFileType* gif = decoder.gif;
    decoder.source.pos = frame.offset;
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) != GIF_OK || type != IMAGE_DESC_RECORD_TYPE
        || DGifGetImageDesc(gif) != GIF_OK) {
        return false;
    }
    const ColorMapObject* colours =
            gif->Image.ColorMap != nullptr ? gif->Image.ColorMap : gif->SColorMap;
    if (colours == nullptr || colours->Colors == nullptr || colours->ColorCount <= 0) {
        return false;
    }
    uint32_t palette[256];
    for (int i = 0; i < 256; ++i) {
        // Indexes past the colour table show opaque black.
        palette[i] = i < colours->ColorCount ? opaquePixel(colours->Colors[i]) : 0xFF000000u;
    }
    if (frame.disposal == 3) {
        previous_ = canvas_;
    }
    const int xEnd = std::min(width_, frame.left + frame.width);
    std::vector<GifPixelType> line(static_cast<std::size_t>(std::max(frame.width, 1)));
    static constexpr int kPassStart[] = {0, 4, 2, 1};
    static constexpr int kPassStep[] = {8, 8, 4, 2};
    const int passes = gif->Image.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = gif->Image.Interlace ? kPassStart[pass] : 0;
        const int step = gif->Image.Interlace ? kPassStep[pass] : 1;
        for (int row = start; row < frame.height; row += step) {
            if (DGifGetLine(gif, line.data(), frame.width) != GIF_OK) {
                return false;
            }
            const int y = frame.top + row;
            if (y >= height_) {
                continue;  // outside the screen: read and dropped
            }
            uint32_t* out = canvas_.data() + static_cast<std::size_t>(y) * width_;
            for (int x = frame.left; x < xEnd; ++x) {
                const GifPixelType i = line[x - frame.left];
                if (i != frame.transparentIndex) {
                    out[x] = palette[i];
                }
            }
        }
    }
    return true;
}

void GifAnimation::dispose(std::size_t index) {
    const Frame& frame = frames_[index];
    if (frame.disposal == 2) {
        const int xEnd = std::min(width_, frame.left + frame.width);
        const int yEnd = std::min(height_, frame.top + frame.height);
        for (int y = frame.top; y < yEnd; ++y) {
            uint32_t* row = canvas_.data() + static_cast<std::size_t>(y) * width_;
            std::fill(row + std::min(frame.left, width_), row + xEnd, 0u);
        }
    } else if (frame.disposal == 3 && previous_.size() == canvas_.size()) {
        canvas_ = previous_;
    }
}

std::shared_ptr<Bitmap> GifAnimation::frameAt(std::size_t index) {
    if (index >= frames_.size()) {
        return nullptr;
    }
    MutexLock lock(mutex_);
    const std::size_t pixels = static_cast<std::size_t>(width_) * height_;
    if (composed_ != index) {
        std::size_t first = index;
        while (!frames_[first].startsClear) {
            --first;
        }
        std::size_t next = first;
        if (composed_ && *composed_ >= first && *composed_ < index) {
            dispose(*composed_);
            next = *composed_ + 1;
        } else {
            canvas_.assign(pixels, 0u);
        }
        composed_.reset();
        Decoder decoder(*data_);
        if (decoder.gif == nullptr) {
            return nullptr;
        }
        for (std::size_t i = next; i <= index; ++i) {
            if (i > next) {
                dispose(i - 1);
            }
            if (!compose(decoder, i)) {
                return nullptr;
            }
        }
        composed_ = index;
    }
    auto bitmap = Bitmap::create(width_, height_, Bitmap::Layout{.format = PixelFormat::BGRA8});
    if (!bitmap) {
        return nullptr;
    }
    std::memcpy(bitmap->data(), canvas_.data(), pixels * sizeof(uint32_t));
    return bitmap;
}

}  // namespace pelmar::image
