#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarAudios.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarImages.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Matchers.h"

namespace pelmar {
namespace {

using test::Role;

class PelmarIntegrationTest : public test::ServiceFixture {
protected:
    static void noAnswer(std::optional<Json>,
                         std::shared_ptr<const net::HTTPURLResponse>,
                         std::optional<Error>) {}
};

TEST_F(PelmarIntegrationTest, UploadFromPathRoutesByLowerCasedExtension) {
    struct Case {
        const char* name;
        std::string file;
        std::string createPath;  // "" when nothing may be sent
    } cases[] = {
            {"movie in capitals", "A.MOV", "/v1/applications/app-1/videos/videos-upload-url"},
            {"mixed-case audio", "b.Mp3", "/embed/v1/applications/app-1/audios"},
            {"bitmap", "c.BMP", "/embed/v1/applications/app-1/images"},
            {"blank and non-ASCII in a plain path", "my clip é.mp4",
             "/v1/applications/app-1/videos/videos-upload-url"},
            {"gif", "d.gif", ""},
            {"text", "e.txt", ""},
            {"no extension", "f", ""},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emulator_.clearRequests();
        delegate_->clear();
        const auto file = writeFile(c.file, 1000);
        bool confirmed = false;
        std::optional<Error> confirmError;
        facade_->uploadFromPath(
                file.string(), Json::object(), noAnswer, [](int64_t, int64_t) {},
                [&](auto, auto, std::optional<Error> error) {
                    confirmed = true;
                    confirmError = error;
                });
        if (c.createPath.empty()) {
            dispatch::RunLoop::runUntilIdle();
            EXPECT_TRUE(emulator_.requests().empty());
            EXPECT_EQ(delegate_->names(), (std::vector<std::string>{"failedToUpload"}));
            EXPECT_TRUE(confirmed);
            EXPECT_THAT(confirmError,
                        test::IsError(kUploadErrorDomain, kUploadErrorUnknownMediaKind));
            continue;
        }
        // The delegate hears the end on the HTTP client's thread, after the confirm callback.
        runUntil([&] { return confirmed && delegate_->count("uploadProcessed") == 1; });
        EXPECT_EQ(requestLines().at(0).substr(requestLines().at(0).find(' ', 5) + 1), c.createPath);
        EXPECT_EQ(delegate_->events().front().path, file.string());
    }
}

TEST_F(PelmarIntegrationTest, UploadFromPathsRunsStrictlyInOrderAndGoesOnAfterAFailure) {
    const std::vector<std::string> paths = {
            writeFile("one.mp4", 50 * 1024).string(), writeFile("two.aac", 50 * 1024).string(),
            foundation::fileURLFromPath(writeFile("three.jpg", 50 * 1024))};
    fail("POST", Role::DevApi, ".*/audios", 500);
    std::vector<std::pair<std::string, bool>> confirms;  // (kind of the answer, had an error)
    int callbacks = 0;
    facade_->uploadFromPaths(
            paths, Json::object(),
            [&](auto, auto, auto) {
                EXPECT_TRUE(dispatch::isMainThread());
                ++callbacks;
            },
            [&](int64_t, int64_t) { EXPECT_TRUE(dispatch::isMainThread()); },
            [&](std::optional<Json> json, auto, std::optional<Error> error) {
                EXPECT_TRUE(dispatch::isMainThread());
                confirms.emplace_back(json ? json->value("key", "") : "", error.has_value());
            });
    runUntil([&] { return confirms.size() == 3; });

    EXPECT_EQ(callbacks, 3);
    EXPECT_FALSE(confirms[0].second);
    EXPECT_TRUE(confirms[1].second);
    EXPECT_FALSE(confirms[2].second);
    EXPECT_EQ(delegate_->count("failedToUpload"), 1u);
    EXPECT_EQ(emulator_.uploads().size(), 2u);

    // Each create request arrived only after the previous file's confirmation was answered.
    std::vector<test::LoggedRequest> steps;
    for (const auto& request : emulator_.requests()) {
        if (!request.path.ends_with("/session") && request.role != Role::Storage) {
            steps.push_back(request);
        }
    }
    ASSERT_EQ(steps.size(), 5u);  // create, confirm, create (refused), create, confirm
    EXPECT_TRUE(steps[0].path.ends_with("/videos/videos-upload-url"));
    EXPECT_TRUE(steps[1].path.ends_with("/confirm-video"));
    EXPECT_TRUE(steps[2].path.ends_with("/audios"));
    EXPECT_TRUE(steps[3].path.ends_with("/images"));
    EXPECT_TRUE(steps[4].path.ends_with("/confirm"));
    EXPECT_GT(steps[2].sequence, steps[1].completedSequence);
    EXPECT_GT(steps[3].sequence, steps[2].completedSequence);
}

TEST_F(PelmarIntegrationTest, UploadFromPathsSkipsARefusedPathAndUploadsTheRest) {
    std::vector<std::optional<Error>> confirms;
    const auto a = writeFile("a.mp4", 100);
    const auto b = writeFile("b.mp4", 200);
    facade_->uploadFromPaths(
            {a.string(), "notes.txt", b.string()}, Json::object(), noAnswer,
            [](int64_t, int64_t) {},
            [&](auto, auto, std::optional<Error> error) { confirms.push_back(error); });
    runUntil([&] { return emulator_.uploads().size() == 2 && confirms.size() == 3; });
    EXPECT_FALSE(confirms[0]);
    EXPECT_THAT(confirms[1], test::IsError(kUploadErrorDomain, kUploadErrorUnknownMediaKind));
    EXPECT_FALSE(confirms[2]);
    ASSERT_EQ(delegate_->count("failedToUpload"), 1u);
    for (const auto& event : delegate_->events()) {
        if (event.name == "failedToUpload") {
            EXPECT_EQ(event.path, "notes.txt");
        }
    }
    EXPECT_EQ(emulator_.uploads()[0].size, 100u);
    EXPECT_EQ(emulator_.uploads()[1].size, 200u);

    // An empty list sends nothing and calls nothing.
    emulator_.clearRequests();
    delegate_->clear();
    bool called = false;
    facade_->uploadFromPaths(
            {}, Json::object(), [&](auto, auto, auto) { called = true; },
            [&](int64_t, int64_t) { called = true; }, [&](auto, auto, auto) { called = true; });
    dispatch::RunLoop::runUntilIdle();
    EXPECT_FALSE(called);
    EXPECT_TRUE(emulator_.requests().empty());
    EXPECT_TRUE(delegate_->events().empty());
}

// How each entry that uploads one file is called; each ends through `confirm`.
struct UploadEntry {
    const char* name;
    bool routesByExtension;  // the facade's path entries pick the kind from the extension
    void (*start)(Pelmar& facade,
                  const std::string& path,
                  Pelmar::AnswerCallback callback,
                  Pelmar::AnswerCallback confirm);
};

const UploadEntry kUploadEntries[] = {
        {"uploadFromPath", true,
         [](Pelmar& facade, const std::string& path, auto callback, auto confirm) {
             facade.uploadFromPath(path, Json::object(), callback, nullptr, confirm);
         }},
        {"uploadFromPaths", true,
         [](Pelmar& facade, const std::string& path, auto callback, auto confirm) {
             facade.uploadFromPaths({path}, Json::object(), callback, nullptr, confirm);
         }},
        {"videos create", false,
         [](Pelmar& facade, const std::string& path, auto callback, auto confirm) {
             facade.videos()->create(path, Json::object(), callback, nullptr, confirm);
         }},
        {"audios create", false,
         [](Pelmar& facade, const std::string& path, auto callback, auto confirm) {
             facade.audios()->create(path, Json::object(), callback, nullptr, confirm);
         }},
        {"images create", false,
         [](Pelmar& facade, const std::string& path, auto callback, auto confirm) {
             facade.images()->create(path, Json::object(), callback, nullptr, confirm);
         }},
        {"upload engine", false,
         [](Pelmar& facade, const std::string& path, auto callback, auto confirm) {
             facade.uploadingHandler()->upload(Media_Type::Audio, path, Json::object(), callback,
                                               nullptr, confirm);
         }},
};

TEST_F(PelmarIntegrationTest, EveryUploadEntryEndsItsConfirmClosureOnceWithTheError) {
    struct Failure {
        const char* name;
        bool onlyWhenRouted;  // a failure of the path itself, met only by the routing entries
        std::string file;     // under Documents; "" for none
        size_t size;
        std::function<void()> script;
        long code;
        bool sendsNothing;
    } failures[] = {
            {"the audio recorder's recording (no extension)",
             true,
             "Recorded_Audio",
             1000,
             {},
             kUploadErrorUnknownMediaKind,
             true},
            {"missing file", false, "", 0, {}, kUploadErrorUnusablePath, true},
            {"empty file", false, "empty.mp3", 0, {}, kUploadErrorEmptyFile, true},
            {"create answers 500", false, "a.mp3", 1000,
             [&] {
                 test::ServiceEmulator::Fault create;
                 create.method = "POST";
                 create.pathPattern = ".*/(videos-upload-url|audios|images)";
                 create.status = 500;
                 emulator_.addFault(create);
             },
             kUploadErrorHTTPStatus, false},
            {"storage answers 403", false, "b.mp3", 1000,
             [&] { fail("POST", Role::Storage, "/upload/.*", 403); }, kUploadErrorHTTPStatus,
             false},
    };

    for (const UploadEntry& entry : kUploadEntries) {
        for (const Failure& failure : failures) {
            if (failure.onlyWhenRouted && !entry.routesByExtension) {
                continue;
            }
            SCOPED_TRACE(std::string(entry.name) + ", " + failure.name);
            emulator_.clearFaults();
            emulator_.clearRequests();
            delegate_->clear();
            if (failure.script) {
                failure.script();
            }
            const std::string path =
                    failure.file.empty()
                            ? (sandbox_.root() / "Documents" / "missing.mp3").string()
                            : writeFile("Documents/" + failure.file, failure.size).string();
            std::vector<std::optional<Error>> ends;
            int callbacks = 0;
            entry.start(*facade_, path, test::onMainQueue([&](auto, auto, auto) { ++callbacks; }),
                        test::onMainQueue(
                                [&](auto, auto, std::optional<Error> e) { ends.push_back(e); }));
            runUntil([&] {
                return !ends.empty() && facade_->uploadingHandler()->activeUploads() == 0;
            });
            // Anything still on its way would arrive by now.
            net::URLSession::shared()->delegateQueue()->sync([] {});
            dispatch::RunLoop::runUntilIdle();
            ASSERT_EQ(ends.size(), 1u);
            EXPECT_THAT(ends[0], test::IsError(kUploadErrorDomain, failure.code));
            EXPECT_EQ(callbacks, 1);
            EXPECT_EQ(delegate_->count("failedToUpload"), 1u);
            EXPECT_EQ(requestLines().empty(), failure.sendsNothing);
        }
    }
}

// Notes whether the transfer of the upload it saw start still ran when it heard of a cancel.
class CancelWitness : public test::RecordingUploadingDelegate {
public:
    void uploadStarted(const std::string& path,
                       const std::string& token,
                       const std::string& streamToken,
                       const std::shared_ptr<net::URLSessionTask>& task) override {
        RecordingUploadingDelegate::uploadStarted(path, token, streamToken, task);
        MutexLock lock(mutex_);
        task_ = task;
    }

