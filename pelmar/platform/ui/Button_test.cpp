#include "pelmar/platform/ui/Button.h"

#include <gtest/gtest.h>

#include <memory>

namespace pelmar::ui {
namespace {

TEST(ButtonTest, ShowsTheSelectedImageOnlyWhenSelectedAndSet) {
    auto button = std::make_shared<Button>();
    EXPECT_EQ(button->currentImage(), nullptr);
    auto normal = Image::named("ic_play");
    auto selected = Image::named("ic_stop");
    button->setImage(normal, ControlState::Normal);
    button->setSelected(true);
    EXPECT_EQ(button->currentImage(), normal);
    button->setImage(selected, ControlState::Selected);
    EXPECT_EQ(button->currentImage(), selected);
    button->setSelected(false);
    EXPECT_EQ(button->currentImage(), normal);
}

}  // namespace
}  // namespace pelmar::ui
