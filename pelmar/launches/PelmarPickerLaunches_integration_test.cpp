#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarFileSelectorDelegate.h"
#include "pelmar/core/testing/RecordingUploadingDelegate.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/picker/ImagePickerController.h"
#include "pelmar/picker/Settings.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "testing/App.h"
#include "testing/ServiceEmulator.h"

namespace pelmar {
namespace {

using photos::PhotoLibrary;
using MediaTypes = std::set<Settings::Fetch::Assets::MediaTypes>;

struct SelectorDelegate : PelmarFileSelectorDelegate {
    void uploadSelected(const std::vector<std::string>& paths) override { selected = paths; }

    std::optional<std::vector<std::string>> selected;
};

// The file selector through the facade: a photo library of two pictures, a clip and a sound, the
// picker the facade opens, and its uploads to the service emulator.
class PelmarPickerLaunchesIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator_.start();
        sdk_ = test::makeFacadeFor(emulator_, "app-1");
        sdk_->setUploadingDelegate(uploads_);
        sdk_->setFileSelectorDelegate(selector_);
        auto& library = PhotoLibrary::shared();
        library.reset(app_.sandboxRoot() / "PhotoLibrary");
        const auto media = app_.sandboxRoot() / "media";
        picture1_ = add({.file = photos::test::writeJpeg(media, "p1.jpg", 64, 48, 1)});
        picture2_ = add({.file = photos::test::writePng(media, "p2.png", 30, 40, 2)});
        clip_ = add({.file = photos::test::writeMovie(media, "clip.mp4", 1.0, 160, 120)});
        // A sound has no file the file selector can hand on.
        sound_ = add({.file = media / "p1.jpg", .mediaType = photos::AssetMediaType::Audio});
    }

    void TearDown() override {
        PhotoLibrary::shared().reset();
        sdk_.reset();
        emulator_.stop();
    }

    photos::AssetPtr add(const PhotoLibrary::NewAsset& asset) {
        auto& library = PhotoLibrary::shared();
        return library.asset(library.addAsset(asset).localIdentifier);
    }

    // Opens the file selector with `options` and gives its picker once it is on screen.
    std::shared_ptr<ImagePickerController> openPicker(const std::optional<Json>& options) {
        sdk_->uploadFromFileSelector(options);
        std::shared_ptr<ImagePickerController> picker;
        app_.runUntil([&] {
            picker = std::dynamic_pointer_cast<ImagePickerController>(app_.topViewController());
            return picker != nullptr;
        });
        app_.settle();
        app_.advance(1);
        return picker;
    }

    // The user has chosen `assets`, in this order, and taps Done.
    void finish(ImagePickerController& picker, const std::vector<photos::AssetPtr>& assets) {
        picker.assetStore()->setAssets(assets);
        picker.doneButtonPressed();
    }

    test::App app_;
    test::ServiceEmulator emulator_;
    std::shared_ptr<Pelmar> sdk_;
    std::shared_ptr<test::RecordingUploadingDelegate> uploads_ =
            std::make_shared<test::RecordingUploadingDelegate>();
    std::shared_ptr<SelectorDelegate> selector_ = std::make_shared<SelectorDelegate>();
    photos::AssetPtr picture1_, picture2_, clip_, sound_;
};

