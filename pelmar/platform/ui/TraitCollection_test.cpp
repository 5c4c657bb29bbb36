#include "pelmar/platform/ui/TraitCollection.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

using S = UserInterfaceSizeClass;

TEST(TraitCollectionTest, SizeClassesFollowTheWindowAndTheKindOfDevice) {
    struct Case {
        const char* name;
        Size window;
        UserInterfaceIdiom idiom;
        S horizontal;
        S vertical;
    };

    const Case cases[] = {
            {"phone, portrait", {390, 844}, UserInterfaceIdiom::Phone, S::Compact, S::Regular},
            {"phone, landscape", {844, 390}, UserInterfaceIdiom::Phone, S::Compact, S::Compact},
            {"large phone, portrait",
             {430, 932},
             UserInterfaceIdiom::Phone,
             S::Compact,
             S::Regular},
            {"large phone, landscape",
             {932, 430},
             UserInterfaceIdiom::Phone,
             S::Regular,
             S::Compact},
            {"pad, portrait", {820, 1180}, UserInterfaceIdiom::Pad, S::Regular, S::Regular},
            {"pad, landscape", {1180, 820}, UserInterfaceIdiom::Pad, S::Regular, S::Regular},
            {"pad, narrow window beside another",
             {375, 820},
             UserInterfaceIdiom::Pad,
             S::Compact,
             S::Regular},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto traits = TraitCollection::forWindow(c.window, c.idiom);
        EXPECT_EQ(traits.horizontalSizeClass, c.horizontal);
        EXPECT_EQ(traits.verticalSizeClass, c.vertical);
        EXPECT_EQ(traits.userInterfaceIdiom, c.idiom);
    }
}

// Remembers the traits it had before each change, and what it reads after.
class TraitWatcher : public ViewController {
public:
    void traitCollectionDidChange(const TraitCollection& previous) override {
        before.push_back(previous);
        after.push_back(traitCollection());
    }

    std::vector<TraitCollection> before;
    std::vector<TraitCollection> after;
};

using TraitCollectionWindowTest = test::WindowFixture;

TEST_F(TraitCollectionWindowTest, ScreensHearWhenRotationOrAnOverrideChangesTheTraits) {
    auto sheet = std::make_shared<TraitWatcher>();
    sheet->setModalPresentationStyle(ModalPresentationStyle::FullScreen);
    root_->present(sheet, false);
    auto child = std::make_shared<TraitWatcher>();
    sheet->addChild(child);
    sheet->view()->addSubview(child->view());
    child->didMove(sheet.get());
    dispatch::RunLoop::runUntilIdle();
    const TraitCollection portrait{S::Compact, S::Regular, UserInterfaceIdiom::Phone};
    const TraitCollection landscape{S::Compact, S::Compact, UserInterfaceIdiom::Phone};
    EXPECT_EQ(child->traitCollection(), portrait);

    window_->rotate(InterfaceOrientation::LandscapeLeft);
    ASSERT_EQ(sheet->before.size(), 1u);
    EXPECT_EQ(sheet->before[0], portrait);
    EXPECT_EQ(sheet->after[0], landscape);
    ASSERT_EQ(child->before.size(), 1u);

    // A host fixing the traits; setting the same again tells nobody.
    const TraitCollection pad{S::Regular, S::Regular, UserInterfaceIdiom::Pad};
    window_->setTraitOverride(pad);
    window_->setTraitOverride(pad);
    ASSERT_EQ(sheet->before.size(), 2u);
    EXPECT_EQ(sheet->before[1], landscape);
    EXPECT_EQ(sheet->after[1], pad);

    window_->setTraitOverride(std::nullopt);
    window_->rotate(InterfaceOrientation::Portrait);
    EXPECT_EQ(sheet->after.back(), portrait);
    EXPECT_EQ(sheet->before.size(), 4u);
}

}  // namespace
}  // namespace pelmar::ui
