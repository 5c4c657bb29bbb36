#include "pelmar/core/PelmarVideos.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pelmar/core/Utils.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/UserDefaults.h"
#include "pelmar/platform/image/Bitmap.h"

namespace pelmar {
namespace {

using test::Role;

class PelmarVideosIntegrationTest : public test::ServiceFixture {
protected:
    PelmarVideos& videos() { return *facade_->videos(); }

    test::SeededResource seedVideo() {
        return emulator_.seedResource(test::MediaKind::Video, kApp, writeFile("v.mp4", 4096));
    }
};

TEST_F(PelmarVideosIntegrationTest, ForwardedCallbacksArriveOnTheMainQueue) {
    const auto video = seedVideo();
    std::vector<std::string> heard;
    auto onMain = [&](const char* name) {
        EXPECT_TRUE(dispatch::isMainThread()) << name;
        heard.emplace_back(name);
    };
    videos().index(std::nullopt, [&](auto items, auto) {
        EXPECT_EQ(items.size(), 1u);
        onMain("index");
    });
    videos().get(video.token, std::nullopt, [&](ContentModel model, auto, auto) {
        EXPECT_EQ(model.token, video.token);
        onMain("get");
    });
    videos().update(video.token, Json{{"title", "x"}}, [&](auto, auto, auto) { onMain("update"); });
    videos().confirm(video.token, video.streamToken, std::nullopt,
                     [&](auto, auto, auto) { onMain("confirm"); });
    runUntil([&] { return heard.size() == 4; });
    videos().destroy(video.token, video.streamToken, [&](auto, auto, auto) { onMain("destroy"); });
    runUntil([&] { return heard.size() == 5; });
    videos().destroy(video.token, "", [&](auto, auto, auto) { onMain("destroy"); });
    runUntil([&] { return heard.size() == 6; });

    const std::string base = "/v1/applications/app-1/videos/" + video.token;
    const auto lines = requestLines();
    auto sent = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(sent("POST api " + base));  // update addresses the video, not a stream
    EXPECT_EQ(lines.at(4), "DELETE api " + base + "/streams/" + video.streamToken);
    EXPECT_EQ(lines.at(5), "DELETE api " + base);
}

TEST_F(PelmarVideosIntegrationTest, CoverUrlNeedsNoRequest) {
    EXPECT_EQ(videos().getImageUrl("v1"),
              emulator_.cdnApiBase() + "/v1/applications/app-1/videos/v1/image");
    EXPECT_EQ(videos().getImageUrl("../x"), "");
    EXPECT_TRUE(emulator_.requests().empty());
}

TEST_F(PelmarVideosIntegrationTest, ServerThumbnailIsFetchedOnceAndEnforcedImagesWin) {
    const auto video = seedVideo();
    std::vector<PelmarVideos::Image> images;
    std::vector<bool> responses;
    auto fetch = [&](const std::string& token) {
        videos().getImage(token, std::nullopt, [&](auto image, auto response, auto error) {
            EXPECT_FALSE(error);
            images.push_back(image);
            responses.push_back(response != nullptr);
        });
    };
    fetch(video.token);
    runUntil([&] { return images.size() == 1; });
    fetch(video.token);
    runUntil([&] { return images.size() == 2; });
    ASSERT_TRUE(images[0]);
    EXPECT_EQ(images[1], images[0]);
    EXPECT_EQ(responses, (std::vector<bool>{true, false}));
    EXPECT_EQ(emulator_.requestsTo(".*/image").size(), 1u);

    const auto enforced = ui::Image::fromBitmap(image::Bitmap::create(1, 1));
    videos().enforceImageForVideo("other", enforced);
    fetch("other");
    runUntil([&] { return images.size() == 3; });
    EXPECT_EQ(images[2], enforced);
    EXPECT_EQ(emulator_.requestsTo(".*/image").size(), 1u);
}

TEST_F(PelmarVideosIntegrationTest, LocalThumbnailIsGeneratedOncePerPath) {
    const auto movie = sandbox_.root() / "clip.mp4";
    const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=3840x2160:rate=5:duration=1 "
            "-pix_fmt yuv420p '"
            + movie.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<PelmarVideos::Image> images;
    for (int i = 0; i < 2; ++i) {
        videos().getImage(movie.string(), [&](auto image, auto error) {
            EXPECT_FALSE(error);
            EXPECT_TRUE(dispatch::isMainThread());
            images.push_back(image);
        });
        runUntil([&] { return images.size() == static_cast<size_t>(i + 1); });
    }
    ASSERT_TRUE(images[0]);
    EXPECT_EQ(images[0]->width(), 1920);
    EXPECT_EQ(images[0]->height(), 1080);
    EXPECT_EQ(images[1], images[0]);
}

TEST_F(PelmarVideosIntegrationTest, StreamAndCoverRequests) {
    const auto video = seedVideo();
    bool noCover = false;
    EXPECT_FALSE(videos().attachCover(video.token, video.streamToken, nullptr, std::nullopt,
                                      [&](auto bytes, auto response, auto error) {
                                          noCover = !bytes && !response && !error;
                                      }));
    EXPECT_TRUE(noCover);

    std::optional<std::optional<std::string>> stream;
    videos().getDefaultStream(video.token, std::nullopt,
                              test::onMainQueue([&](auto token, auto, auto) { stream = token; }));
    runUntil([&] { return stream.has_value(); });
    EXPECT_TRUE(stream->has_value());

    fail("GET", Role::Api, ".*/videos/.*", 200, R"({"default_stream":{"token":5}})");
    stream.reset();
    std::optional<Error> error;
    videos().getDefaultStream(video.token, std::nullopt,
                              test::onMainQueue([&](auto token, auto, auto e) {
                                  stream = token;
                                  error = e;
                              }));
    runUntil([&] { return stream.has_value(); });
    EXPECT_FALSE(stream->has_value());
    EXPECT_FALSE(error);

    const auto cover = ui::Image::fromBitmap(image::Bitmap::create(8, 8));
    bool attached = false;
    EXPECT_TRUE(videos().attachCover(video.token, video.streamToken, cover, std::nullopt,
                                     test::onMainQueue([&](auto, auto response, auto) {
                                         attached = response && response->statusCode() == 200;
                                     })));
    runUntil([&] { return attached; });
    std::optional<PelmarVideos::Image> served;
    videos().getImage(video.token, std::nullopt, [&](auto image, auto, auto) { served = image; });
    runUntil([&] { return served.has_value(); });
    ASSERT_TRUE(*served);
    EXPECT_EQ((*served)->width(), 8);
}

TEST_F(PelmarVideosIntegrationTest, TheOriginalStreamRequestHandsOnOnlyAnOriginalStreamObject) {
    struct Case {
        const char* name;
        // A scripted answer to the video's GET (none: the emulator's own), cut after `cut`
        // bytes when set.
        int status;
        const char* body;
        std::optional<uint64_t> cut;
        bool described;
        bool failed;
    };

    const Case cases[] = {
            {"the service's answer", 0, nullptr, std::nullopt, true, false},
            {"no such object", 200, R"({"token":"v"})", std::nullopt, false, false},
            {"not an object", 200, R"({"original_stream":"s-1"})", std::nullopt, false, false},
            {"refused", 404, R"({"error":"not found"})", std::nullopt, false, false},
            {"cut short", 200, R"({"original_stream":{"token":"s-1"}})", 12, false, true},
    };
    const auto video = seedVideo();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.body) {
            test::ServiceEmulator::Fault fault;
            fault.method = "GET";
            fault.role = Role::Api;
            fault.pathPattern = ".*/videos/.*";
            fault.status = c.status;
            fault.body = c.body;
            fault.cutResponseAfter = c.cut;
            emulator_.addFault(std::move(fault));
        }