    void cancelUpload(const std::string& path, bool deleteFile) override {
        {
            MutexLock lock(mutex_);
            runningWhenTold_ = task_ && task_->state() == net::URLSessionTask::State::Running;
        }
        RecordingUploadingDelegate::cancelUpload(path, deleteFile);
    }

    bool runningWhenTold() const {
        MutexLock lock(mutex_);
        return runningWhenTold_;
    }

private:
    mutable Mutex mutex_;
    std::shared_ptr<net::URLSessionTask> task_ PELMAR_GUARDED_BY(mutex_);
    bool runningWhenTold_ PELMAR_GUARDED_BY(mutex_) = false;
};

TEST_F(PelmarIntegrationTest, CancelUploadTellsTheDelegateBeforeTheRunningUploadStops) {
    auto witness = std::make_shared<CancelWitness>();
    facade_->setUploadingDelegate(witness);
    hold("POST", Role::Storage, "/upload/.*");
    std::optional<std::optional<Error>> ended;
    facade_->uploadFromPath(
            writeFile("a.mp4", 64 * 1024).string(), Json::object(), noAnswer,
            [](int64_t, int64_t) {},
            test::onMainQueue([&](auto, auto, std::optional<Error> error) { ended = error; }));
    runUntil([&] { return emulator_.heldCount() == 1 && witness->count("uploadStarted") == 1; });

    facade_->cancelUpload(std::nullopt, false);
    EXPECT_TRUE(witness->runningWhenTold());
    runUntil([&] { return ended.has_value(); });
    EXPECT_THAT(*ended, test::IsError(kUploadErrorDomain, kUploadErrorCancelled));
    std::vector<test::UploadEvent> told;
    for (const auto& event : witness->events()) {
        if (event.name == "cancelUpload") {
            told.push_back(event);
        }
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].path, "");
    EXPECT_EQ(told[0].sent, 0);  // no deletion asked
    EXPECT_TRUE(emulator_.uploads().empty());
}

// The facade talks to a service that restarts on the same address and forgets every session.
class PelmarServiceRestartIntegrationTest : public test::ServiceFixture {
protected:
    bool makeFacadeInSetUp() const override { return false; }

