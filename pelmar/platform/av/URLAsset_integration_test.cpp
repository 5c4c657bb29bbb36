#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/testing/ServedTestMovie.h"
#include "pelmar/platform/foundation/URL.h"
#include "testing/Matchers.h"
#include "testing/Patience.h"

namespace pelmar::av {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Local files and nginx on loopback serving the same movie. One nginx per test program.
class URLAssetIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { movie_ = std::make_unique<test::ServedTestMovie>(); }

    static void TearDownTestSuite() { movie_.reset(); }

    void SetUp() override { ASSERT_TRUE(movie_->failure().empty()) << movie_->failure(); }

    static std::shared_ptr<URLAsset> loaded(const std::string& url) {
        auto asset = URLAsset::create(url);
        std::promise<void> done;
        asset->loadValuesAsynchronously([&done] { done.set_value(); });
        EXPECT_EQ(done.get_future().wait_for(pelmar::test::kPatience), std::future_status::ready);
        return asset;
    }

    static inline std::unique_ptr<test::ServedTestMovie> movie_;
};

TEST_F(URLAssetIntegrationTest, LocalAndRemoteMoviesLoadDurationTracksAndSize) {
    const std::string sources[] = {movie_->path().string(),
                                   foundation::fileURLFromPath(movie_->path()),
                                   movie_->url("/movie.mp4")};
    for (const auto& url : sources) {
        SCOPED_TRACE(url);
        auto asset = loaded(url);
        ASSERT_EQ(asset->status(), Asset::Status::Loaded) << asset->error()->message;
        EXPECT_NEAR(asset->duration().seconds(), 5.0, 0.05);
        ASSERT_EQ(asset->tracks(TrackMediaType::Video).size(), 1u);
        ASSERT_EQ(asset->tracks(TrackMediaType::Audio).size(), 1u);
        EXPECT_TRUE(asset->tracks(TrackMediaType::Text).empty());
        const auto& video = *asset->tracks(TrackMediaType::Video).front();
        EXPECT_EQ(video.naturalSize(), (ui::Size{640, 360}));
        EXPECT_EQ(video.codec(), "h264");
        EXPECT_NEAR(video.nominalFrameRate(), 30.0, 0.01);
        EXPECT_TRUE(video.preferredTransform().isIdentity());
        EXPECT_NEAR(video.timeRange().duration.seconds(), 5.0, 0.05);
        const auto& audio = *asset->tracks(TrackMediaType::Audio).front();
        EXPECT_EQ(audio.sampleRate(), 44100);
        EXPECT_EQ(audio.channels(), 2);
        EXPECT_TRUE(asset->isPlayable());
        EXPECT_NE(video.trackID(), audio.trackID());
    }
}

TEST_F(URLAssetIntegrationTest, SynchronousAccessorsLoadOnFirstUse) {
    auto asset = URLAsset::create(movie_->path().string());
    EXPECT_EQ(asset->status(), Asset::Status::Unknown);
    EXPECT_EQ(asset->tracks().size(), 2u);
    EXPECT_EQ(asset->status(), Asset::Status::Loaded);
}

TEST_F(URLAssetIntegrationTest, RotatedMovieHasAQuarterTurnTransform) {
    const auto path = movie_->folder() / "rotated.mp4";
    const auto rotated = test::TestMovie(1, 320, 240, 10, 10).silent().turned(90);
    ASSERT_TRUE(rotated.make(path));
    auto asset = loaded(path.string());
    ASSERT_EQ(asset->tracks(TrackMediaType::Video).size(), 1u);
    const auto& video = *asset->tracks(TrackMediaType::Video).front();
    EXPECT_EQ(video.naturalSize(), (ui::Size{320, 240}));
    const ui::AffineTransform t = video.preferredTransform();
    // The stored 320x240 picture shows as 240x320: its corners land inside that upright frame.
    const ui::Point corner = t.apply({320, 240});
    const ui::Point origin = t.apply({0, 0});
    EXPECT_DOUBLE_EQ(std::abs(corner.x - origin.x), 240);
    EXPECT_DOUBLE_EQ(std::abs(corner.y - origin.y), 320);
    EXPECT_GE(std::min(corner.x, origin.x), 0);
    EXPECT_GE(std::min(corner.y, origin.y), 0);
}

TEST_F(URLAssetIntegrationTest, WebVttFileIsOneTextTrack) {
    const auto path = movie_->folder() / "words.vtt";
    writeFile(path,
              "WEBVTT\n\n00:00:01.500 --> 00:00:02.250\nhello\n\n"
              "00:00:02.250 --> 00:00:03.000\nworld\n\n");
    auto asset = loaded(path.string());
    ASSERT_EQ(asset->status(), Asset::Status::Loaded) << asset->error()->message;
    ASSERT_EQ(asset->tracks().size(), 1u);
    EXPECT_EQ(asset->tracks(TrackMediaType::Text).size(), 1u);
    EXPECT_FALSE(asset->isPlayable());
}

TEST_F(URLAssetIntegrationTest, UnusableSourcesFailWithTheirReason) {
    writeFile(movie_->folder() / "garbage.mp4", std::string(4096, 'x'));
    writeFile(movie_->folder() / "empty.mp4", "");
    std::filesystem::create_directories(movie_->folder() / "folder.mp4");

    struct Case {
        const char* name;
        std::string url;
        long code;
    } cases[] = {
            {"missing file", (movie_->folder() / "none.mp4").string(), kAssetErrorNotFound},
            {"missing file URL", foundation::fileURLFromPath(movie_->folder() / "none.mp4"),
             kAssetErrorNotFound},
            {"folder", (movie_->folder() / "folder.mp4").string(), kAssetErrorUnreadable},
            {"not a movie", (movie_->folder() / "garbage.mp4").string(), kAssetErrorUnparsable},
            {"empty file", (movie_->folder() / "empty.mp4").string(), kAssetErrorUnparsable},
            {"404", movie_->url("/none.mp4"), kAssetErrorNotFound},
            {"other scheme", "ftp://127.0.0.1/movie.mp4", kAssetErrorBadURL},
            {"empty URL", "", kAssetErrorBadURL},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto asset = loaded(c.url);
        EXPECT_EQ(asset->status(), Asset::Status::Failed);
        EXPECT_THAT(asset->error(), pelmar::test::IsError(kAssetErrorDomain, c.code));
        EXPECT_EQ(asset->duration(), media::Time::zero());
        EXPECT_TRUE(asset->tracks().empty());
        EXPECT_FALSE(asset->isPlayable());
    }
}

TEST_F(URLAssetIntegrationTest, CancelledBeforeLoadingNeverReads) {
    auto asset = URLAsset::create(movie_->path().string());
    asset->cancelLoading();
    EXPECT_TRUE(asset->tracks().empty());
    EXPECT_EQ(asset->status(), Asset::Status::Cancelled);
    EXPECT_THAT(asset->error(), pelmar::test::IsError(kAssetErrorDomain, kAssetErrorCancelled));
}

}  // namespace
}  // namespace pelmar::av
