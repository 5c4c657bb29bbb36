#include <gtest/gtest.h>

#include <fstream>

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/player/internal/PlayerText.h"
#include "pelmar/player/internal/SubtitledComposition.h"
#include "testing/TempDir.h"

namespace pelmar::player::internal {
namespace {

using av::TrackMediaType;

class SubtitledCompositionIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        av::test::TestMovie made;
        made.seconds = 2;
        std::string failure;
        ASSERT_TRUE(made.make(movie, &failure)) << failure;
        std::ofstream(vtt) << renderVTT(Json::array({"hello", "world"}),
                                        Json::array({Json{{"start", 0}, {"end", 500}},
                                                     Json{{"start", 500}, {"end", 1500}}}));
    }

    std::vector<TrackMediaType> typesOf(const av::MutableComposition& composition) {
        std::vector<TrackMediaType> types;
        for (const auto& track : composition.compositionTracks()) {
            types.push_back(track->mediaType());
        }
        return types;
    }

    test::TempDir dir{"subtitled-composition"};
    std::filesystem::path movie = dir.path() / "movie.mp4";
    std::filesystem::path vtt = dir.path() / "words.vtt";
};

TEST_F(SubtitledCompositionIntegrationTest, CarriesVideoAudioAndTextOverTheVideosDuration) {
    const auto video = av::URLAsset::create(movie.string());
    const auto subtitles = av::URLAsset::create(vtt.string());
    ASSERT_EQ(subtitles->tracks(TrackMediaType::Text).size(), 1u);
    const auto composition = subtitledComposition(*video, subtitles.get());
    ASSERT_TRUE(composition);
    EXPECT_EQ(typesOf(*composition),
              (std::vector<TrackMediaType>{TrackMediaType::Video, TrackMediaType::Audio,
                                           TrackMediaType::Text}));
    EXPECT_NEAR(composition->duration().seconds(), video->duration().seconds(), 1e-3);
    EXPECT_NEAR(composition->duration().seconds(), 2.0, 0.1);
}

TEST_F(SubtitledCompositionIntegrationTest, WithoutSubtitlesCarriesVideoAndAudioOnly) {
    const auto composition = subtitledComposition(*av::URLAsset::create(movie.string()), nullptr);
    ASSERT_TRUE(composition);
    EXPECT_EQ(typesOf(*composition),
              (std::vector<TrackMediaType>{TrackMediaType::Video, TrackMediaType::Audio}));
}

TEST_F(SubtitledCompositionIntegrationTest, AMissingTrackGivesNoComposition) {
    const auto silent = dir.path() / "silent.mp4";
    av::test::TestMovie videoOnly;
    videoOnly.seconds = 1;
    videoOnly.audio = false;
    ASSERT_TRUE(videoOnly.make(silent));
    EXPECT_EQ(subtitledComposition(*av::URLAsset::create(silent.string()), nullptr), nullptr);
    EXPECT_EQ(subtitledComposition(*av::URLAsset::create((dir.path() / "none.mp4").string()),
                                   nullptr),
              nullptr);
    // A subtitle source without a text track adds none.
    const auto composition = subtitledComposition(*av::URLAsset::create(movie.string()),
                                                  av::URLAsset::create(movie.string()).get());
    ASSERT_TRUE(composition);
    EXPECT_EQ(composition->compositionTracks().size(), 2u);
}

}  // namespace
}  // namespace pelmar::player::internal
