#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <thread>

#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/ServedTestMovie.h"
#include "testing/Matchers.h"
#include "testing/Waits.h"

namespace pelmar::av {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 5-second 640x360 movie at 30 frames per second with a key frame every 2 seconds, on disk and
// behind nginx (throttled under "/slow/"). One nginx per test program.
class AssetExportSessionIntegrationTest : public ::testing::Test {
protected:
    static constexpr int64_t kSlowBytesPerSecond = 64 * 1024;

    static void SetUpTestSuite() {
        movie_ = std::make_unique<test::ServedTestMovie>(test::TestMovie{}, kSlowBytesPerSecond);
    }

    static void TearDownTestSuite() { movie_.reset(); }

    void SetUp() override { ASSERT_TRUE(movie_->failure().empty()) << movie_->failure(); }

    std::filesystem::path output(const std::string& name) const { return out_.path() / name; }

    static std::shared_ptr<AssetExportSession> session(
            std::string_view preset,
            const std::filesystem::path& to,
            const std::string& source = movie_->path().string()) {
        auto made = AssetExportSession::create(URLAsset::create(source), preset);
        if (made) {
            made->setOutputURL(to);
            made->setOutputFileType(std::string(kFileTypeMPEG4));
        }
        return made;
    }

    // Runs the export and waits for its completion.
    static void run(AssetExportSession& exporter) {
        std::promise<void> done;
        exporter.exportAsynchronously([&done] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::minutes(2)), std::future_status::ready);
    }

    pelmar::test::TempDir out_{"export-out"};
    static inline std::unique_ptr<test::ServedTestMovie> movie_;
};

TEST_F(AssetExportSessionIntegrationTest, ExportsATwoSecondRangeAsH264AndAacAtThePresetSize) {
    struct Case {
        const char* name;
        std::string_view preset;
        double start;
        int width;
        int height;
    } cases[] = {
            {"low quality between key frames", kAssetExportPresetLowQuality, 1.5, 240, 134},
            {"medium quality between key frames", kAssetExportPresetMediumQuality, 1.5, 480, 270},
            {"highest quality on a key frame", kAssetExportPresetHighestQuality, 2.0, 640, 360},
            {"passthrough from the start copies", kAssetExportPresetPassthrough, 0.0, 640, 360},
            {"passthrough between key frames", kAssetExportPresetPassthrough, 1.5, 640, 360},
    };

    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto to = output("range" + std::to_string(index++) + ".mp4");
        auto exporter = session(c.preset, to);
        ASSERT_NE(exporter, nullptr);
        exporter->setTimeRange(TimeRange::seconds(c.start, 2.0));
        run(*exporter);
        ASSERT_EQ(exporter->status(), AssetExportSession::Status::Completed)
                << exporter->error()->message;
        EXPECT_FALSE(exporter->error());
        EXPECT_FLOAT_EQ(exporter->progress(), 1.0f);
        const auto probe = test::MovieProbe::probe(to);
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->videoCodec, "h264");
        EXPECT_EQ(probe->audioCodec, "aac");
        EXPECT_EQ(probe->width, c.width);
        EXPECT_EQ(probe->height, c.height);
        EXPECT_NEAR(probe->duration, 2.0, 1.0 / 30);
        EXPECT_NEAR(probe->videoDuration, 2.0, 1.0 / 30);
        EXPECT_NEAR(probe->videoStart, 0.0, 1.0 / 30);
        EXPECT_EQ(probe->videoFrames, 60);
    }
}

TEST_F(AssetExportSessionIntegrationTest, TurnedSourceStaysUpright) {
    const auto source = output("turned-source.mp4");
    const auto turned = test::TestMovie(1, 320, 240, 10, 10).turned(90);
    ASSERT_TRUE(turned.make(source));

    struct Case {
        const char* name;
        std::string_view preset;
        double start;
        ui::Size stored;
        bool transformed;
    } cases[] = {
            {"re-encoded pictures are turned",
             kAssetExportPresetHighestQuality,
             0.5,
             {240, 320},
             false},
            {"copied pictures keep their turn",
             kAssetExportPresetPassthrough,
             0.0,
             {320, 240},
             true},
    };

    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto to = output("turned" + std::to_string(index++) + ".mp4");
        auto exporter = session(c.preset, to, source.string());
        ASSERT_NE(exporter, nullptr);
        exporter->setTimeRange(TimeRange::seconds(c.start, 0.5));
        run(*exporter);
        ASSERT_EQ(exporter->status(), AssetExportSession::Status::Completed)
                << exporter->error()->message;
        auto exported = URLAsset::create(to.string());
        ASSERT_EQ(exported->tracks(TrackMediaType::Video).size(), 1u);
        const auto& video = *exported->tracks(TrackMediaType::Video).front();
        EXPECT_EQ(video.naturalSize(), c.stored);
        EXPECT_EQ(!video.preferredTransform().isIdentity(), c.transformed);
    }
}

TEST_F(AssetExportSessionIntegrationTest, WholeMovieFromAnHttpSource) {
    const auto to = output("whole.mp4");
    auto exporter = session(kAssetExportPresetLowQuality, to, movie_->url("/movie.mp4"));
    ASSERT_NE(exporter, nullptr);
    run(*exporter);
    ASSERT_EQ(exporter->status(), AssetExportSession::Status::Completed)
            << exporter->error()->message;
    const auto probe = test::MovieProbe::probe(to);
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->duration, 5.0, 1.0 / 30);
    EXPECT_EQ(probe->videoFrames, 150);
}

