#include "pelmar/picker/ImageViewLayout.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pelmar/picker/ArrowView.h"
#include "pelmar/picker/ImageView.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {
namespace {

using M = ui::ContentMode;

TEST(ImageViewLayoutTest, PlacesAnImageForEveryContentMode) {
    const ui::Size container{200, 100};
    const ui::Size picture{400, 400};
    const ui::Rect previous{7, 8, 9, 10};

    struct Case {
        const char* name;
        int mode;
        ui::Rect frame;
    };

    const Case cases[] = {
            {"Fill", 0, {0, 0, 200, 100}},
            {"AspectFit", 1, {50, 0, 100, 100}},
            {"AspectFill", 2, {0, -50, 200, 200}},
            {"Redraw", 3, previous},
            {"Center", 4, {-100, -150, 400, 400}},
            {"Top", 5, {-100, 0, 400, 400}},
            {"Bottom", 6, {-100, -300, 400, 400}},
            {"Left", 7, {0, -150, 400, 400}},
            {"Right", 8, {-200, -150, 400, 400}},
            {"TopLeft", 9, {0, 0, 400, 400}},
            {"TopRight", 10, {-200, 0, 400, 400}},
            {"BottomLeft", 11, {0, -300, 400, 400}},
            {"BottomRight", 12, {-200, -300, 400, 400}},
            {"Unknown", 13, {0, 0, 400, 400}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ImageViewLayout::frameForImage(picture, previous, container, M(c.mode)), c.frame);
    }
}

TEST(ImageViewLayoutTest, ZeroSizesUnderTheAspectModesGiveAZeroFrameNeverNaN) {
    for (M mode : {M::ScaleAspectFit, M::ScaleAspectFill}) {
        for (auto [picture, container] : {std::pair<ui::Size, ui::Size>{{0, 0}, {200, 100}},
                                          {{400, 400}, {0, 0}},
                                          {{400, 0}, {200, 100}}}) {
            const auto frame = ImageViewLayout::frameForImage(picture, {}, container, mode);
            EXPECT_FALSE(std::isnan(frame.x) || std::isnan(frame.y));
            EXPECT_EQ(frame.width, 0);
            EXPECT_EQ(frame.height, 0);
            EXPECT_EQ(frame.x, container.width / 2);
        }
    }
}

TEST(ImageViewLayoutTest, ImageViewLaysOutWhenImageOrModeIsSetButNotForTheHighlightedImage) {
    auto view = std::make_shared<ImageView>();
    view->setFrame({0, 0, 200, 100});
    view->View::setContentMode(M::ScaleAspectFit);
    view->setImage(ui::Image::fromBitmap(image::Bitmap::create(400, 400)));
    EXPECT_EQ(view->innerImageView()->frame(), (ui::Rect{50, 0, 100, 100}));
    view->setContentMode(M::ScaleAspectFill);
    EXPECT_EQ(view->innerImageView()->frame(), (ui::Rect{0, -50, 200, 200}));
    view->setHighlightedImage(ui::Image::fromBitmap(image::Bitmap::create(10, 10)));
    EXPECT_FALSE(view->needsLayout());
    // Cleared, the picture takes no room.
    view->setImage(nullptr);
    EXPECT_EQ(view->innerImageView()->frame(), ui::Rect{});
}

TEST(ImageViewLayoutTest, ImageViewsMadeWithPicturesOrAFramePlaceThemOnTheNextLayout) {
    const auto picture = ui::Image::fromBitmap(image::Bitmap::create(400, 400));
    const auto lit = ui::Image::fromBitmap(image::Bitmap::create(20, 20));

    auto plain = std::make_shared<ImageView>(picture);
    EXPECT_EQ(plain->frame(), ui::Rect{});
    EXPECT_EQ(plain->image(), picture);
    EXPECT_EQ(plain->highlightedImage(), nullptr);
    auto both = std::make_shared<ImageView>(picture, lit);
    EXPECT_EQ(both->image(), picture);
    EXPECT_EQ(both->highlightedImage(), lit);
    // Handed over without a layout pass; the next one places the picture.
    EXPECT_EQ(both->innerImageView()->frame(), ui::Rect{});
    both->View::setContentMode(M::ScaleAspectFit);
    both->setFrame({0, 0, 200, 100});
    both->setNeedsLayout();
    both->layoutIfNeeded();
    EXPECT_EQ(both->innerImageView()->frame(), (ui::Rect{50, 0, 100, 100}));

    auto framed = std::make_shared<ImageView>(ui::Rect{10, 20, 200, 100});
    EXPECT_EQ(framed->frame(), (ui::Rect{10, 20, 200, 100}));
    EXPECT_EQ(framed->image(), nullptr);
    framed->setContentMode(M::ScaleAspectFill);
    framed->setImage(picture);
    EXPECT_EQ(framed->innerImageView()->frame(), (ui::Rect{0, -50, 200, 200}));
    EXPECT_EQ(framed->innerImageView()->superview().get(), framed.get());
}

TEST(ImageViewLayoutTest, ImageViewHandsHighlightAnimationTintAndInteractionToItsInnerView) {
    auto view = std::make_shared<ImageView>();
    const auto inner = view->innerImageView();
    const auto picture = ui::Image::fromBitmap(image::Bitmap::create(10, 10));
    view->setHighlightedImage(picture);
    view->setHighlighted(true);
    view->setAnimationImages({picture, picture});
    view->setHighlightedAnimationImages({picture, picture, picture});
    view->setAnimationDuration(0.5);
    view->setAnimationRepeatCount(2);
    view->startAnimating();
    EXPECT_EQ(inner->highlightedImage(), picture);
    EXPECT_TRUE(inner->isHighlighted());
    EXPECT_EQ(inner->animationImages().size(), 2U);
    EXPECT_EQ(inner->highlightedAnimationImages().size(), 3U);
    EXPECT_EQ(view->highlightedAnimationImages().size(), 3U);
    EXPECT_EQ(inner->animationDuration(), 0.5);
    EXPECT_EQ(inner->animationRepeatCount(), 2);
    EXPECT_TRUE(view->isAnimating());
    view->stopAnimating();
    EXPECT_FALSE(inner->isAnimating());

    const ui::Color red{1, 0, 0, 1};
    view->setTintColor(red);
    EXPECT_EQ(view->tintColor(), red);
    EXPECT_EQ(inner->tintColor(), red);
    view->setUserInteractionEnabled(false);
    EXPECT_FALSE(view->isUserInteractionEnabled());
    EXPECT_FALSE(inner->isUserInteractionEnabled());
}

TEST(ArrowViewTest, ResizingBehaviourScalesAndCentresInTheTarget) {
    using R = ArrowView::ResizingBehavior;
    const ui::Rect target{0, 0, 16, 8};
    const ui::Rect box{0, 0, 8, 8};
    EXPECT_EQ(ArrowView::apply(R::AspectFit, box, target), (ui::Rect{4, 0, 8, 8}));
    EXPECT_EQ(ArrowView::apply(R::AspectFill, box, target), (ui::Rect{0, -4, 16, 16}));
    EXPECT_EQ(ArrowView::apply(R::Stretch, box, target), (ui::Rect{0, 0, 16, 8}));
    EXPECT_EQ(ArrowView::apply(R::Center, box, target), (ui::Rect{4, 0, 8, 8}));
    EXPECT_EQ(ArrowView::apply(R::AspectFill, box, box), box);
    EXPECT_EQ(ArrowView::apply(R::AspectFill, box, ui::Rect{}), box);
}

}  // namespace
}  // namespace pelmar
