#include "pelmar/recorder/FaceOutlineView.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelmar/platform/ui/RecordingContext.h"

namespace pelmar {
namespace {

TEST(FaceOutlineViewTest, StrokesTheWholeRectangleInYellowWithTheFacesOpacity) {
    FaceOutlineView view(ui::Rect{0, 0, 100, 100});
    view.addFace(7, ui::Rect{10, 20, 30, 40});
    ui::RecordingContext context;
    view.draw(context);
    EXPECT_EQ(context.operations(),
              (std::vector<std::string>{"moveTo 10 20", "lineTo 40 20", "lineTo 40 60",
                                        "lineTo 10 60", "lineTo 10 20", "strokeColor 1 1 0 1",
                                        "strokePath"}));
}

TEST(FaceOutlineViewTest, AFaceSeenOnceFadesOverTwentyRedrawsAndIsForgottenAfterTwentySix) {
    FaceOutlineView view(ui::Rect{0, 0, 100, 100});
    view.addFace(1, ui::Rect{0, 0, 10, 10});
    ui::RecordingContext context;
    std::vector<double> drawnWith;
    for (int redraw = 1; redraw <= 26; ++redraw) {
        ASSERT_EQ(view.faces.count(1), 1U) << "redraw " << redraw;
        drawnWith.push_back(view.faces.at(1)->alpha);
        view.draw(context);
    }
    EXPECT_TRUE(view.faces.empty());
    EXPECT_DOUBLE_EQ(drawnWith[0], 1.0);
    EXPECT_DOUBLE_EQ(drawnWith[1], 0.95);
    EXPECT_DOUBLE_EQ(drawnWith[2], 0.90);
    EXPECT_GT(drawnWith[19], 0.0);  // the 20th redraw still shows it, faintly
    EXPECT_EQ(drawnWith[20], 0.0);  // from the 21st on it is invisible
    EXPECT_EQ(drawnWith[25], 0.0);
}

TEST(FaceOutlineViewTest, AFaceSeenAgainMovesAndStaysButKeepsFading) {
    FaceOutlineView view(ui::Rect{0, 0, 100, 100});
    ui::RecordingContext context;
    for (int redraw = 0; redraw < 40; ++redraw) {
        view.addFace(3, ui::Rect{double(redraw), 0, 10, 10});
        view.draw(context);
    }
    ASSERT_EQ(view.faces.count(3), 1U);
    EXPECT_EQ(view.faces.at(3)->faceVisible, Face::kVisibleRedraws - 1);
    EXPECT_EQ(view.faces.at(3)->rect.x, 39);
    EXPECT_EQ(view.faces.at(3)->alpha, 0.0);
}

}  // namespace
}  // namespace pelmar
