#include "pelmar/platform/ui/internal/ViewPainter.h"

#include <fontconfig/fontconfig.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/BarButtonItem.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/GradientLayer.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationItem.h"
#include "pelmar/platform/ui/RecordingContext.h"
#include "pelmar/platform/ui/Slider.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Switch.h"
#include "pelmar/platform/ui/testing/Pixels.h"

namespace pelmar::ui {
namespace {

using test::colorAt;
using test::inkCount;
using test::looksLike;

constexpr Color kRed{1, 0, 0, 1};
constexpr Color kGreen{0, 1, 0, 1};
constexpr Color kBlue{0, 0, 1, 1};
constexpr Color kGrey{0.5, 0.5, 0.5, 1};
constexpr Color kBackdrop{0.2, 0.2, 0.2, 1};

std::shared_ptr<View> backdrop(Rect frame, Color color = kBackdrop) {
    auto view = std::make_shared<View>(frame);
    view->layer()->setBackgroundColor(color);
    return view;
}

// A picture of one colour, `width` x `height` pixels.
std::shared_ptr<const Image> solid(int width, int height, Color color, double scale = 1) {
    auto bitmap = image::Bitmap::create(width, height,
                                        {.format = image::PixelFormat::RGBA8, .scale = scale});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = static_cast<uint8_t>(std::lround(color.red * 255));
            p[1] = static_cast<uint8_t>(std::lround(color.green * 255));
            p[2] = static_cast<uint8_t>(std::lround(color.blue * 255));
            p[3] = 255;
        }
    }
    return Image::fromBitmap(std::move(bitmap));
}

// The pixel of the ink (the colour farthest from the backdrop) inside `rect`.
Color strongestInk(const image::Bitmap& bitmap, Rect rect, Color background) {
    Color best = background;
    double bestDistance = 0;
    for (double y = rect.y + 0.25; y < rect.y + rect.height; y += 0.5) {
        for (double x = rect.x + 0.25; x < rect.x + rect.width; x += 0.5) {
            const Color c = colorAt(bitmap, x, y);
            const double d = std::abs(c.red - background.red) + std::abs(c.green - background.green)
                             + std::abs(c.blue - background.blue);
            if (d > bestDistance) {
                bestDistance = d;
                best = c;
            }
        }
    }
    return best;
}

