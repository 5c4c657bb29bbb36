#include "testing/ScreenLook.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"
#include "pelmar/platform/av/PlayerLayer.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Snapshot.h"

namespace pelmar::test {

namespace {

// Two colours differ by more than this in some channel: ink against a background.
constexpr int kInkDifference = 48;
// Colours fall into bins of this many levels per channel when pictures are compared.
constexpr int kBinLevels = 32;
// A source colour counts when it covers this share of the source picture...
constexpr double kMainColourShare = 0.03;
// ... and is seen when it covers this share of the area where the picture stands.
constexpr double kSeenColourShare = 0.005;

using Colour = std::array<int, 3>;  // B, G, R of a premultiplied pixel

Colour colourAt(const image::Bitmap& picture, int x, int y) {
    const uint8_t* p = picture.pixel(x, y);
    if (picture.format() == image::PixelFormat::RGBA8) {
        return {p[2], p[1], p[0]};
    }
    return {p[0], p[1], p[2]};
}

int bin(const Colour& c) {
    return (c[0] / kBinLevels) * 64 + (c[1] / kBinLevels) * 8 + c[2] / kBinLevels;
}

struct Area {
    int x0, y0, x1, y1;  // pixels, half open

    int pixels() const { return std::max(0, x1 - x0) * std::max(0, y1 - y0); }
};

Area areaOf(const image::Bitmap& picture, ui::Rect rect) {
    const double scale = picture.scale();
    return {std::max(0, static_cast<int>(std::ceil(rect.x * scale))),
            std::max(0, static_cast<int>(std::ceil(rect.y * scale))),
            std::min(picture.width(), static_cast<int>(std::floor((rect.x + rect.width) * scale))),
            std::min(picture.height(),
                     static_cast<int>(std::floor((rect.y + rect.height) * scale)))};
}

// Pixels of `area` that differ from its most common colour.
int inkIn(const image::Bitmap& picture, const Area& area) {
    std::map<int, int> bins;
    std::map<int, Colour> sample;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            const Colour c = colourAt(picture, x, y);
            const int b = bin(c);
            ++bins[b];
            sample.emplace(b, c);
        }
    }
    if (bins.empty()) {
        return 0;
    }
    const auto main = std::max_element(bins.begin(), bins.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
    });
    const Colour background = sample[main->first];
    int ink = 0;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            const Colour c = colourAt(picture, x, y);
            for (int i = 0; i < 3; ++i) {
                if (std::abs(c[i] - background[i]) > kInkDifference) {
                    ++ink;
                    break;
                }
            }
        }
    }
    return ink;
}

// Pixels `view` paints on its own, without its layer's background and border, inside `within`
// (its bounds coordinates; none: everywhere).
int ownInk(ui::View& view, std::optional<ui::Rect> within = std::nullopt) {
    auto layer = view.layer();
    const auto background = layer->backgroundColor();
    const double border = layer->borderWidth();
    layer->setBackgroundColor(std::nullopt);
    layer->setBorderWidth(0);
    auto alone = ui::render(view, 2);
    layer->setBackgroundColor(background);
    layer->setBorderWidth(border);
    if (!alone) {
        return 0;
    }
    const ui::Rect b = view.bounds();
    const Area area = within ? areaOf(*alone, {within->x - b.x, within->y - b.y, within->width,
                                               within->height})
                             : Area{0, 0, alone->width(), alone->height()};
    int ink = 0;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            ink += alone->pixel(x, y)[3] >= 64 ? 1 : 0;
        }
    }
    return ink;
}

// The pixels that tell a user what `control` is, besides blank backgrounds and borders (a blank
// circle is not a control a user can tell from another). A control that paints nothing at all,
// with no background or border of its own, is a tap area laid over what it stands for (an icon
// in its superview): for it, what its superview paints inside its frame counts.
int controlInk(ui::View& control) {
    const int own = ownInk(control);
    const auto layer = control.layer();
    const bool bare = !(layer->backgroundColor() && layer->backgroundColor()->alpha > 0)
                      && layer->borderWidth() <= 0;
    auto superview = control.superview();
    if (own > 0 || !bare || !superview) {
        return own;
    }
    return ownInk(*superview, control.frame());
}

// Colour bins of `picture` and the share of its pixels in each.
std::map<int, double> colourShares(const image::Bitmap& picture, const Area& area) {
    std::map<int, double> shares;
    const double total = area.pixels();
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            shares[bin(colourAt(picture, x, y))] += 1 / total;
        }
    }
    return shares;
}

std::string name(const ui::View& view) {
    std::string text = view.describe();
    const ui::Rect shown = view.convertTo(view.bounds(), nullptr);
    std::ostringstream where;
    where << " (at " << shown.x << ", " << shown.y << " in the window)";
    text += where.str();
    if (const auto* label = dynamic_cast<const ui::Label*>(&view)) {
        text += " \"" + label->text() + "\"";
    } else if (const auto* button = dynamic_cast<const ui::Button*>(&view)) {
        if (!button->title().empty()) {
            text += " titled \"" + button->title() + "\"";
        }
        if (auto image = button->currentImage(); image && !image->name().empty()) {
            text += " with image \"" + image->name() + "\"";
        }
    }
    return text;
}

