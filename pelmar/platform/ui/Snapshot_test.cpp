#include "pelmar/platform/ui/Snapshot.h"

#include <cairo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/RecordingContext.h"
#include "testing/Matchers.h"

namespace pelmar::ui {
namespace {

// A view that draws a filled triangle in its own coordinates.
class Marker : public View {
public:
    using View::View;

    void draw(GraphicsContext& context) override {
        context.setFillColor({0, 0, 1, 1});
        context.moveTo({0, 0});
        context.lineTo({10, 0});
        context.lineTo({0, 10});
        context.closePath();
        context.fillPath();
    }
};

std::shared_ptr<View> coloured(Rect frame, Color color) {
    auto view = std::make_shared<View>(frame);
    view->layer()->setBackgroundColor(color);
    return view;
}

// A white 100x100 root with: a red square at 10,10 (a green child at 5,5 of it), a hidden
// yellow view, a half-transparent black one, a marker and a 2x2 image view.
struct Tree {
    Tree() {
        root = coloured({0, 0, 100, 100}, Color::white());
        auto red = coloured({10, 10, 40, 40}, {1, 0, 0, 1});
        red->addSubview(coloured({5, 5, 10, 10}, {0, 1, 0, 1}));
        root->addSubview(red);
        auto hidden = coloured({60, 10, 30, 30}, {1, 1, 0, 1});
        hidden->setHidden(true);
        root->addSubview(hidden);
        auto half = coloured({60, 60, 30, 30}, Color::black());
        half->setAlpha(0.5);
        root->addSubview(half);
        root->addSubview(std::make_shared<Marker>(Rect{0, 80, 20, 20}));
        auto bitmap = image::Bitmap::create(2, 2, image::PixelFormat::RGBA8);
        for (int i = 0; i < 4; ++i) {
            bitmap->data()[i * 4 + 1] = 0xFF;  // green
            bitmap->data()[i * 4 + 3] = 0xFF;
        }
        image = std::make_shared<ImageView>(Rect{30, 60, 20, 20});
        image->setImage(Image::fromBitmap(bitmap));
        root->addSubview(image);
    }

    std::shared_ptr<View> root;
    std::shared_ptr<ImageView> image;
};

TEST(SnapshotTest, PngOfAViewTreeHasTheExpectedColoursAtSamplePoints) {
    Tree tree;
    test::TempSandbox sandbox;
    const auto path = sandbox.root() / "tree.png";
    ASSERT_FALSE(snapshot(*tree.root, path));

    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(png), 100);
    const auto* data = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    // Pixels as 0xAARRGGBB.
    auto at = [&](int x, int y) {
        const auto* p = data + y * stride + x * 4;
        return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    };

    struct Case {
        const char* name;
        int x;
        int y;
        uint32_t argb;
    };

    const Case cases[] = {
            {"root background", 2, 2, 0xFFFFFFFF},
            {"red view", 40, 40, 0xFFFF0000},
            {"green child offset by its parent", 20, 20, 0xFF00FF00},
            {"hidden view not painted", 75, 25, 0xFFFFFFFF},
            {"half alpha black over white", 75, 75, 0xFF808080},
            {"drawn triangle", 2, 82, 0xFF0000FF},
            {"outside the triangle", 18, 98, 0xFFFFFFFF},
            {"image view scales its bitmap", 40, 70, 0xFF00FF00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t got = at(c.x, c.y);
        for (int shift : {0, 8, 16, 24}) {
            EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF),
                        static_cast<int>((c.argb >> shift) & 0xFF), 1)
                    << std::hex << got;
        }
    }
    cairo_surface_destroy(png);
}

TEST(SnapshotTest, ScrolledBoundsAndTransformsMoveWhatIsPainted) {
    // A 40x40 white root scrolled down by 20: its red subview at y 20..30 shows at the top.
    auto root = coloured({0, 0, 40, 40}, Color::white());
    root->addSubview(coloured({0, 20, 40, 10}, {1, 0, 0, 1}));
    // A 20x4 green bar turned a quarter about its centre (30, 30) stands upright there.
    auto bar = coloured({20, 28, 20, 4}, {0, 1, 0, 1});
    bar->setTransform(AffineTransform::rotation(std::acos(-1.0) / 2));
    root->addSubview(bar);
    root->setBounds({0, 20, 40, 40});
    auto bitmap = render(*root);
    ASSERT_NE(bitmap, nullptr);
    // BGRA bytes.
    auto isColour = [&](int x, int y, uint8_t b, uint8_t g, uint8_t r) {
        const uint8_t* p = bitmap->pixel(x, y);
        return p[0] == b && p[1] == g && p[2] == r;
    };
    EXPECT_TRUE(isColour(5, 5, 0, 0, 255));        // the red band, scrolled to the top
    EXPECT_TRUE(isColour(5, 15, 255, 255, 255));   // below it, the root
    EXPECT_TRUE(isColour(30, 8, 0, 255, 0));       // the upright bar, 30 - 20 (scroll) + 2 down
    EXPECT_TRUE(isColour(24, 10, 255, 255, 255));  // beside the bar: the bar is turned
}

TEST(SnapshotTest, RecordingContextListsWhatVisibleViewsPaintInOrder) {
    auto root = coloured({0, 0, 50, 50}, Color::white());
    auto label = std::make_shared<Label>(Rect{5, 6, 40, 20});
    label->setText("00:01");
    root->addSubview(label);
    auto hidden = std::make_shared<Label>(Rect{0, 0, 10, 10});
    hidden->setText("hidden");
    hidden->setHidden(true);
    root->addSubview(hidden);
    auto bordered = coloured({0, 30, 20, 20}, {1, 0, 0, 1});
    bordered->layer()->setBorderWidth(2);
    bordered->layer()->setCornerRadius(6);
    root->addSubview(bordered);

    RecordingContext context;
    paint(*root, context);
    EXPECT_EQ(context.operations("text"),
              std::vector<std::string>{
                      "text \"00:01\" in 0 0 40 20 sans-serif 17 regular color 0 0 0 1 natural "
                      "lines 1"});
    EXPECT_EQ(context.operations("fillRect"),
              (std::vector<std::string>{"fillRect 0 0 50 50 r=0", "fillRect 0 0 20 20 r=6"}));
    EXPECT_EQ(context.operations("strokeRect"),
              std::vector<std::string>{"strokeRect 1 1 18 18 r=5"});
    EXPECT_EQ(context.operations("translate"),
              (std::vector<std::string>{"translate 5 6", "translate 0 30"}));

    RecordingContext none;
    root->setHidden(true);
    paint(*root, none);
    EXPECT_TRUE(none.operations().empty());
}

TEST(SnapshotTest, RefusesViewsThatCannotBeRenderedOrPathsThatCannotBeWritten) {
    auto empty = std::make_shared<View>(Rect{0, 0, 0, 10});
    EXPECT_EQ(render(*empty), nullptr);
    auto view = coloured({0, 0, 4, 4}, Color::white());
    EXPECT_THAT(snapshot(*view, "/nonexistent-folder/view.png"),
                pelmar::test::IsError(kSnapshotErrorDomain, 1));
}

}  // namespace
}  // namespace pelmar::ui
