#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderServiceApp.h"

namespace pelmar {
namespace {

using dispatch::RunLoop;
using foundation::Sandbox;

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        files.push_back(entry.path());
    }
    return files;
}

// Records about one second (frames and sound fed by hand) and stops.
void recordASecond(test::RecorderApp& app) {
    app.startRecording();
    for (int i = 0; i <= 30; ++i) {
        app.feedFrame(i, i / 30.0);
        app.feedAudio(av::test::SyntheticMedia::tone(i * 1470, 1470, 44100, 1));
    }
    app.stopRecordingAndWait();
}

TEST(PelmarRecorderAfterRecordingTest, WithoutAPreviewTheExportIsUploadedAndTheScreenCloses) {
    test::RecorderServiceApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.makeServiceRecorder()->recordedVideoPreviewEnabled = false;
    app.presentAndWaitUntilReady();
    recordASecond(app);
    const auto temporary = app.events->stoppedPath();
    ASSERT_TRUE(temporary);

    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadProcessed") == 1; }, 60));
    app.settle();
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
    EXPECT_EQ(app.uploads->names(),
              (std::vector<std::string>{"preparingToUpload", "uploadStarted", "uploadProgress",
                                        "uploadFinished", "uploadVerified", "uploadProcessed"}));
    // The copy in the temporary folder went up; the export stays in Documents; the recording
    // itself is gone once confirmed.
    const auto exports = filesIn(Sandbox::documentsDirectory());
    ASSERT_EQ(exports.size(), 1U);
    EXPECT_EQ(app.uploads->events().front().path,
              (Sandbox::temporaryDirectory() / exports[0].filename()).string());
    EXPECT_FALSE(std::filesystem::exists(*temporary));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    ASSERT_EQ(app.emulator.uploads().size(), 1U);
    const auto probe = av::test::MovieProbe::probe(app.emulator.uploads()[0].storedFile);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_EQ(probe->audioCodec, "aac");
}

TEST(PelmarRecorderAfterRecordingTest, AWriterErrorKeepsOnlyAMovieOfMoreThan1024Bytes) {
    struct Case {
        const char* name;
        av::test::TestMovie movie;
        bool isMovie;
        bool exported;
    };

    av::test::TestMovie small;  // about 5,000 bytes
    small.seconds = 1;
    small.width = 64;
    small.height = 48;
    small.fps = 10;
    small.audio = false;
    av::test::TestMovie tiny = small;  // one 16 x 16 frame, no stream headers: under 1 KiB
    tiny.width = 16;
    tiny.height = 16;
    tiny.fps = 1;
    tiny.extraOptions =
            "-crf 51 -bsf:v filter_units=remove_types=6 -map_metadata -1 -fflags +bitexact";
    const Case cases[] = {
            {"a movie of more than 1024 bytes", small, true, true},
            {"a movie of at most 1024 bytes", tiny, true, false},
            {"5000 bytes that are no movie", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.readyWithManualFeed();
        app.recorder->recordedVideoPreviewEnabled = false;
        const auto file = Sandbox::temporaryDirectory() / "recording.mp4";
        if (c.isMovie) {
            ASSERT_TRUE(c.movie.make(file));
            // Only the size tells these apart: both are movies the platform would save.
            ASSERT_TRUE(av::videoAtPathIsCompatibleWithSavedPhotosAlbum(file));
            ASSERT_EQ(std::filesystem::file_size(file) > 1024, c.exported);
        } else {
            std::ofstream(file) << std::string(5000, 'x');
        }
        app.recorder->processRecordedVideo(file.string(), Error{"writer", 1, "the disk is full"});
        ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
        EXPECT_EQ(app.events->events(),
                  (std::vector<std::string>{"ready", "submitted", "stopped"}));
        EXPECT_TRUE(app.logged("Movie file finishing error: the disk is full"));
        app.settle();
        EXPECT_EQ(app.logged("export to file "), c.exported);
        EXPECT_EQ(filesIn(Sandbox::documentsDirectory()).size(), c.exported ? 1U : 0U);
        EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    }
}

TEST(PelmarRecorderAfterRecordingTest, ATaskExpiringWhileThePreviewShowsIsEndedByItsOwnHandler) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    recordASecond(app);
    // Processed: the recording's cleanup, not the screen, holds the background task now.
    ASSERT_TRUE(app.runUntil([&] { return app.topViewController() != app.recorder; }, 60));
    ASSERT_EQ(app::AppLifecycle::backgroundTaskCount(), 1);
    EXPECT_EQ(app::AppLifecycle::expireBackgroundTasks(), 0);
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST(PelmarRecorderAfterRecordingTest, AFailedExportIsReportedAndTheRecordingTidiedAway) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    // No Documents folder to write to: a file stands in its place.
    const auto documents = Sandbox::documentsDirectory();
    std::filesystem::remove_all(documents);
    std::ofstream(documents) << "not a folder";
    recordASecond(app);
    const auto temporary = app.events->stoppedPath();
    ASSERT_TRUE(app.runUntil([&] { return app.logged("Export failed: "); }, 60));
    app.settle();
    EXPECT_FALSE(std::filesystem::exists(*temporary));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_EQ(app.topViewController(), app.recorder);  // nothing shown, nothing uploaded
    std::filesystem::remove(documents);
}

TEST(PelmarRecorderAfterRecordingTest, RetakeRemovesTheExportAndTheRecordingAndRecordsAgain) {
    for (const bool withFile : {true, false}) {
        SCOPED_TRACE(withFile ? "with the export" : "without a file");
        test::RecorderApp app;
        app.readyWithManualFeed();
        const auto temporary = Sandbox::temporaryDirectory() / "recording.mp4";
        const auto exported = Sandbox::documentsDirectory() / "1.mp4";
        std::ofstream(temporary) << std::string(100, 'x');
        std::ofstream(exported) << "movie";
        app.recorder->processRecordedVideo(temporary.string(), Error{"writer", 1, "short"});
        app.settle();
        app.recorder->retake(withFile ? std::optional(exported) : std::nullopt);
        app.settle();
        EXPECT_EQ(app.events->has("rerecord"), withFile);
        EXPECT_EQ(std::filesystem::exists(exported), !withFile);
        EXPECT_FALSE(std::filesystem::exists(temporary));
        app.startRecording();  // ready for the next one
    }
}

}  // namespace
}  // namespace pelmar