// A live picture layer in the screen, where it stands in window coordinates, and its source.
struct Picture {
    std::string what;
    ui::Rect rect;
    std::shared_ptr<const image::Bitmap> source;
};

void collectPictures(ui::View& view,
                     ui::Layer& layer,
                     ui::Rect inView,
                     std::vector<Picture>& pictures) {
    if (layer.opacity() <= 0) {
        return;
    }
    const ui::Rect rect = view.convertTo(inView, nullptr);
    if (auto* preview = dynamic_cast<av::CaptureVideoPreviewLayer*>(&layer)) {
        pictures.push_back(
                {"the camera preview in " + view.describe(), rect, preview->currentPicture()});
    } else if (auto* player = dynamic_cast<av::PlayerLayer*>(&layer)) {
        pictures.push_back({"the player's picture in " + view.describe(), rect,
                            player->copyCurrentImage(96, 96).first});
    }
    for (const auto& sub : layer.sublayers()) {
        const ui::Rect f = sub->frame();
        collectPictures(view, *sub, {inView.x + f.x, inView.y + f.y, f.width, f.height}, pictures);
    }
}

void walk(ui::View& view, const std::function<void(ui::View&)>& visit) {
    if (view.isHidden() || view.alpha() <= 0) {
        return;
    }
    visit(view);
    const auto subviews = view.subviews();
    for (const auto& sub : subviews) {
        walk(*sub, visit);
    }
}

}  // namespace

LookFaults lookFaults(ui::Window& window, ui::View& screen, const LookExpectation& expected) {
    LookFaults found;
    auto& faults = found.drawing;
    auto shown = ui::render(window, 2);
    if (!shown) {
        found.pictures.push_back("the window cannot be painted");
        return found;
    }
    const auto ignored = [&](const ui::View& v) {
        return std::find(expected.ignoring.begin(), expected.ignoring.end(), &v)
               != expected.ignoring.end();
    };
    std::vector<Picture> pictures;
    walk(screen, [&](ui::View& view) {
        if (ignored(view) || !view.isEffectivelyVisible()) {
            return;
        }
        const ui::Rect bounds = view.bounds();
        collectPictures(view, *view.layer(), bounds, pictures);
        const auto* label = dynamic_cast<const ui::Label*>(&view);
        const bool control = dynamic_cast<const ui::Control*>(&view) != nullptr;
        if (!control && !(label && !label->text().empty())) {
            return;
        }
        const Area area = areaOf(*shown, view.convertTo(bounds, nullptr));
        if (area.pixels() <= 0) {
            return;
        }
        // Ink of a short text in a long label is a small share of its frame.
        const int needed = std::max(4, area.pixels() / 500);
        if (inkIn(*shown, area) < needed) {
            faults.push_back(name(view)
                             + (label ? " shows no ink where its text stands"
                                      : " draws nothing inside its frame"));
        } else if (control && controlInk(view) < needed) {
            faults.push_back(name(view) + " draws only its background and border");
        }
    });
    if (static_cast<int>(pictures.size()) < expected.pictures) {
        std::ostringstream out;
        out << "the screen shows " << pictures.size() << " live picture(s), not "
            << expected.pictures << " (a camera preview or player layer is missing or not "
            << "attached)";
        found.pictures.push_back(out.str());
    }
    for (const auto& picture : pictures) {
        const Area area = areaOf(*shown, picture.rect);
        if (area.pixels() <= 0) {
            continue;
        }
        if (!picture.source) {
            found.pictures.push_back(picture.what + " has no picture to show");
            continue;
        }
        const auto source = colourShares(*picture.source,
                                         {0, 0, picture.source->width(), picture.source->height()});
        const auto seen = colourShares(*shown, area);
        int main = 0;
        int matched = 0;
        for (const auto& [colour, share] : source) {
            if (share < kMainColourShare) {
                continue;
            }
            ++main;
            const auto it = seen.find(colour);
            matched += it != seen.end() && it->second >= kSeenColourShare ? 1 : 0;
        }
        int seenColours = 0;
        for (const auto& [colour, share] : seen) {
            seenColours += share >= kSeenColourShare ? 1 : 0;
        }
        if (seenColours < 2 && main >= 2) {
            found.pictures.push_back(picture.what + " is blank where it stands");
        } else if (matched * 2 < main) {
            std::ostringstream out;
            out << picture.what << " shows " << matched << " of the " << main
                << " main colours of its source where it stands";
            found.pictures.push_back(out.str());
        }
    }
    return found;
}

}  // namespace pelmar::test
