#include "pelmar/audio/BaseNibView.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "pelmar/audio/AudioVisualizationView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Nib.h"

namespace pelmar {
namespace {

TEST(BaseNibViewTest, HostsItsClassFileOnlyOnceAContentViewIsGiven) {
    auto inCode = std::make_shared<AudioVisualizationView>(ui::Rect{0, 0, 100, 40});
    EXPECT_EQ(inCode->nibName(), "AudioVisualizationView");
    inCode->awakeFromNib();
    EXPECT_TRUE(inCode->subviews().empty());
    EXPECT_FALSE(inCode->shouldAwakeFromNib());

    // The file binds what it builds to its owner.
    std::shared_ptr<ui::Label> bound;
    ui::Nib::registerBuilder<BaseNibView>("BaseNibView", [&](BaseNibView&) {
        bound = std::make_shared<ui::Label>();
        return bound;
    });
    auto hosted = std::make_shared<BaseNibView>(ui::Rect{0, 0, 100, 40});
    hosted->contentView = std::make_shared<ui::View>();
    hosted->awakeFromNib();
    EXPECT_TRUE(bound);
    ASSERT_EQ(hosted->subviews().size(), 1u);
    EXPECT_EQ(hosted->subviews()[0], hosted->contentView);
    hosted->setFrame({0, 0, 200, 50});
    hosted->layoutIfNeeded();
    EXPECT_EQ(hosted->contentView->frame(), (ui::Rect{0, 0, 200, 50}));

    auto unregistered = std::make_shared<AudioVisualizationView>(ui::Rect{0, 0, 100, 40});
    unregistered->contentView = std::make_shared<ui::View>();
    EXPECT_THROW(unregistered->awakeFromNib(), std::logic_error);
}

}  // namespace
}  // namespace pelmar
