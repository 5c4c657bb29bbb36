#include "pelmar/screenrecorder/PelmarScreenRecorderSampleHandler.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/core/PelmarVideos.h"
#include "pelmar/core/Utils.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/foundation/UserDefaults.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Screen.h"
#include "testing/SyntheticMedia.h"

namespace pelmar {
namespace {

using replaykit::SampleBufferType;

constexpr const char* kGroup = "group.pelmar.screen";

// The host app's extension: names the app group it shares with the app.
class GroupHandler : public PelmarScreenRecorderSampleHandler {
public:
    explicit GroupHandler(std::string group) : group_(std::move(group)) {}

    std::string getApplicationGroup() override { return group_; }

private:
    std::string group_;
};

class PelmarScreenRecorderSampleHandlerIntegrationTest : public test::ServiceFixture {
protected:
    bool makeFacadeInSetUp() const override { return false; }

    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_TRUE(foundation::Sandbox::registerAppGroup(kGroup));
        ui::Screen::main().configure({375, 667}, 2, 60, {});
        observer_ = foundation::NotificationCenter::defaultCenter().addObserver(
                std::string(PelmarScreenRecorderSampleHandler::kBroadcastFinishedNotification),
                [this](const foundation::Notification& n) {
                    MutexLock lock(mutex_);
                    ++posted_;
                    if (auto object = n.objectAs<const Json>()) {
                        postedUrl_ = object->value("url", "");
                    }
                });
    }

    void TearDown() override {
        observer_ = {};
        ui::Screen::main().reset();
        foundation::UserDefaults::standard().remove("AppGroup");
        ServiceFixture::TearDown();
    }

    // One second of a broadcast from 5 s on: 31 screen pictures, microphone sound and app sound.
    static void broadcast(PelmarScreenRecorderSampleHandler& handler) {
        handler.broadcastStarted(std::nullopt);
        int64_t sample = 5 * 44100;
        for (int i = 0; i <= 30; ++i) {
            const double t = 5.0 + i / 30.0;
            handler.processSampleBuffer(test::PictureSample(375, 667, i, t),
                                        SampleBufferType::Video);
            while (static_cast<double>(sample) / 44100 < t + 1.0 / 30) {
                handler.processSampleBuffer(test::SinePcm(sample, 1024, 44100, 1),
                                            SampleBufferType::AudioMic);
                handler.processSampleBuffer(test::SinePcm(sample, 1024, 44100, 2, 1000),
                                            SampleBufferType::AudioApp);
                sample += 1024;
            }
        }
    }

    int posted() {
        MutexLock lock(mutex_);
        return posted_;
    }

    std::string postedUrl() {
        MutexLock lock(mutex_);
        return postedUrl_;
    }