    // The videos the service lists, or the error.
    std::pair<size_t, std::optional<Error>> listVideos() {
        std::optional<std::pair<size_t, std::optional<Error>>> listed;
        facade_->videos()->index(std::nullopt, [&](std::vector<ContentModel> items, auto error) {
            listed.emplace(items.size(), error);
        });
        runUntil([&] { return listed.has_value(); });
        return listed.value_or(std::pair<size_t, std::optional<Error>>{});
    }

    // Uploads `file` and returns the confirm answer's error and status.
    std::pair<std::optional<Error>, long> uploadVideo(const std::filesystem::path& file) {
        std::optional<std::pair<std::optional<Error>, long>> confirmed;
        facade_->uploadFromPath(
                file.string(), Json::object(), noAnswer, [](int64_t, int64_t) {},
                [&](auto, std::shared_ptr<const net::HTTPURLResponse> response,
                    std::optional<Error> error) {
                    confirmed.emplace(error, response ? response->statusCode() : 0);
                });
        runUntil([&] { return confirmed.has_value(); });
        return confirmed.value_or(std::pair<std::optional<Error>, long>{});
    }

    static void noAnswer(std::optional<Json>,
                         std::shared_ptr<const net::HTTPURLResponse>,
                         std::optional<Error>) {}
};

TEST_F(PelmarServiceRestartIntegrationTest, AfterARestartTheSameFacadeGetsOneNewSession) {
    test::ServiceEmulator::Options options;
    options.onePort = true;
    auto before = std::make_unique<test::ServiceEmulator>(options);
    before->start();
    facade_ = test::makeFacadeFor(*before, kApp);
    facade_->setUploadingDelegate(delegate_);
    const auto file = writeFile("clip.mp4", 32 * 1024);
    ASSERT_FALSE(uploadVideo(file).first);
    ASSERT_EQ(listVideos().first, 1u);

    test::ServiceEmulator::Options same;
    same.port = static_cast<uint16_t>(before->port(Role::Api));
    before.reset();
    test::ServiceEmulator after(same);
    ASSERT_NO_THROW(after.start());

    // Several calls meet the refusal at once; they share the one new session.
    std::vector<std::pair<size_t, std::optional<Error>>> lists;
    for (int i = 0; i < 3; ++i) {
        facade_->videos()->index(std::nullopt, [&](std::vector<ContentModel> items, auto error) {
            lists.emplace_back(items.size(), error);
        });
    }
    runUntil([&] { return lists.size() == 3; });
    for (const auto& [count, error] : lists) {
        EXPECT_FALSE(error) << *error;
        EXPECT_EQ(count, 0u);  // the new service knows nothing of the old video
    }
    const auto [error, status] = uploadVideo(file);
    EXPECT_FALSE(error) << *error;
    EXPECT_EQ(status, 200);
    EXPECT_EQ(listVideos().first, 1u);
    EXPECT_EQ(after.sessionCalls(), 1);
    // Each list was answered once; a call that met the refusal was repeated once. (A call may
    // also reach the new service only after the new session was had.)
    size_t refused = 0;
    size_t answered = 0;
    for (const auto& request : after.requestsMatching("GET", ".*/videos")) {
        refused += request.status == 401 ? 1 : 0;
        answered += request.status == 200 ? 1 : 0;
    }
    EXPECT_GE(refused, 1u);
    EXPECT_EQ(answered, 3u + 1);
    ASSERT_EQ(after.uploads().size(), 1u);
    EXPECT_EQ(after.uploads()[0].size, 32u * 1024);
    after.stop();
}

TEST_F(PelmarServiceRestartIntegrationTest,
       ASecondRefusalIsReportedAndARefusalWithoutSessionIsNot) {
    makeFacade();
    ASSERT_EQ(listVideos().first, 0u);  // holds a session
    fail("GET", Role::Api, ".*/videos", 401, R"({"error":"unknown session"})",
         /*persistent=*/true);
    auto [count, error] = listVideos();
    EXPECT_THAT(error, test::IsError(kUploadErrorDomain, kUploadErrorHTTPStatus));
    EXPECT_EQ(emulator_.requestsMatching("GET", ".*/videos").size(), 1u + 2);
    EXPECT_EQ(emulator_.sessionCalls(), 2);

    // No new session to be had: the repeat goes out bare, and its 401 is the answer.
    emulator_.clearRequests();
    emulator_.failSession(500, R"({"error":"down"})");
    std::tie(count, error) = listVideos();
    EXPECT_THAT(error, test::IsError(kUploadErrorDomain, kUploadErrorHTTPStatus));
    const auto gets = emulator_.requestsMatching("GET", ".*/videos");
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_TRUE(gets[0].queryParam(test::ServiceEmulator::sessionKeyFor(kApp)));
    EXPECT_FALSE(gets[1].queryParam(test::ServiceEmulator::sessionKeyFor(kApp)));
}

TEST_F(PelmarServiceRestartIntegrationTest, APostRefusedAfterARestartIsSentAgainWithItsBody) {
    using Send = std::function<void(PelmarConnect&, PelmarConnect::DataCallback)>;
    const std::string report = "events=%5B%7B%22message%22%3A%22x%22%7D%5D";

    const struct {
        const char* name;
        std::string pathPattern;
        Send send;
        bool rawBody;  // the caller's bytes are the body and the session rides in the query
    } rows[] = {
            {"create through requestWithMethod", ".*/videos",
             [](PelmarConnect& connect, PelmarConnect::DataCallback done) {
                 connect.requestWithMethod("POST", "/videos", Json{{"title", "after the restart"}},
                                           std::move(done));
             },
             false},
            {"raw post", ".*/debugger",
             [report](PelmarConnect& connect, PelmarConnect::DataCallback done) {
                 connect.postRawDataWithPath("/debugger", report, std::nullopt, std::move(done));
             },
             true},
    };

    const std::string key = test::ServiceEmulator::sessionKeyFor(kApp);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::ServiceEmulator::Options options;
        options.onePort = true;
        auto before = std::make_unique<test::ServiceEmulator>(options);
        before->start();
        facade_ = test::makeFacadeFor(*before, kApp);
        ASSERT_FALSE(listVideos().second);  // a session is held
        test::ServiceEmulator::Options same;
        same.port = static_cast<uint16_t>(before->port(Role::Api));
        before.reset();
        test::ServiceEmulator after(same);
        ASSERT_NO_THROW(after.start());

        // Shared with the callback, which must not outlive what it writes to.
        struct Answers {
            Mutex mutex;
            std::vector<std::pair<long, std::optional<Error>>> got PELMAR_GUARDED_BY(mutex);
        };

        auto answers = std::make_shared<Answers>();
        const auto answered = [answers] {
            MutexLock lock(answers->mutex);
            return answers->got;
        };
        row.send(*facade_->connect(),
                 [answers](auto, std::shared_ptr<const net::HTTPURLResponse> response,
                           std::optional<Error> error) {
                     MutexLock lock(answers->mutex);
                     answers->got.emplace_back(response ? response->statusCode() : 0,
                                               std::move(error));
                 });
        runUntil([&] { return !answered().empty(); });

        EXPECT_EQ(after.sessionCalls(), 1);
        const auto posts = after.requestsMatching("POST", row.pathPattern);
        ASSERT_EQ(posts.size(), 2u);
        EXPECT_EQ(posts[0].status, 401);
        EXPECT_EQ(posts[1].status, 200);
        const auto tokens = after.sessionTokens();
        ASSERT_EQ(tokens.size(), 1u);
        if (row.rawBody) {
            EXPECT_EQ(posts[0].body, report);
            EXPECT_EQ(posts[1].body, report);
            EXPECT_TRUE(posts[0].queryParam(key));  // the old session's token
            EXPECT_EQ(posts[1].queryParam(key), tokens[0]);
        } else {
            EXPECT_EQ(posts[0].formParam("title"), "after the restart");
            EXPECT_EQ(posts[1].formParam("title"), "after the restart");
            EXPECT_TRUE(posts[0].formParam(key));
            EXPECT_EQ(posts[1].formParam(key), tokens[0]);
        }
        after.stop();
        const auto got = answered();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_FALSE(got[0].second) << *got[0].second;
        EXPECT_EQ(got[0].first, 200);
        facade_.reset();
    }
}

}  // namespace
}  // namespace pelmar
