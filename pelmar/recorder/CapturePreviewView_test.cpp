#include "pelmar/recorder/CapturePreviewView.h"

#include <gtest/gtest.h>

namespace pelmar {
namespace {

TEST(CapturePreviewViewTest, KeepsItsSessionOnlyInItsPreviewLayer) {
    auto view = std::make_shared<CapturePreviewView>();
    EXPECT_NE(view->videoPreviewLayer(), nullptr);
    EXPECT_EQ(view->videoPreviewLayer(), view->layer());
    EXPECT_EQ(view->session(), nullptr);

    auto session = av::CaptureSession::create();
    view->setSession(session);
    EXPECT_EQ(view->session(), session);
    EXPECT_EQ(view->videoPreviewLayer()->session(), session);
    view->setSession(nullptr);
    EXPECT_EQ(view->session(), nullptr);
}

}  // namespace
}  // namespace pelmar