    foundation::NotificationCenter::Token observer_;
    Mutex mutex_;
    int posted_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::string postedUrl_ PELMAR_GUARDED_BY(mutex_);
};

TEST_F(PelmarScreenRecorderSampleHandlerIntegrationTest,
       MovieIsHandedOverBeforeFinishReturnsAndTheAppUploadsIt) {
    makeFacade();
    facade_->startScreenRecorder(kGroup);
    ASSERT_TRUE(facade_->videos()->fileWatcherIsSetUp());
    hold("POST", test::Role::Api, ".*/confirm-video");

    GroupHandler handler(kGroup);
    foundation::Console::Capture console;
    broadcast(handler);
    EXPECT_TRUE(handler.isRecordingVideo());
    handler.broadcastFinished();

    // Finishing returned only after the move: the movie is in the shared folder, under the name
    // it had in the temporary folder, and the notification names the temporary file's URL.
    const auto temporary = *handler.videoOutputFullFileName();
    EXPECT_EQ(temporary.parent_path(), foundation::Sandbox::temporaryDirectory());
    EXPECT_EQ(temporary.extension(), ".mov");
    EXPECT_FALSE(handler.isRecordingVideo());
    EXPECT_EQ(posted(), 1);
    EXPECT_EQ(postedUrl(), foundation::fileURLFromPath(temporary));
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_TRUE(console.contains("videoWriter?.finishWriting() DONE!"));

    // The app takes it in: moved to Documents, uploaded, removed once confirmed.
    const auto documentsCopy = Utils::getDocumentsDirectory() / temporary.filename();
    runUntil([&] { return emulator_.heldCount() == 1; });
    ASSERT_TRUE(std::filesystem::exists(documentsCopy));
    const auto probe = av::test::MovieProbe::probe(documentsCopy);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_EQ(probe->width, 374);  // 375 x 667 points, rounded down to even
    EXPECT_EQ(probe->height, 666);
    // The first picture only starts the time line: the movie shows the 30 after it.
    EXPECT_EQ(probe->videoFrames, 30);
    EXPECT_NEAR(probe->videoStart, 1.0 / 30, 0.01);
    EXPECT_EQ(probe->audioCodec, "aac");
    EXPECT_EQ(probe->sampleRate, 44100);
    EXPECT_EQ(probe->channels, 2);
    // One second of microphone sound; app sound would have doubled it.
    EXPECT_NEAR(probe->audioDuration, 1.0, 0.1);
    ASSERT_EQ(emulator_.uploads().size(), 1u);
    EXPECT_EQ(static_cast<int64_t>(emulator_.uploads()[0].size), Utils::fileSize(documentsCopy));

    emulator_.releaseHeld();
    runUntil([&] {
        return !std::filesystem::exists(documentsCopy) && delegate_->count("uploadProcessed") == 1;
    });
}

TEST_F(PelmarScreenRecorderSampleHandlerIntegrationTest,
       WithoutASharedFolderTheMovieStaysInTheTemporaryFolderAndNothingIsPosted) {
    struct Case {
        const char* name;
        bool blockFolder;  // a file where the screen-recording folder should be
        const char* line;
    };

    const Case cases[] = {
            {"no app group", false, "Failed to get screen recording directory"},
            {"move fails", true, "Unexpected error: "},
    };
    const auto caches = *Utils::getWritableSharedDirectory(kGroup);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(caches);
        std::unique_ptr<PelmarScreenRecorderSampleHandler> handler;
        if (c.blockFolder) {
            std::filesystem::create_directories(caches);
            std::ofstream(caches / "com.pelmar.screen-recording") << "not a folder";
            handler = std::make_unique<GroupHandler>(kGroup);
        } else {
            handler = std::make_unique<PelmarScreenRecorderSampleHandler>();
        }
        foundation::Console::Capture console;
        broadcast(*handler);
        handler->broadcastFinished();
        EXPECT_TRUE(console.contains(c.line));
        EXPECT_TRUE(std::filesystem::exists(*handler->videoOutputFullFileName()));
        EXPECT_GT(Utils::fileSize(*handler->videoOutputFullFileName()), 0);
        EXPECT_FALSE(handler->isRecordingVideo());
        EXPECT_EQ(posted(), 0);
    }
}