TEST_F(PelmarPickerLaunchesIntegrationTest, OptionsBecomeThePickersLimitDurationAndMediaTypes) {
    using M = Settings::Fetch::Assets::MediaTypes;

    struct Case {
        const char* name;
        std::optional<Json> fileSelectorConfig;  // given to setFileSelectorConfig when set
        std::optional<Json> options;
        float maxDuration;
        MediaTypes offered;
    };

    const Case cases[] = {
            // The default list names type identifiers: it offers videos and pictures.
            {"defaults", std::nullopt, std::nullopt, 0.0f, {M::Image, M::Video}},
            {"a number", std::nullopt, Json{{"maxDuration", 30}}, 30.0f, {M::Image, M::Video}},
            // Only digits and points of the text count.
            {"text 1:30",
             std::nullopt,
             Json{{"maxDuration", "1:30"}},
             130.0f,
             {M::Image, M::Video}},
            {"videos only", std::nullopt, Json{{"media_type", {"video"}}}, 0.0f, {M::Video}},
            {"configured pictures",
             Json{{"media_type", {"image"}}},
             Json::object(),
             0.0f,
             {M::Image}},
            // A configuration cleared to no list falls back to the four type identifiers.
            {"configured nothing", Json(nullptr), std::nullopt, 0.0f, {M::Image, M::Video}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fileSelectorConfig) {
            sdk_->setFileSelectorConfig(c.fileSelectorConfig->is_null()
                                                ? std::nullopt
                                                : std::optional<Json>(*c.fileSelectorConfig));
        }
        auto picker = openPicker(c.options);
        ASSERT_NE(picker, nullptr);
        auto settings = picker->settings();
        EXPECT_EQ(settings->selection()->max(), 100);
        EXPECT_FLOAT_EQ(settings->fetch()->assets()->maxDuration(), c.maxDuration);
        EXPECT_EQ(settings->fetch()->assets()->supportedMediaTypes(), c.offered);
        picker->cancelButtonPressed();
        app_.advance(1);
        app_.settle();
        ASSERT_EQ(app_.topViewController(), app_.root());
    }
    EXPECT_TRUE(emulator_.requests().empty());
    EXPECT_FALSE(selector_->selected);  // a cancel reports nothing
}

TEST_F(PelmarPickerLaunchesIntegrationTest, PicksGoUpInOrderAndAFailedOneDoesNotStopTheRest) {
    sdk_->setUploadingConfig(Json{{"title", "picked"}});
    // The first picture's create request fails.
    test::ServiceEmulator::Fault refuse;
    refuse.method = "POST";
    refuse.role = test::Role::DevApi;
    refuse.pathPattern = ".*/images";
    refuse.status = 500;
    refuse.body = R"({"error":"scripted"})";
    emulator_.addFault(refuse);

    auto picker = openPicker(std::nullopt);
    ASSERT_NE(picker, nullptr);
    finish(*picker, {picture1_, sound_, clip_, picture2_});
    ASSERT_TRUE(app_.runUntil(
            [&] {
                return uploads_->count("uploadProcessed") == 2
                       && uploads_->count("failedToUpload") == 1;
            },
            60));

    // The sound is left out; the others are listed by file URL in picking order.
    ASSERT_TRUE(selector_->selected);
    const std::vector<std::string> selected = {foundation::fileURLFromPath(picture1_->file()),
                                               foundation::fileURLFromPath(clip_->file()),
                                               foundation::fileURLFromPath(picture2_->file())};
    EXPECT_EQ(*selector_->selected, selected);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].kind, test::MediaKind::Video);
    EXPECT_EQ(stored[1].kind, test::MediaKind::Image);
    // Each create carried the uploading options and came after the previous upload ended.
    std::vector<test::LoggedRequest> creates;
    for (const auto& request : emulator_.requests()) {
        if (request.method == "POST"
            && (request.path.ends_with("/images")
                || request.path.ends_with("/videos-upload-url"))) {
            creates.push_back(request);
        }
    }
    ASSERT_EQ(creates.size(), 3u);
    EXPECT_TRUE(creates[0].path.ends_with("/images"));
    EXPECT_TRUE(creates[1].path.ends_with("/videos-upload-url"));
    EXPECT_TRUE(creates[2].path.ends_with("/images"));
    for (const auto& create : creates) {
        EXPECT_EQ(create.formParam("title"), "picked");
    }
    EXPECT_GT(creates[1].sequence, creates[0].completedSequence);
    EXPECT_GT(creates[2].sequence,
              emulator_.requestsTo(".*/confirm-video").at(0).completedSequence);
}

TEST_F(PelmarPickerLaunchesIntegrationTest, AFinishWithNothingPickedListsNothingAndUploadsNothing) {
    auto picker = openPicker(std::nullopt);
    ASSERT_NE(picker, nullptr);
    finish(*picker, {});
    app_.advance(1);
    app_.settle();
    ASSERT_TRUE(selector_->selected);
    EXPECT_TRUE(selector_->selected->empty());
    EXPECT_TRUE(uploads_->events().empty());
    EXPECT_TRUE(emulator_.requests().empty());
}

}  // namespace
}  // namespace pelmar
