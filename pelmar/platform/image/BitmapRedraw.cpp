#include "pelmar/platform/image/BitmapRedraw.h"

#include <cstring>

namespace pelmar::image {
namespace {

// x * a / 255, rounded, for bytes.
inline uint8_t mul255(unsigned x, unsigned a) {
    const unsigned t = x * a + 128;
    return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

inline uint32_t load(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void store(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

// Source coordinates of the target pixel (x, y) for a source of w x h pixels.
struct Mapping {
    // source x = ax * x + bx * y + cx, source y = ay * x + by * y + cy
    long ax, bx, cx, ay, by, cy;
};

Mapping mappingFor(Orientation orientation, long w, long h) {
    switch (orientation) {
        case Orientation::UpMirrored:
            return {-1, 0, w - 1, 0, 1, 0};
        case Orientation::Down:
            return {-1, 0, w - 1, 0, -1, h - 1};
        case Orientation::DownMirrored:
            return {1, 0, 0, 0, -1, h - 1};
        case Orientation::LeftMirrored:  // transpose
            return {0, 1, 0, 1, 0, 0};
        case Orientation::Right:  // stored turned a quarter left: turn a quarter right
            return {0, 1, 0, -1, 0, h - 1};
        case Orientation::RightMirrored:  // transverse
            return {0, -1, w - 1, -1, 0, h - 1};
        case Orientation::Left:
            return {0, -1, w - 1, 1, 0, 0};
        case Orientation::Up:
        default:
            return {1, 0, 0, 0, 1, 0};
    }
}

}  // namespace

void BitmapRedraw::premultiply(uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 4) {
        const unsigned a = pixels[3];
        if (a == 255) {
            continue;
        }
        if (a == 0) {
            pixels[0] = pixels[1] = pixels[2] = 0;
            continue;
        }
        pixels[0] = mul255(pixels[0], a);
        pixels[1] = mul255(pixels[1], a);
        pixels[2] = mul255(pixels[2], a);
    }
}

void BitmapRedraw::orient(const Bitmap& source, Bitmap& target, Orientation orientation) {
    const int tw = target.width();
    const int th = target.height();
    if (orientation == Orientation::Up || static_cast<int>(orientation) < 1
        || static_cast<int>(orientation) > 8) {
        const std::size_t rowBytes = static_cast<std::size_t>(tw) * 4;
        for (int y = 0; y < th; ++y) {
            std::memcpy(target.row(y), source.row(y), rowBytes);
        }
        return;
    }
    const Mapping m = mappingFor(orientation, source.width(), source.height());
    const auto sourceStride = static_cast<long>(source.stride());
    const uint8_t* base = source.data();
    // Tiles keep both the rows read and the rows written in cache for the quarter turns.
    constexpr int kTile = 32;
    for (int ty = 0; ty < th; ty += kTile) {
        const int yEnd = ty + kTile < th ? ty + kTile : th;
        for (int tx = 0; tx < tw; tx += kTile) {
            const int xEnd = tx + kTile < tw ? tx + kTile : tw;
            for (int y = ty; y < yEnd; ++y) {
                uint8_t* out = target.row(y);
                long sx = m.ax * tx + m.bx * y + m.cx;
                long sy = m.ay * tx + m.by * y + m.cy;
                const long step = m.ay * sourceStride + m.ax * 4;
                const uint8_t* in = base + sy * sourceStride + sx * 4;
                for (int x = tx; x < xEnd; ++x, in += step) {
                    store(out + static_cast<std::size_t>(x) * 4, load(in));
                }
            }
        }
    }
}

std::shared_ptr<Bitmap> BitmapRedraw::redraw(const Bitmap& source,
                                             Orientation orientation,
                                             double scale) {
    const bool swap = swapsSides(orientation);
    const int w = swap ? source.height() : source.width();
    const int h = swap ? source.width() : source.height();
    // The source is first brought to premultiplied BGRA of its own size, then turned.
    std::shared_ptr<Bitmap> upright;
    Bitmap::Layout layout{.format = PixelFormat::BGRA8,
                          .premultiplied = true,
                          .opaque = source.opaque(),
                          .scale = scale > 0 ? scale : source.scale(),
                          .orientation = Orientation::Up};
    const bool readyAsIs =
            source.format() == PixelFormat::BGRA8 && (source.premultiplied() || source.opaque());
    std::shared_ptr<Bitmap> staged;
    const Bitmap* bgra = &source;
    if (!readyAsIs) {
        staged = Bitmap::create(source.width(), source.height(), layout);
        if (!staged) {
            return nullptr;
        }
        for (int y = 0; y < source.height(); ++y) {
            const uint8_t* in = source.row(y);
            uint8_t* out = staged->row(y);
            for (int x = 0; x < source.width(); ++x, out += 4) {
                switch (source.format()) {
                    case PixelFormat::Gray8:
                        out[0] = out[1] = out[2] = in[x];
                        out[3] = 255;
                        break;
                    case PixelFormat::RGBA8:
                        out[0] = in[x * 4 + 2];
                        out[1] = in[x * 4 + 1];
                        out[2] = in[x * 4];
                        out[3] = in[x * 4 + 3];
                        break;
                    case PixelFormat::BGRA8:
                        std::memcpy(out, in + x * 4, 4);
                        break;
                }
            }
            if (source.format() != PixelFormat::Gray8 && !source.premultiplied()
                && !source.opaque()) {
                BitmapRedraw::premultiply(staged->row(y), static_cast<std::size_t>(source.width()));
            }
        }
        bgra = staged.get();
    }
    upright = Bitmap::create(w, h, layout);
    if (!upright) {
        return nullptr;
    }
    orient(*bgra, *upright, orientation);
    if (layout.opaque) {
        for (int y = 0; y < h; ++y) {
            uint8_t* p = upright->row(y);
            for (int x = 0; x < w; ++x) {
                p[x * 4 + 3] = 255;
            }
        }
    }
    return upright;
}

}  // namespace pelmar::image