// In real time, a broadcast fed faster than the encoder writes (the pictures' queue full) and
// finished right after its last sample: the finish waits for the busy input and the whole movie
// reaches the shared folder, playable.
TEST_F(PelmarScreenRecorderSampleHandlerIntegrationTest,
       AnUnpacedFeedFinishedAtOnceIsAPlayableMovie) {
    // 91 pictures and 131 microphone chunks, three seconds from 5 s on, all made beforehand so
    // that nothing paces the feed.
    std::vector<std::pair<std::shared_ptr<const media::SampleBuffer>, SampleBufferType>> feed;
    int64_t sample = 5 * 44100;
    int chunks = 0;
    for (int i = 0; i <= 90; ++i) {
        const double t = 5.0 + i / 30.0;
        feed.emplace_back(test::PictureSample(375, 667, i, t), SampleBufferType::Video);
        while (static_cast<double>(sample) / 44100 < t + 1.0 / 30 && chunks < 131) {
            feed.emplace_back(test::SinePcm(sample, 1024, 44100, 1), SampleBufferType::AudioMic);
            sample += 1024;
            ++chunks;
        }
    }
    dispatch::setClock(nullptr);
    GroupHandler handler(kGroup);
    foundation::Console::Capture console;
    handler.broadcastStarted(std::nullopt);
    for (const auto& [buffer, type] : feed) {
        handler.processSampleBuffer(buffer, type);
    }
    handler.broadcastFinished();
    dispatch::setClock(clock_);

    EXPECT_FALSE(console.contains("Error: videoWriterInput?.isReadyForMoreMediaData == false"));
    EXPECT_TRUE(console.contains("videoWriter?.finishWriting() DONE!"));
    EXPECT_FALSE(handler.isRecordingVideo());
    EXPECT_EQ(posted(), 1);
    const auto folder = Utils::getSharedScreenRecordingDirectory(kGroup);
    ASSERT_TRUE(folder);
    const auto movie = *folder / handler.videoOutputFullFileName()->filename();
    ASSERT_TRUE(std::filesystem::exists(movie));
    const auto probe = av::test::MovieProbe::probe(movie);
    ASSERT_TRUE(probe) << "ffprobe cannot read " << movie;
    EXPECT_EQ(probe->videoCodec, "h264");
    // A real-time input drops what comes while its queue is full, but what it took is written.
    EXPECT_GT(probe->videoFrames, 0);
    EXPECT_EQ(probe->audioCodec, "aac");
}

TEST_F(PelmarScreenRecorderSampleHandlerIntegrationTest, BroadcastsWithoutAMovieEndQuietly) {
    struct Case {
        const char* name;
        bool blockTemporaryFolder;  // a file in its place: the writer cannot be made
        bool pictures;
        const char* line;
    };

    const Case cases[] = {
            {"no writer", true, true, "Failed to initialize videoWriter"},
            {"no picture ever", false, false, "Starting screen capture..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto temporary = foundation::Sandbox::root() / "tmp";
        std::filesystem::remove_all(temporary);
        if (c.blockTemporaryFolder) {
            std::ofstream(temporary) << "not a folder";
        }
        GroupHandler handler(kGroup);
        foundation::Console::Capture console;
        handler.broadcastStarted(std::nullopt);
        if (c.pictures) {
            handler.processSampleBuffer(test::PictureSample(375, 667, 0, 1.0),
                                        SampleBufferType::Video);
            handler.processSampleBuffer(test::PictureSample(375, 667, 1, 1.1),
                                        SampleBufferType::Video);
        }
        handler.processSampleBuffer(test::SinePcm(0, 1024, 44100, 1), SampleBufferType::AudioMic);
        handler.broadcastFinished();
        EXPECT_TRUE(console.contains(c.line));
        EXPECT_TRUE(console.contains("Error: videoWriterInput?.isReadyForMoreMediaData == false"));
        EXPECT_FALSE(std::filesystem::is_regular_file(*handler.videoOutputFullFileName()));
        EXPECT_FALSE(handler.isRecordingVideo());
        EXPECT_EQ(posted(), 0);
        std::filesystem::remove_all(temporary);
    }
}

// Without the service: the dying child runs the test from its start and ends without
// destructors, so whatever a fixture made there (a service's data folder) would stay behind.
TEST(PelmarScreenRecorderSampleHandlerTest, AnUnknownSampleTypeStopsTheExtension) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PelmarScreenRecorderSampleHandler handler;
    // The console writes to standard output; the dying child sends it where the check reads.
    EXPECT_DEATH(
            {
                ::dup2(STDERR_FILENO, STDOUT_FILENO);
                handler.processSampleBuffer(test::SinePcm(0, 1024, 44100, 1),
                                            static_cast<SampleBufferType>(7));
            },
            "Unknown type of sample buffer");
}

}  // namespace
}  // namespace pelmar
