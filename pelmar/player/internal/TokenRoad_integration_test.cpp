#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/player/internal/TokenRoad.h"
#include "pelmar/player/testing/SeededTestVideo.h"
#include "testing/TempSandbox.h"

namespace pelmar::player::internal {
namespace {

class TokenRoadIntegrationTest : public test::ServiceFixture {
protected:
    std::optional<TokenSource> build(const std::string& token, const std::optional<Json>& params) {
        std::optional<TokenSource> built;
        buildTokenSource(facade_, token, params,
                         test::onMainQueue([&](TokenSource source) { built = std::move(source); }));
        runUntil([&] { return built.has_value(); });
        return built;
    }

    std::string seedVideo() {
        const std::string token = test::seedTestVideo(emulator_, kApp, sandbox_.root());
        EXPECT_FALSE(token.empty());
        return token;
    }
};

TEST_F(TokenRoadIntegrationTest, URLCarriesParamsSessionAndSeedAndPlaysPlainWithoutTranscription) {
    const std::string token = seedVideo();
    const auto source = build(token, Json{{"k", "v w"}, {"client_auth", "a+b"}});
    ASSERT_TRUE(source);
    const std::string base =
            emulator_.cdnApiBase() + "/v1/applications/" + kApp + "/videos/" + token + "/video.mp4";
    EXPECT_EQ(source->url.rfind(base + "?k=v%20w&client_auth=a%2Bb&", 0), 0u) << source->url;
    EXPECT_TRUE(std::regex_search(source->url, std::regex("&[A-Za-z0-9_-]+=[^&]+&seed=[0-9]+&$")))
            << source->url;
    EXPECT_EQ(source->composition, nullptr);
    EXPECT_FALSE(source->subtitles);
    // Every build draws a new seed.
    EXPECT_NE(build(token, std::nullopt)->url, build(token, std::nullopt)->url);
}

TEST_F(TokenRoadIntegrationTest, ATranscriptionWritesSubtitlesAndPlaysAComposition) {
    const std::string token = seedVideo();
    const std::string answer = R"({"original_stream": {"token": "str-1", "audio_transcription":
            {"words": ["hello"], "times": [{"start": 0, "end": 500}]}}})";
    for (const bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        facade_->getVideoPlayerConfig()->shouldShowSubtitles = shown;
        fail("GET", test::Role::Api, ".*/videos/" + token + ".*", 200, answer);
        const auto source = build(token, std::nullopt);
        ASSERT_TRUE(source && source->subtitles && source->composition);
        std::stringstream text;
        text << std::ifstream(*source->subtitles).rdbuf();
        EXPECT_EQ(text.str(), "WEBVTT\n\n00:00:00.000 --> 00:00:00.500\nhello\n\n");
        EXPECT_EQ(source->composition->compositionTracks().size(), shown ? 3u : 2u);
    }
}

TEST_F(TokenRoadIntegrationTest, AFailedDescriptionStillPlaysTheVideo) {
    const auto source = build("vid-404", std::nullopt);
    ASSERT_TRUE(source);
    EXPECT_NE(source->url.find("/videos/vid-404/video.mp4?"), std::string::npos);
    EXPECT_EQ(source->composition, nullptr);
}

TEST_F(TokenRoadIntegrationTest, AnUnusableTokenGivesNoURL) {
    const auto source = build("../x y", std::nullopt);
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->url.empty());
}

TEST(SubtitleFileTest, WritesTheDocumentIntoDocumentsUnderAUniqueName) {
    test::TempSandbox sandbox;
    const auto a = writeSubtitleFile(Json::array({"hello"}),
                                     Json::array({Json{{"start", 1500}, {"end", 2250}}}));
    const auto b = writeSubtitleFile(std::nullopt, std::nullopt);
    EXPECT_EQ(a.parent_path(), foundation::Sandbox::documentsDirectory());
    EXPECT_EQ(a.extension(), ".vtt");
    EXPECT_NE(a, b);
    std::stringstream text;
    text << std::ifstream(a).rdbuf();
    EXPECT_EQ(text.str(), "WEBVTT\n\n00:00:01.500 --> 00:00:02.250\nhello\n\n");
    std::stringstream empty;
    empty << std::ifstream(b).rdbuf();
    EXPECT_EQ(empty.str(), "WEBVTT\n\n");
}

}  // namespace
}  // namespace pelmar::player::internal