        struct Heard {
            std::optional<Json> original;
            long status = 0;
            std::optional<Error> error;
            bool onMain = true;
        };

        std::optional<Heard> heard;
        const auto before = requestLines().size();
        videos().getOriginalStreamDescriptionForVideo(
                video.token, Json{{"fields", "original_stream"}},
                [&heard](auto original, auto response, auto error) {
                    Heard h{std::move(original), response ? response->statusCode() : 0,
                            std::move(error), dispatch::isMainThread()};
                    dispatch::Queue::main()->async([&heard, h] { heard = h; });
                });
        runUntil([&] { return heard.has_value(); });
        EXPECT_FALSE(heard->onMain) << "it comes on the HTTP client's thread";
        EXPECT_EQ(heard->error.has_value(), c.failed);
        if (!c.failed) {
            EXPECT_EQ(heard->status, c.body ? c.status : 200);
        }
        ASSERT_EQ(heard->original.has_value(), c.described);
        if (c.described) {
            EXPECT_EQ(heard->original->value("token", ""), video.streamToken);
            EXPECT_TRUE(heard->original->contains("audio_transcription"));
        }
        const auto lines = requestLines();
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(), "GET api /v1/applications/app-1/videos/" + video.token);
    }
    const auto asked = emulator_.requestsMatching("GET", ".*/videos/" + video.token);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().queryParam("fields"), "original_stream")
            << "the data travel as the request's parameters";
}

