#include "pelmar/platform/ui/PresentationController.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;
using Edge = PresentationController::PopoverArrow::Edge;
using P = PresentationController;

class PresentationControllerTest : public test::WindowFixture {};

// A popover shows what a device shows: its panel, and one small arrow in the panel's colour
// bridging the gap to its source, near the tip wherever the source lies (a source at the
// screen's edge too, where the arrow leans off the panel's corner). Dismissed, neither stays.
TEST_F(PresentationControllerTest, APopoverIsPaintedAsAPanelWithAnArrowAtItsSource) {
    const struct {
        const char* name;
        Rect source;
        Edge edge;
    } cases[] = {{"below a source in the middle", {150, 100, 90, 40}, Edge::Top},
                 {"above a source low on the screen", {150, 700, 90, 40}, Edge::Bottom},
                 {"below a source at the left edge", {0, 100, 8, 40}, Edge::Top}};

    root_->view()->layer()->setBackgroundColor(Color{0.1, 0.2, 0.5, 1});
    const auto source = add(std::make_shared<View>());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        source->setFrame(c.source);
        auto popover = std::make_shared<ViewController>();
        popover->setModalPresentationStyle(ModalPresentationStyle::Popover);
        popover->setPreferredContentSize({300, 200});
        popover->setPopoverSourceView(source);
        root_->present(popover, true);
        RunLoop::advance(1);
        ASSERT_TRUE(popover->presentationController());
        const auto arrow = popover->presentationController()->popoverArrow();
        ASSERT_TRUE(arrow);
        ASSERT_EQ(arrow->edge, c.edge);
        const Rect panel = popover->view()->frame();
        const double gapTop = c.edge == Edge::Top ? arrow->tip.y : panel.maxY();
        const Rect gap{panel.minX(), gapTop, panel.width, P::kPopoverArrowLength};
        // A row across the gap halfway between the panel and the tip.
        const Rect row{gap.x, gap.y + gap.height / 2, gap.width, 1};
        const double nearTip = P::kPopoverArrowWidth;

        auto picture = render(*window_);
        ASSERT_TRUE(picture);
        EXPECT_TRUE(test::looksLike(test::colorAt(*picture, panel.center().x, panel.center().y),
                                    P::kPopoverBackgroundColor));
        const auto runs = test::inkRuns(*picture, row, P::kPopoverBackgroundColor, 0.06);
        ASSERT_EQ(runs.size(), 1u) << "one arrow across the gap";
        EXPECT_GE(runs[0].left, arrow->tip.x - nearTip);
        EXPECT_LE(runs[0].right, arrow->tip.x + nearTip);
        // It reaches the tip: two to four points from it, it is still in the panel's colour.
        const double besideTip = c.edge == Edge::Top ? arrow->tip.y + 2 : arrow->tip.y - 4;
        EXPECT_FALSE(test::inkRuns(*picture, {arrow->tip.x - nearTip, besideTip, 2 * nearTip, 2},
                                   P::kPopoverBackgroundColor, 0.06)
                             .empty());

        root_->dismiss(true);
        RunLoop::advance(1);
        EXPECT_EQ(window_->subviews(), (std::vector<std::shared_ptr<View>>{root_->view()}));
        picture = render(*window_);
        ASSERT_TRUE(picture);
        for (const Rect place : {gap, panel}) {
            EXPECT_TRUE(test::inkRuns(*picture, place, P::kPopoverBackgroundColor, 0.06).empty());
        }
    }
}

}  // namespace
}  // namespace pelmar::ui