// The horizontal extent of the ink inside `rect`: {leftmost, rightmost} in points.
std::pair<double, double> inkColumns(const image::Bitmap& bitmap, Rect rect, Color background) {
    double left = rect.x + rect.width;
    double right = rect.x;
    for (double y = rect.y + 0.25; y < rect.y + rect.height; y += 0.5) {
        for (double x = rect.x + 0.25; x < rect.x + rect.width; x += 0.5) {
            if (!looksLike(colorAt(bitmap, x, y), background, 0.2)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {left, right};
}

TEST(ViewPainterTest, LabelInkIsInItsColourFontAndAlignmentInsideItsFrame) {
    auto root = backdrop({0, 0, 300, 120});
    auto label = std::make_shared<Label>(Rect{20, 30, 260, 40});
    label->setText("Retake");
    label->setFont(Font::boldSystemFont(24));
    label->setTextColor(kGreen);
    label->setTextAlignment(TextAlignment::Right);
    root->addSubview(label);
    auto painted = render(*root, 2);
    ASSERT_TRUE(painted);

    const Rect frame = label->frame();
    EXPECT_GT(inkCount(*painted, frame, kBackdrop), 200);
    EXPECT_EQ(inkCount(*painted, {0, 0, 300, 30}, kBackdrop), 0) << "no ink above the frame";
    EXPECT_EQ(inkCount(*painted, {0, 70, 300, 50}, kBackdrop), 0) << "no ink below the frame";
    EXPECT_TRUE(looksLike(strongestInk(*painted, frame, kBackdrop), kGreen, 0.1));
    const auto [left, right] = inkColumns(*painted, frame, kBackdrop);
    EXPECT_GT(right, 270) << "right-aligned text ends at the frame's right edge";
    EXPECT_GT(left, 150) << "and leaves the left of the frame empty";

    // The same text in a larger bold font covers more.
    const int bold = inkCount(*painted, frame, kBackdrop);
    label->setFont(Font::systemFont(12));
    auto small = render(*root, 2);
    EXPECT_LT(inkCount(*small, frame, kBackdrop), bold / 2);
}

TEST(ViewPainterTest, LabelsWrapToTheirLineCount) {
    auto root = backdrop({0, 0, 100, 200});
    auto label = std::make_shared<Label>(Rect{0, 0, 100, 200});
    label->setText("one two three four five six seven eight");
    label->setTextColor(Color::white());
    root->addSubview(label);
    const auto rowsWithInk = [&] {
        auto painted = render(*root);
        int rows = 0;
        for (int y = 0; y < 200; ++y) {
            rows += inkCount(*painted, {0, static_cast<double>(y), 100, 1}, kBackdrop) > 0;
        }
        return rows;
    };
    const int oneLine = rowsWithInk();
    label->setNumberOfLines(0);
    const int wrapped = rowsWithInk();
    label->setNumberOfLines(2);
    const int two = rowsWithInk();
    EXPECT_GT(wrapped, 3 * oneLine) << "unlimited lines wrap the whole text";
    EXPECT_GT(two, oneLine + oneLine / 2);
    EXPECT_LT(two, wrapped);
}

// An attributed title: a large first line and a small second one, each in its own colour.
TEST(ViewPainterTest, AttributedTextPaintsEachRunInItsFontAndColour) {
    auto root = backdrop({0, 0, 200, 80});
    auto label = std::make_shared<Label>(Rect{0, 0, 200, 80});
    label->setNumberOfLines(0);
    label->setTextAlignment(TextAlignment::Center);
    label->setAttributedText({{"January 1", Font::systemFont(24), kRed},
                              {"\n12:16\u202FAM", Font::systemFont(12), kGreen}});
    root->addSubview(label);
    EXPECT_EQ(label->text(), "January 1\n12:16\u202FAM");
    auto painted = render(*root, 2);
    ASSERT_TRUE(painted);
    const auto inkOf = [&](Rect area, Color colour) {
        int count = 0;
        for (double y = area.y + 0.25; y < area.y + area.height; y += 0.5) {
            for (double x = area.x + 0.25; x < area.x + area.width; x += 0.5) {
                count += looksLike(colorAt(*painted, x, y), colour, 0.2);
            }
        }
        return count;
    };
    const int redTop = inkOf({0, 0, 200, 45}, kRed);
    const int greenBottom = inkOf({0, 45, 200, 35}, kGreen);
    EXPECT_GT(redTop, 100);
    EXPECT_GT(greenBottom, 20);
    EXPECT_EQ(inkOf({0, 48, 200, 32}, kRed), 0) << "the first run stays on its line";
    EXPECT_EQ(inkOf({0, 0, 200, 40}, kGreen), 0);
    EXPECT_GT(redTop, 2 * greenBottom) << "the first run's font is the larger";

    label->setText("plain");
    EXPECT_TRUE(label->attributedText().empty());
}

// Whether the face fontconfig finds for `family` is that family and holds `character`.
bool familyHolds(const std::string& family, FcChar32 character) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
    if (pattern == nullptr) {
        return false;
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) {
        return false;
    }
    FcChar8* found = nullptr;
    FcCharSet* characters = nullptr;
    const bool holds = FcPatternGetString(match, FC_FAMILY, 0, &found) == FcResultMatch
                       && family == reinterpret_cast<const char*>(found)
                       && FcPatternGetCharSet(match, FC_CHARSET, 0, &characters) == FcResultMatch
                       && FcCharSetHasChar(characters, character);
    FcPatternDestroy(match);
    return holds;
}

// A character that the label's font lacks comes from another installed font: its ink differs
// from the box drawn for a character no font has.
TEST(ViewPainterTest, CharactersOutsideTheFontAreNotDrawnAsBoxes) {
    // Both faces come with fonts-dejavu-core, which the build installs: the sans-serif face holds
    // U+1D538 (a double-struck A), the monospaced one does not.
    ASSERT_TRUE(familyHolds("DejaVu Sans", 0x1D538)) << "fonts-dejavu-core is not installed";
    ASSERT_FALSE(familyHolds("DejaVu Sans Mono", 0x1D538));
    const auto paintText = [](const std::string& text, const std::string& family) {
        auto root = backdrop({0, 0, 60, 40}, Color::white());
        auto label = std::make_shared<Label>(Rect{0, 0, 60, 40});
        label->setText(text);
        label->setFont(Font::named(family, 28));
        label->setTextAlignment(TextAlignment::Center);
        root->addSubview(label);
        return render(*root, 2);
    };
    const auto differing = [](const image::Bitmap& a, const image::Bitmap& b) {
        int count = 0;
        for (double y = 0.25; y < 40; y += 0.5) {
            for (double x = 0.25; x < 60; x += 0.5) {
                count += !looksLike(colorAt(a, x, y), colorAt(b, x, y), 0.3);
            }
        }
        return count;
    };
    // U+10FFFD is a private-use character no font draws.
    const auto box = paintText("\U0010FFFD", "DejaVu Sans Mono");
    const auto fallback = paintText("\U0001D538", "DejaVu Sans Mono");
    ASSERT_TRUE(box && fallback);
    EXPECT_GT(inkCount(*fallback, {0, 0, 60, 40}, Color::white()), 100);
    EXPECT_GT(differing(*fallback, *box), 200) << "the fallback glyph is not the box";

    // The picker's preview title puts a narrow no-break space before AM.
    const auto title = paintText("12:16\u202FAM", "sans-serif");
    const auto spaced = paintText("12:16 AM", "sans-serif");
    EXPECT_LT(inkCount(*title, {0, 0, 60, 40}, Color::white()),
              inkCount(*spaced, {0, 0, 60, 40}, Color::white()) + 20)
            << "no box where the narrow space stands";
}

struct PlacementCase {
    const char* name;
    ContentMode mode;
    Rect expected;  // where a 40 x 20 picture goes in a 100 x 100 view
};

class ViewPainterPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(ViewPainterPlacementTest, PicturesArePlacedByTheirContentMode) {
    const auto& c = GetParam();
    auto root = backdrop({0, 0, 140, 140});
    auto view = std::make_shared<ImageView>(Rect{20, 20, 100, 100});
    view->layer()->setBackgroundColor(Color::black());
    view->setImage(solid(40, 20, kRed));
    view->setContentMode(c.mode);
    view->setClipsToBounds(true);
    root->addSubview(view);
    auto painted = render(*root, 2);
    ASSERT_TRUE(painted);
    // The part of the placed picture inside the view, in the root's coordinates.
    const double x0 = std::max(0.0, c.expected.x), y0 = std::max(0.0, c.expected.y);
    const Rect e{x0 + 20, y0 + 20, std::min(100.0, c.expected.x + c.expected.width) - x0,
                 std::min(100.0, c.expected.y + c.expected.height) - y0};
    EXPECT_EQ(placeContent(c.mode, {0, 0, 100, 100}, {40, 20}), c.expected);
    EXPECT_TRUE(looksLike(colorAt(*painted, e.x + 0.5, e.y + 0.5), kRed)) << "top left";
    EXPECT_TRUE(looksLike(colorAt(*painted, e.x + e.width - 0.5, e.y + e.height - 0.5), kRed))
            << "bottom right";
    if (e.y > 20) {
        EXPECT_TRUE(looksLike(colorAt(*painted, e.x + 1, e.y - 0.5), Color::black()))
                << "letterboxed above";
    }
    if (e.x > 20) {
        EXPECT_TRUE(looksLike(colorAt(*painted, e.x - 0.5, e.y + 1), Color::black()))
                << "letterboxed left";
    }
    EXPECT_TRUE(looksLike(colorAt(*painted, 10, 70), kBackdrop)) << "clipped to the bounds";
    EXPECT_TRUE(looksLike(colorAt(*painted, 130, 70), kBackdrop)) << "clipped to the bounds";
}

INSTANTIATE_TEST_SUITE_P(
        Modes,
        ViewPainterPlacementTest,
        ::testing::Values(PlacementCase{"ScaleToFill", ContentMode::ScaleToFill, {0, 0, 100, 100}},
                          PlacementCase{"AspectFit", ContentMode::ScaleAspectFit, {0, 25, 100, 50}},
                          PlacementCase{
                                  "AspectFill", ContentMode::ScaleAspectFill, {-50, 0, 200, 100}},
                          PlacementCase{"Center", ContentMode::Center, {30, 40, 40, 20}},
                          PlacementCase{"Top", ContentMode::Top, {30, 0, 40, 20}},
                          PlacementCase{"Left", ContentMode::Left, {0, 40, 40, 20}},
                          PlacementCase{"BottomRight", ContentMode::BottomRight, {60, 80, 40, 20}}),
        [](const auto& param) { return std::string(param.param.name); });

TEST(ViewPainterTest, OnePixelImagesStretchWithoutBleeding) {
    auto root = backdrop({0, 0, 100, 30});
    auto track = std::make_shared<ImageView>(Rect{10, 10, 80, 7});
    track->setImage(solid(1, 1, Color{0, 1, 1, 1}));
    root->addSubview(track);
    auto painted = render(*root, 3);
    ASSERT_TRUE(painted);
    for (double y : {10.1, 13.5, 16.9}) {
        SCOPED_TRACE(y);
        EXPECT_TRUE(looksLike(colorAt(*painted, 10.1, y), Color{0, 1, 1, 1}, 0.02));
        EXPECT_TRUE(looksLike(colorAt(*painted, 89.9, y), Color{0, 1, 1, 1}, 0.02));
    }
    EXPECT_EQ(inkCount(*painted, {0, 0, 100, 10}, kBackdrop), 0);
    EXPECT_EQ(inkCount(*painted, {0, 17, 100, 13}, kBackdrop), 0);
    EXPECT_EQ(inkCount(*painted, {0, 0, 10, 30}, kBackdrop), 0);
}

TEST(ViewPainterTest, ButtonsShowTheTitleAndImageOfTheirState) {
    auto root = backdrop({0, 0, 200, 60});
    auto button = std::make_shared<Button>(Rect{0, 0, 200, 60});
    button->setTitle("Crop");
    button->setTitleFont(Font::boldSystemFont(30));
    button->setTitleColor(Color::white(), ControlState::Normal);
    button->setTitleColor(kGrey, ControlState::Disabled);
    root->addSubview(button);
    auto normal = render(*root, 2);
    EXPECT_TRUE(looksLike(strongestInk(*normal, button->frame(), kBackdrop), Color::white(), 0.1));
    const auto [left, right] = inkColumns(*normal, button->frame(), kBackdrop);
    EXPECT_NEAR((left + right) / 2, 100, 6) << "the title is centred";

    button->setEnabled(false);
    auto disabled = render(*root, 2);
    EXPECT_TRUE(looksLike(strongestInk(*disabled, button->frame(), kBackdrop), kGrey, 0.1))
            << "a disabled title takes the disabled colour";

    // Images per state, at their own size beside no title, centred.
    button->setTitle("");
    button->setImage(solid(20, 20, kRed), ControlState::Normal);
    button->setImage(solid(20, 20, kGreen), ControlState::Selected);
    button->setImage(solid(20, 20, kBlue), ControlState::Disabled);

    struct Case {
        const char* name;
        bool enabled;
        bool selected;
        Color expected;
    };

    for (const auto& c : {Case{"normal", true, false, kRed}, Case{"selected", true, true, kGreen},
                          Case{"disabled", false, true, kBlue}}) {
        SCOPED_TRACE(c.name);
        button->setEnabled(c.enabled);
        button->setSelected(c.selected);
        auto painted = render(*root, 2);
        EXPECT_TRUE(looksLike(colorAt(*painted, 100, 30), c.expected));
        EXPECT_TRUE(looksLike(colorAt(*painted, 89, 30), kBackdrop)) << "at its own size";
    }
}

TEST(ViewPainterTest, TemplateImagesTakeTheInheritedTint) {
    auto root = backdrop({0, 0, 40, 40});
    root->setTintColor(kGreen);
    auto view = std::make_shared<ImageView>(Rect{10, 10, 20, 20});
    view->setImage(Image::asTemplate(solid(4, 4, kRed)));
    root->addSubview(view);
    auto painted = render(*root, 2);
    EXPECT_TRUE(looksLike(colorAt(*painted, 20, 20), kGreen));
}

TEST(ViewPainterTest, GradientsAreContinuousAndMasksCutThem) {
    auto root = backdrop({0, 0, 256, 20}, Color::white());
    auto gradient = std::make_shared<GradientLayer>();
    gradient->setFrame({0, 0, 256, 20});
    gradient->setColors({Color::black(), Color::white()});
    gradient->setStartPoint({0, 0.5});
    gradient->setEndPoint({1, 0.5});
    root->layer()->addSublayer(gradient);
    auto painted = render(*root);
    ASSERT_TRUE(painted);
    double previous = -1;
    double largestStep = 0;
    for (int x = 0; x < 256; ++x) {
        const double v = colorAt(*painted, x + 0.5, 10).red;
        if (previous >= 0) {
            EXPECT_GE(v, previous - 1e-9) << "at x " << x;
            largestStep = std::max(largestStep, v - previous);
        }
        previous = v;
    }
    EXPECT_LT(largestStep, 3.0 / 255) << "no bands";
    EXPECT_LT(colorAt(*painted, 0.5, 10).red, 0.02);
    EXPECT_GT(colorAt(*painted, 255.5, 10).red, 0.98);

    // A mask whose left half is opaque keeps only that half of the gradient.
    auto mask = std::make_shared<Layer>();
    mask->setFrame({0, 0, 128, 20});
    mask->setBackgroundColor(Color::black());
    gradient->setMask(mask);
    auto masked = render(*root);
    EXPECT_TRUE(looksLike(colorAt(*masked, 64, 10), colorAt(*painted, 64, 10)));
    EXPECT_TRUE(looksLike(colorAt(*masked, 200, 10), Color::white())) << "cut by the mask";
}

TEST(ViewPainterTest, SublayersAndSubviewsPaintInOrderWithTheirPlaceAndOpacity) {
    auto root = backdrop({0, 0, 100, 100});
    root->setClipsToBounds(true);
    auto sublayer = std::make_shared<Layer>();
    sublayer->setFrame({10, 20, 30, 40});
    sublayer->setOpacity(0.5);
    sublayer->setBackgroundColor(kRed);
    auto inner = std::make_shared<Layer>();
    inner->setFrame({1, 2, 3, 4});
    inner->setBackgroundColor(kGreen);
    sublayer->addSublayer(inner);
    root->layer()->addSublayer(sublayer);
    auto hidden = std::make_shared<Layer>();
    hidden->setHidden(true);
    hidden->setBackgroundColor(kBlue);
    root->layer()->addSublayer(hidden);
    root->addSubview(backdrop({50, 50, 80, 80}, kBlue));

    RecordingContext context;
    paint(*root, context);
    const auto& ops = context.operations();
    // The place of an operation; a missing one fails (rather than sorting after everything).
    const auto at = [&](const std::string& line) {
        const auto found = std::find(ops.begin(), ops.end(), line);
        EXPECT_NE(found, ops.end()) << "no operation \"" << line << "\"";
        return found - ops.begin();
    };
    EXPECT_LT(at("clip 0 0 100 100 r=0"), at("fillRect 0 0 100 100 r=0"));
    EXPECT_LT(at("translate 10 20"), at("alpha 0.5"));
    EXPECT_LT(at("alpha 0.5"), at("fillRect 0 0 30 40 r=0"));
    EXPECT_LT(at("fillRect 0 0 30 40 r=0"), at("translate 1 2"));
    EXPECT_LT(at("translate 1 2"), at("fillRect 0 0 3 4 r=0"));
    EXPECT_LT(at("fillRect 0 0 3 4 r=0"), at("translate 50 50")) << "sublayers under subviews";
    EXPECT_EQ(context.operations("fillColor 0 0 1 1").size(), 1u)
            << "the hidden layer paints nothing";

    auto painted = render(*root);
    EXPECT_TRUE(looksLike(colorAt(*painted, 20, 40), {0.6, 0.1, 0.1, 1}, 0.02)) << "half red";
    EXPECT_TRUE(looksLike(colorAt(*painted, 99.5, 99.5), kBlue)) << "the subview, clipped";
}

TEST(ViewPainterTest, NavigationBarsPaintTheirTintTitleAndTintedButtons) {
    auto bar = std::make_shared<NavigationBar>(Rect{0, 0, 300, 44});
    bar->setTranslucent(false);
    bar->setBarTintColor(Color::black());
    bar->setTitleTextColor(Color::white());
    bar->setTintColor(kGreen);
    auto item = std::make_shared<NavigationItem>();
    item->setTitle("Albums");
    auto done = std::make_shared<BarButtonItem>("Done", [] {});
    item->setRightBarButtonItems({done});
    bar->setItems({item});
    auto painted = render(*bar, 2);
    ASSERT_TRUE(painted);
    EXPECT_TRUE(looksLike(colorAt(*painted, 2, 2), Color::black())) << "the bar tint";
    EXPECT_TRUE(looksLike(strongestInk(*painted, {100, 0, 100, 44}, Color::black()), Color::white(),
                          0.1))
            << "the title in its colour";
    EXPECT_TRUE(looksLike(strongestInk(*painted, {232, 0, 60, 44}, Color::black()), kGreen, 0.1))
            << "the bar button in the tint";
}

TEST(ViewPainterTest, RoundedCornersAndBordersStayInsideTheBounds) {
    auto root = backdrop({0, 0, 60, 60});
    auto badge = backdrop({10, 10, 40, 40}, Color::white());
    badge->layer()->setCornerRadius(20);
    badge->layer()->setBorderWidth(2);
    badge->layer()->setBorderColor(kRed);
    badge->setClipsToBounds(true);
    badge->addSubview(backdrop({0, 0, 40, 40}, kBlue));
    root->addSubview(badge);
    auto painted = render(*root, 2);
    EXPECT_TRUE(looksLike(colorAt(*painted, 11, 11), kBackdrop)) << "the corner is cut off";
    EXPECT_TRUE(looksLike(colorAt(*painted, 30, 30), kBlue));
    EXPECT_TRUE(looksLike(colorAt(*painted, 30, 10.5), kRed)) << "the border over the content";
}

TEST(ViewPainterTest, SlidersPaintBothTracksAndTheThumbAtTheValue) {
    auto root = backdrop({0, 0, 228, 40});
    auto slider = std::make_shared<Slider>(Rect{0, 0, 228, 40});
    slider->setMaximumValue(2);
    slider->setValue(1);
    slider->setMinimumTrackTintColor(kRed);
    slider->setMaximumTrackTintColor(kBlue);
    root->addSubview(slider);
    auto painted = render(*root, 2);
    ASSERT_TRUE(painted);
    // The default thumb is 28 points round, centred at 114 for the middle value.
    EXPECT_TRUE(looksLike(colorAt(*painted, 114, 20), Color::white(), 0.1)) << "the thumb";
    EXPECT_TRUE(looksLike(colorAt(*painted, 50, 20), kRed, 0.1)) << "the minimum track";
    EXPECT_TRUE(looksLike(colorAt(*painted, 180, 20), kBlue, 0.1)) << "the maximum track";
    EXPECT_TRUE(looksLike(colorAt(*painted, 50, 10), kBackdrop)) << "the track is thin";

    // Track images stretch sharp-edged; a thumb image replaces the round thumb, at its size.
    slider->setMinimumTrackImage(solid(1, 1, kGreen));
    slider->setMaximumTrackImage(solid(2, 2, kGrey));
    slider->setThumbImage(solid(10, 10, kRed), ControlState::Normal);
    slider->setValue(2);
    auto images = render(*root, 2);
    EXPECT_TRUE(looksLike(colorAt(*images, 100, 20), kGreen, 0.02));
    EXPECT_TRUE(looksLike(colorAt(*images, 223, 20), kRed)) << "the thumb image at the end";
    EXPECT_TRUE(looksLike(colorAt(*images, 214, 20), kGreen, 0.02)) << "not the round thumb";
}

// Pixels inside `rect` with a channel below `level`: ink a person sees on a white screen.
int darkerThan(const image::Bitmap& bitmap, Rect rect, double level) {
    int count = 0;
    for (double y = rect.y + 0.25; y < rect.y + rect.height; y += 0.5) {
        for (double x = rect.x + 0.25; x < rect.x + rect.width; x += 0.5) {
            const Color c = colorAt(bitmap, x, y);
            count += std::min({c.red, c.green, c.blue}) < level ? 1 : 0;
        }
    }
    return count;
}

TEST(ViewPainterTest, TheDefaultThumbStandsOutOnAWhiteScreenAtTheStart) {
    auto root = backdrop({0, 0, 228, 40}, Color::white());
    auto slider = std::make_shared<Slider>(Rect{0, 0, 228, 40});
    root->addSubview(slider);
    auto painted = render(*root, 2);
    ASSERT_TRUE(painted);
    EXPECT_TRUE(looksLike(colorAt(*painted, 14, 20), Color::white(), 0.02)) << "a white disc";
    EXPECT_GT(darkerThan(*painted, {0, 0, 60, 40}, 0.8), 40) << "its shadow sets it apart";
}

TEST(ViewPainterTest, ADraggedSliderShowsItsHighlightedThumb) {
    auto root = backdrop({0, 0, 228, 40});
    auto slider = std::make_shared<Slider>(Rect{0, 0, 228, 40});
    slider->setThumbImage(solid(10, 10, kRed), ControlState::Normal);
    slider->setThumbImage(solid(20, 20, kGreen), ControlState::Highlighted);
    root->addSubview(slider);
    std::shared_ptr<image::Bitmap> whileDragged;
    slider->addTarget(ControlEvent::ValueChanged, [&] { whileDragged = render(*root, 2); });
    slider->dragTo(0.5f);
    ASSERT_TRUE(whileDragged);
    EXPECT_TRUE(looksLike(colorAt(*whileDragged, 114, 20), kGreen));
    EXPECT_TRUE(looksLike(colorAt(*whileDragged, 105, 12), kGreen)) << "at its own size";
    auto released = render(*root, 2);
    EXPECT_TRUE(looksLike(colorAt(*released, 114, 20), kRed));
}

TEST(ViewPainterTest, SwitchesPaintTheirTrackByValueAndTheThumbOnItsSide) {
    struct Case {
        const char* name;
        bool on;
        Color track;
        double thumbCentre;
        double trackPoint;
    };

    auto root = backdrop({0, 0, 80, 50});
    auto toggle = std::make_shared<Switch>(Rect{10, 10, Switch::kWidth, Switch::kHeight});
    toggle->setOnTintColor(kRed);
    root->addSubview(toggle);
    for (const auto& c : {Case{"on", true, kRed, 10 + 51 - 2 - 13.5, 18},
                          Case{"off", false, Color{0.254, 0.254, 0.26, 1}, 10 + 2 + 13.5, 53}}) {
        SCOPED_TRACE(c.name);
        toggle->setOn(c.on);
        auto painted = render(*root, 2);
        ASSERT_TRUE(painted);
        EXPECT_TRUE(looksLike(colorAt(*painted, c.thumbCentre, 25.5), Color::white(), 0.02));
        EXPECT_TRUE(looksLike(colorAt(*painted, c.trackPoint, 25.5), c.track, 0.02));
        EXPECT_TRUE(looksLike(colorAt(*painted, 10.5, 10.5), kBackdrop, 0.1)) << "round ends";
    }
}

TEST(ViewPainterTest, BackButtonsShowAChevronInTheTintEvenWithABlankTitle) {
    auto bar = std::make_shared<NavigationBar>(Rect{0, 0, 300, 44});
    bar->setTranslucent(false);
    bar->setBarTintColor(Color::black());
    bar->setTintColor(kGreen);
    auto below = std::make_shared<NavigationItem>();
    below->setTitle("Albums");
    below->setBackButtonTitle(" ");
    bar->setItems({below, std::make_shared<NavigationItem>()});
    ASSERT_TRUE(bar->backButton());
    auto painted = render(*bar, 2);
    ASSERT_TRUE(painted);
    const Rect back = bar->backButton()->frame();
    EXPECT_GT(inkCount(*painted, back, Color::black()), 40);
    EXPECT_TRUE(looksLike(strongestInk(*painted, back, Color::black()), kGreen, 0.1));
}

// The alpha down a column of `bitmap` at x, from y0 to y1 in steps of one point.
std::vector<double> alphaDown(const image::Bitmap& bitmap, double x, double y0, double y1) {
    std::vector<double> alphas;
    for (double y = y0; y <= y1; y += 1) {
        alphas.push_back(colorAt(bitmap, x, y).alpha);
    }
    return alphas;
}

TEST(ViewPainterTest, LayerShadowsAreBlurredOverTheirRadius) {
    struct Case {
        const char* name;
        bool paintedBySubview;
    };

    for (const auto& c : {Case{"the layer's background", false}, Case{"a subview", true}}) {
        SCOPED_TRACE(c.name);
        auto root = std::make_shared<View>(Rect{0, 0, 100, 120});
        auto box = std::make_shared<View>(Rect{30, 30, 40, 40});
        if (c.paintedBySubview) {
            box->addSubview(backdrop({0, 0, 40, 40}, kBlue));
        } else {
            box->layer()->setBackgroundColor(kBlue);
        }
        box->layer()->setShadowOpacity(1);
        box->layer()->setShadowColor(Color::black());
        box->layer()->setShadowOffset({0, 10});
        box->layer()->setShadowRadius(8);
        root->addSubview(box);
        auto painted = render(*root, 2);
        ASSERT_TRUE(painted);
        EXPECT_TRUE(looksLike(colorAt(*painted, 50, 50), kBlue)) << "the box over its shadow";
        // Below the box the shadow's lower edge (at 80) fades out over the radius.
        const auto alphas = alphaDown(*painted, 50, 71, 95);
        int partial = 0;
        for (std::size_t i = 1; i < alphas.size(); ++i) {
            EXPECT_LE(alphas[i], alphas[i - 1] + 1e-9) << "at " << 71 + i;
            partial += alphas[i] > 0.05 && alphas[i] < 0.95 ? 1 : 0;
        }
        EXPECT_GE(partial, 8) << "partly transparent over the radius, not a hard edge";
        EXPECT_NEAR(colorAt(*painted, 50, 80).alpha, 0.5, 0.15) << "half way at the edge";
        EXPECT_LT(colorAt(*painted, 50, 100).alpha, 0.02) << "gone beyond the radius";
        const Color shade = colorAt(*painted, 50, 84);
        EXPECT_LT(shade.red + shade.green + shade.blue, 0.1) << "in the shadow's colour";
    }
}

class ViewPainterClockTest : public dispatch::test::MainLoopFixture {};

TEST_F(ViewPainterClockTest, AnimatedImageViewsShowTheFrameForTheClockTime) {
    auto root = backdrop({0, 0, 20, 20});
    auto view = std::make_shared<ImageView>(Rect{0, 0, 20, 20});
    view->setImage(solid(2, 2, kGrey));
    view->setAnimationImages({solid(2, 2, kRed), solid(2, 2, kGreen), solid(2, 2, kBlue)});
    view->setHighlightedAnimationImages(
            {Image::asTemplate(solid(2, 2, kRed)), solid(2, 2, Color::white())});
    view->setAnimationDuration(0.3);
    view->setAnimationRepeatCount(2);
    view->setTintColor(Color::black());
    root->addSubview(view);

    struct Step {
        const char* name;
        double at;
        bool highlighted;
        Color shown;
    };

    view->startAnimating();
    for (const auto& step :
         {Step{"first frame", 0.0, false, kRed}, Step{"second frame", 0.15, false, kGreen},
          Step{"third frame", 0.25, false, kBlue}, Step{"second pass", 0.35, false, kRed},
          Step{"highlighted, tinted template", 0.36, true, Color::black()},
          Step{"highlighted second frame", 0.5, true, Color::white()},
          Step{"passes over: the image", 0.61, false, kGrey}}) {
        SCOPED_TRACE(step.name);
        clock().setNow(step.at);
        view->setHighlighted(step.highlighted);
        auto painted = render(*root, 1);
        ASSERT_TRUE(painted);
        EXPECT_TRUE(looksLike(colorAt(*painted, 10, 10), step.shown));
    }
    EXPECT_FALSE(view->isAnimating());
}

}  // namespace
}  // namespace pelmar::ui