TEST_F(PelmarVideosIntegrationTest, StreamRequestsGoToTheirPathsWithTheirFieldsAndAreLogged) {
    facade_->enableDebugLogs = true;
    foundation::Log::Capture logs;
    // Answers come on the HTTP client's thread; the test reads them on the main queue.
    std::optional<Json> created;
    videos().createEmptyVideo(Json{{"title", "empty one"}},
                              test::onMainQueue([&](auto json, auto, auto) {
                                  created = json.value_or(Json::object());
                              }));
    runUntil([&] { return created.has_value(); });
    const auto tokenIn = [](const Json& answer, const char* key) -> std::string {
        return answer.contains(key) ? answer[key].value("token", "") : "";
    };
    const std::string token = tokenIn(*created, "video");
    const std::string firstStream = tokenIn(*created, "stream");
    ASSERT_FALSE(token.empty());

    std::optional<Json> stream;
    videos().createStream(token, Json{{"description", "second take"}},
                          test::onMainQueue([&](auto json, auto, auto) {
                              stream = json.value_or(Json::object());
                          }));
    runUntil([&] { return stream.has_value(); });
    const std::string secondStream = tokenIn(*stream, "stream");
    EXPECT_FALSE(secondStream.empty());
    EXPECT_NE(secondStream, firstStream);
    EXPECT_TRUE(stream->contains("url_data"));
    EXPECT_TRUE(logs.contains("creating stream for video " + token));

    std::optional<long> submitted;
    videos().recorderSubmit(token, secondStream, Json{{"duration", "3"}},
                            test::onMainQueue([&](auto json, auto response, auto) {
                                submitted = response ? response->statusCode() : 0;
                                EXPECT_EQ(json.value_or(Json::object()).value("token", ""), token);
                            }));
    runUntil([&] { return submitted.has_value(); });
    EXPECT_EQ(*submitted, 200);

    const auto cover = ui::Image::fromBitmap(image::Bitmap::create(4, 4));
    bool attached = false;
    videos().attachCover(token, secondStream, cover, std::nullopt,
                         test::onMainQueue([&](auto, auto, auto) { attached = true; }));
    runUntil([&] { return attached; });

    const std::string base = "/v1/applications/app-1/videos";
    const auto lines = requestLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "POST api " + base);
    EXPECT_EQ(lines[1], "POST api " + base + "/" + token + "/streams");
    EXPECT_EQ(lines[2],
              "POST api " + base + "/" + token + "/streams/" + secondStream + "/recordersubmit");
    EXPECT_EQ(lines[3],
              "POST api " + base + "/" + token + "/streams/" + secondStream + "/imageattach");
    // The fields travel in the form body, "create_stream" in the query.
    const auto requests = emulator_.requestsMatching("POST", base + "(/.*)?");
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].query, "create_stream=true");
    EXPECT_EQ(requests[0].formParam("title"), "empty one");
    EXPECT_EQ(requests[1].query, "create_stream=true");
    EXPECT_EQ(requests[1].formParam("description"), "second take");
    EXPECT_EQ(requests[2].query, std::nullopt);
    EXPECT_EQ(requests[2].formParam("duration"), "3");
    EXPECT_EQ(requests[3].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[3].body.substr(0, 2), "\xFF\xD8");  // the cover as JPEG
    EXPECT_TRUE(logs.contains("cover for video " + token + " stream " + secondStream
                              + " set with error: nil, response: 200 /videos/" + token + "/streams/"
                              + secondStream + "/imageattach, data: "));
    // Neither the tokens of the answer's URL nor the answer itself reach the log.
    const auto session = emulator_.sessionTokens();
    ASSERT_FALSE(session.empty());
    for (const std::string& line : logs.lines()) {
        if (line.find("cover for video") == std::string::npos) {
            continue;
        }
        EXPECT_EQ(line.find("/applications/"), std::string::npos) << line;
        EXPECT_EQ(line.find(session.back()), std::string::npos) << line;
        EXPECT_EQ(line.find('{'), std::string::npos) << line;  // the JSON answer
    }
}

