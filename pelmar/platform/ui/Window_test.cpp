#include "pelmar/platform/ui/Window.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;

// Remembers the sizes it was told about and its view's frame at that moment.
class Turning : public ViewController {
public:
    void viewWillTransition(Size size) override {
        sizes.push_back(size);
        framesBefore.push_back(view()->frame());
    }

    std::vector<Size> sizes;
    std::vector<Rect> framesBefore;
};

using WindowTest = test::WindowFixture;

TEST_F(WindowTest, RotationTellsEveryScreenTheNewSizeThenResizesThem) {
    auto first = std::make_shared<Turning>();
    window_->setRootViewController(first);
    auto sheet = std::make_shared<Turning>();
    sheet->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
    first->present(sheet, false);
    RunLoop::runUntilIdle();
    auto child = std::make_shared<Turning>();
    sheet->addChild(child);

    window_->rotate(InterfaceOrientation::LandscapeRight);
    const std::vector<Size> landscape{{844, 390}};
    EXPECT_EQ(first->sizes, landscape);
    EXPECT_EQ(sheet->sizes, landscape);
    EXPECT_EQ(child->sizes, landscape);
    EXPECT_EQ(sheet->framesBefore, (std::vector<Rect>{{0, 57, 390, 787}})) << "told first";

    EXPECT_EQ(Screen::main().bounds(), (Rect{0, 0, 844, 390}));
    EXPECT_EQ(window_->frame(), (Rect{0, 0, 844, 390}));
    EXPECT_EQ(window_->safeAreaInsets(), (EdgeInsets{0, 47, 34, 47}));
    EXPECT_EQ(first->view()->frame(), (Rect{0, 0, 844, 390}));
    // Wide enough for a centred sheet, as high as the screen allows.
    EXPECT_EQ(sheet->view()->frame(), (Rect{152, 0, 540, 390}));
    EXPECT_EQ(Application::shared().statusBarOrientation(), InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(static_cast<int>(Application::shared().deviceOrientation()), 3);

    window_->rotate(InterfaceOrientation::LandscapeLeft);  // still landscape: same size
    EXPECT_EQ(first->sizes, (std::vector<Size>{{844, 390}, {844, 390}}));
    window_->rotate(InterfaceOrientation::Portrait);
    EXPECT_EQ(Screen::main().bounds(), (Rect{0, 0, 390, 844}));
    EXPECT_EQ(window_->safeAreaInsets(), (EdgeInsets{47, 0, 34, 0}));
}

TEST_F(WindowTest, SafeAreaInsetsReachOnlyTheViewsTheyOverlap) {
    auto top = add(std::make_shared<View>(Rect{0, 0, 390, 100}));
    auto middle = add(std::make_shared<View>(Rect{0, 300, 390, 100}));
    auto bottom = add(std::make_shared<View>(Rect{20, 800, 350, 44}));
    EXPECT_EQ(top->safeAreaInsets(), (EdgeInsets{47, 0, 0, 0}));
    EXPECT_EQ(middle->safeAreaInsets(), (EdgeInsets{}));
    EXPECT_EQ(bottom->safeAreaInsets(), (EdgeInsets{0, 0, 34, 0}));
    bottom->removeFromSuperview();
    EXPECT_EQ(bottom->safeAreaInsets(), (EdgeInsets{})) << "outside a window";
}

}  // namespace
}  // namespace pelmar::ui
