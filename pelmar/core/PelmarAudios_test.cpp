#include "pelmar/core/PelmarAudios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pelmar/core/PelmarImages.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {
namespace {

using test::Role;

class PelmarAudiosIntegrationTest : public test::ServiceFixture {};

TEST_F(PelmarAudiosIntegrationTest, DestroyAddressesTheResourceAndCallbacksRunOnMain) {
    const auto audio =
            emulator_.seedResource(test::MediaKind::Audio, kApp, writeFile("a.aac", 100));
    const auto image =
            emulator_.seedResource(test::MediaKind::Image, kApp, writeFile("i.jpg", 100));
    int done = 0;
    auto onMain = [&](auto...) {
        EXPECT_TRUE(dispatch::isMainThread());
        ++done;
    };
    facade_->audios()->destroy(audio.token, onMain);
    facade_->images()->destroy(image.token, onMain);
    runUntil([&] { return done == 2; });
    const std::string root = "/embed/v1/applications/app-1";
    const auto lines = requestLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "DELETE dev-api " + root + "/audios/" + audio.token),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "DELETE dev-api " + root + "/images/" + image.token),
              lines.end());
}

TEST_F(PelmarAudiosIntegrationTest, GetWithoutTheAudioObjectGivesAnEmptyModel) {
    const auto audio =
            emulator_.seedResource(test::MediaKind::Audio, kApp, writeFile("a.aac", 100));
    fail("GET", Role::DevApi, ".*/audios/.*", 200, R"({"token":"not-wrapped"})");
    std::optional<ContentModel> got;
    facade_->audios()->get(audio.token, std::nullopt, [&](ContentModel model, auto, auto) {
        EXPECT_TRUE(dispatch::isMainThread());
        got = model;
    });
    runUntil([&] { return got.has_value(); });
    EXPECT_EQ(got->token, "");
}

TEST_F(PelmarAudiosIntegrationTest, UploadProgressAndResultsArriveOnMainInOrder) {
    const auto file = writeFile("voice.aac", 300 * 1024);
    std::vector<std::string> calls;
    facade_->audios()->create(
            file.string(), Json::object(),
            [&](auto, auto, auto) {
                EXPECT_TRUE(dispatch::isMainThread());
                calls.emplace_back("callback");
            },
            [&](int64_t, int64_t) {
                EXPECT_TRUE(dispatch::isMainThread());
                if (calls.back() != "progress") {
                    calls.emplace_back("progress");
                }
            },
            [&](auto, auto, std::optional<Error> error) {
                EXPECT_TRUE(dispatch::isMainThread());
                EXPECT_FALSE(error);
                calls.emplace_back("confirm");
            });
    runUntil([&] { return !calls.empty() && calls.back() == "confirm"; });
    EXPECT_EQ(calls, (std::vector<std::string>{"callback", "progress", "confirm"}));
    ASSERT_EQ(emulator_.uploads().size(), 1u);
    EXPECT_EQ(emulator_.uploads()[0].contentType, "video/mp4");
}

}  // namespace
}  // namespace pelmar
