#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/UserDefaults.h"
#include "pelmar/platform/replaykit/SystemBroadcastPickerView.h"
#include "pelmar/platform/ui/Device.h"
#include "testing/App.h"

namespace pelmar {
namespace {

using replaykit::SystemBroadcastPickerView;

constexpr const char* kGroup = "group.pelmar.launch";

// The facade's screen-recorder launch: the broadcast sheet it opens, on which system versions.
class StartScreenRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(foundation::Sandbox::registerAppGroup(kGroup));
        observer_ = foundation::NotificationCenter::defaultCenter().addObserver(
                std::string(SystemBroadcastPickerView::kBroadcastSheetNotification),
                [this](const foundation::Notification& n) {
                    sheets_.push_back(n.userInfo["preferredExtension"]);
                });
    }

    void TearDown() override {
        facade_.reset();
        ui::Device::current().reset();
        foundation::UserDefaults::standard().remove("AppGroup");
    }

    test::App app_;
    // A full facade (with its video resource); no request is made.
    std::shared_ptr<Pelmar> facade_ = std::make_shared<Pelmar>("app-1");
    foundation::NotificationCenter::Token observer_;
    std::vector<Json> sheets_;
};

TEST_F(StartScreenRecorderTest, OpensTheBroadcastSheetWithThePreferredExtensionAndLeavesNoView) {
    struct Case {
        const char* name;
        std::optional<std::string> preferred;
        Json expected;
    };

    const Case cases[] = {
            {"given extension", "com.host.app.broadcast", "com.host.app.broadcast"},
            {"none given", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sheets_.clear();
        const auto viewsBefore = app_.root()->view()->subviews().size();
        facade_->startScreenRecorder(kGroup, c.preferred);
        ASSERT_EQ(sheets_.size(), 1u);  // the button's touch-up-inside among all touch events
        EXPECT_EQ(sheets_[0], c.expected);
        EXPECT_EQ(app_.root()->view()->subviews().size(), viewsBefore);
        EXPECT_FALSE(app_.find<SystemBroadcastPickerView>());
        EXPECT_TRUE(facade_->videos()->fileWatcherIsSetUp());
    }
}

TEST_F(StartScreenRecorderTest, BelowTheMinimumSystemVersionOnlyTheGroupIsStored) {
    ui::Device::current().setSystemVersion("11.4");
    facade_->startScreenRecorder(kGroup, "com.host.app.broadcast");
    EXPECT_TRUE(sheets_.empty());
    EXPECT_FALSE(facade_->videos()->fileWatcherIsSetUp());
    EXPECT_EQ(foundation::UserDefaults::standard().string("AppGroup"), kGroup);

    // Called directly on such a system, the intake watches the folder but shows no sheet.
    facade_->videos()->startScreenRecorder(kGroup, std::nullopt);
    EXPECT_TRUE(facade_->videos()->fileWatcherIsSetUp());
    EXPECT_TRUE(sheets_.empty());
}

}  // namespace
}  // namespace pelmar