class ScreenRecordingIntakeIntegrationTest : public PelmarVideosIntegrationTest {
protected:
    static constexpr const char* kGroup = "group.pelmar.test";

    bool makeFacadeInSetUp() const override { return false; }

    void SetUp() override {
        PelmarVideosIntegrationTest::SetUp();
        ASSERT_TRUE(foundation::Sandbox::registerAppGroup(kGroup));
        shared_ = *Utils::getSharedScreenRecordingDirectory(kGroup);
    }

    void TearDown() override {
        foundation::UserDefaults::standard().remove("AppGroup");
        PelmarVideosIntegrationTest::TearDown();
    }

    // What the broadcast extension does: write the movie elsewhere, then rename it in.
    std::filesystem::path dropRecording(const std::string& name) {
        const auto written = writeFile("extension/" + name, 64 * 1024);
        std::filesystem::rename(written, shared_ / name);
        return Utils::getDocumentsDirectory() / name;
    }

    std::filesystem::path shared_;
};

TEST_F(ScreenRecordingIntakeIntegrationTest, RecordingIsMovedUploadedConfirmedAndOnlyThenRemoved) {
    makeFacade();
    facade_->startScreenRecorder(kGroup);
    EXPECT_TRUE(videos().fileWatcherIsSetUp());
    EXPECT_EQ(foundation::UserDefaults::standard().string("AppGroup"), kGroup);
    hold("POST", Role::Api, ".*/confirm-video");

    const auto moved = dropRecording("screen 1.mp4");
    runUntil([&] { return emulator_.heldCount() == 1; });
    EXPECT_TRUE(std::filesystem::is_empty(shared_));
    EXPECT_TRUE(std::filesystem::exists(moved));  // confirm not answered yet
    ASSERT_EQ(emulator_.uploads().size(), 1u);
    EXPECT_EQ(emulator_.uploads()[0].size, 64u * 1024);

    emulator_.releaseHeld();
    runUntil([&] {
        return !std::filesystem::exists(moved) && delegate_->count("uploadProcessed") == 1;
    });
}

TEST_F(ScreenRecordingIntakeIntegrationTest, FailedConfirmKeepsTheRecording) {
    makeFacade();
    facade_->startScreenRecorder(kGroup);
    fail("POST", Role::Api, ".*/confirm-video", 500);
    const auto moved = dropRecording("screen.mp4");
    runUntil([&] { return delegate_->count("uploadProcessed") == 1; });
    dispatch::RunLoop::runUntilIdle();
    EXPECT_TRUE(std::filesystem::exists(moved));
}

TEST_F(ScreenRecordingIntakeIntegrationTest, StartUpTakesInRecordingsLeftFromBefore) {
    foundation::UserDefaults::standard().set("AppGroup", kGroup);
    const auto first = dropRecording("a.mp4");
    const auto notes = dropRecording("notes.txt");
    makeFacade();
    EXPECT_FALSE(videos().fileWatcherIsSetUp());
    EXPECT_TRUE(std::filesystem::exists(notes));  // moved, never uploaded nor removed
    runUntil([&] { return !std::filesystem::exists(first); });
    EXPECT_EQ(emulator_.uploads().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(notes));
}

TEST_F(ScreenRecordingIntakeIntegrationTest, AnUnknownGroupIsReportedAndNotWatched) {
    makeFacade();
    foundation::Console::Capture capture;
    facade_->startScreenRecorder("group.not.ours");
    EXPECT_FALSE(videos().fileWatcherIsSetUp());
    EXPECT_TRUE(capture.contains("Failed to get shared directory"));
    facade_->startScreenRecorder(kGroup);  // a later start sets the watch up
    EXPECT_TRUE(videos().fileWatcherIsSetUp());
}

TEST_F(ScreenRecordingIntakeIntegrationTest, AMoveThatWouldReplaceAFileIsSkipped) {
    makeFacade();
    std::ofstream(Utils::getDocumentsDirectory() / "same.mp4") << "older";
    dropRecording("same.mp4");
    foundation::Console::Capture capture;
    videos().setAppGroup(kGroup);
    EXPECT_TRUE(std::filesystem::exists(shared_ / "same.mp4"));
    const auto lines = capture.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Failed to move the file to the documents folder"),
              lines.end());
}

}  // namespace
}  // namespace pelmar