TEST_F(AssetExportSessionIntegrationTest, ExistingOutputFailsAndIsLeftAlone) {
    const auto to = output("taken.mp4");
    std::ofstream(to) << "keep me";
    auto exporter = session(kAssetExportPresetMediumQuality, to);
    run(*exporter);
    EXPECT_EQ(exporter->status(), AssetExportSession::Status::Failed);
    EXPECT_THAT(exporter->error(),
                pelmar::test::IsError(kAssetExportErrorDomain, kAssetExportErrorFileExists));
    EXPECT_EQ(readFile(to), "keep me");
}

TEST_F(AssetExportSessionIntegrationTest, CancelStopsAReadUnderWayAndRemovesThePartialFile) {
    const auto to = output("cancelled.mp4");
    auto exporter = session(kAssetExportPresetPassthrough, to, movie_->url("/slow/movie.mp4"));
    ASSERT_NE(exporter, nullptr);
    std::promise<void> done;
    exporter->exportAsynchronously([&done] { done.set_value(); });
    // Cancel once the copy is under way: the first packets are written, the rest is still
    // coming in at the throttled rate.
    EXPECT_TRUE(pelmar::test::waitUntil([&] { return exporter->progress() != 0.0f; }));
    ASSERT_GT(exporter->progress(), 0.0f);
    ASSERT_LT(exporter->progress(), 1.0f);
    exporter->cancelExport();
    ASSERT_EQ(done.get_future().wait_for(pelmar::test::kPatience), std::future_status::ready);
    EXPECT_EQ(exporter->status(), AssetExportSession::Status::Cancelled);
    EXPECT_THAT(exporter->error(),
                pelmar::test::IsError(kAssetExportErrorDomain, kAssetExportErrorCancelled));
    EXPECT_FALSE(std::filesystem::exists(to));
    // The connection was dropped long before the whole movie went out.
    ASSERT_TRUE(movie_->server().WaitForRequests([](const auto& requests) {
        return !requests.empty() && requests.back().uri == "/slow/movie.mp4";
    }));
    EXPECT_LT(movie_->server().requests().back().bodyBytes,
              static_cast<int64_t>(std::filesystem::file_size(movie_->path())));
}

TEST_F(AssetExportSessionIntegrationTest, SettingsThatCannotBeExportedFail) {
    struct Case {
        const char* name;
        std::string fileType;
        bool withOutput;
        TimeRange range;
        long code;
    } cases[] = {
            {"no output URL",
             std::string(kFileTypeMPEG4),
             false,
             {},
             kAssetExportErrorInvalidOutput},
            {"another file type", "com.example.movie", true, {}, kAssetExportErrorInvalidOutput},
            {"range past the end", std::string(kFileTypeMPEG4), true, TimeRange::seconds(6, 1),
             kAssetExportErrorInvalidTimeRange},
            {"empty range", std::string(kFileTypeMPEG4), true, TimeRange::seconds(1, 0),
             kAssetExportErrorInvalidTimeRange},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto exporter = AssetExportSession::create(URLAsset::create(movie_->path().string()),
                                                   kAssetExportPresetMediumQuality);
        ASSERT_NE(exporter, nullptr);
        if (c.withOutput) {
            exporter->setOutputURL(output("never.mp4"));
        }
        exporter->setOutputFileType(c.fileType);
        exporter->setTimeRange(c.range);
        run(*exporter);
        EXPECT_EQ(exporter->status(), AssetExportSession::Status::Failed);
        EXPECT_THAT(exporter->error(), pelmar::test::IsError(kAssetExportErrorDomain, c.code));
        EXPECT_FALSE(std::filesystem::exists(output("never.mp4")));
    }
}

TEST_F(AssetExportSessionIntegrationTest, PresetsAndPhotoAlbumCompatibilityFollowTheSource) {
    const auto vtt = output("words.vtt");
    std::ofstream(vtt) << "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nhi\n\n";
    const auto sound = output("sound.m4a");
    test::TestMovie soundOnly;
    soundOnly.seconds = 1;
    soundOnly.video = false;
    ASSERT_TRUE(soundOnly.make(sound));
    const std::vector<std::string> all = {std::string(kAssetExportPresetLowQuality),
                                          std::string(kAssetExportPresetMediumQuality),
                                          std::string(kAssetExportPresetHighestQuality),
                                          std::string(kAssetExportPresetPassthrough)};

    struct Case {
        const char* name;
        std::shared_ptr<Asset> asset;
        std::filesystem::path path;
        bool presets;
        bool album;
    } cases[] = {
            {"movie", URLAsset::create(movie_->path().string()), movie_->path(), true, true},
            {"sound only", URLAsset::create(sound), sound, true, false},
            {"subtitles", URLAsset::create(vtt), vtt, false, false},
            {"missing", URLAsset::create(output("none.mp4")), output("none.mp4"), false, false},
            {"composition", MutableComposition::create(), {}, false, false},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AssetExportSession::exportPresets(c.asset),
                  c.presets ? all : std::vector<std::string>{});
        EXPECT_EQ(AssetExportSession::create(c.asset, kAssetExportPresetLowQuality) != nullptr,
                  c.presets);
        EXPECT_EQ(videoAtPathIsCompatibleWithSavedPhotosAlbum(c.path), c.album);
    }
    EXPECT_EQ(AssetExportSession::create(URLAsset::create(movie_->path().string()),
                                         "AssetExportPresetSomething"),
              nullptr);
}

}  // namespace
}  // namespace pelmar::av
