#include "pelmar/core/PelmarUploadingHandler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/PelmarAudios.h"
#include "pelmar/core/PelmarCacheManager.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarImages.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Matchers.h"
#include "testing/Waits.h"

namespace pelmar {
namespace {

namespace fs = std::filesystem;
using dispatch::RunLoop;
using test::Role;
using test::ThreadKind;

// What the caller's three closures heard.
struct Heard {
    std::vector<std::string> calls;
    std::vector<ThreadKind> threads;
    std::optional<Error> createError;
    std::optional<Error> confirmError;
    long confirmStatus = 0;
    bool confirmed = false;
};

// The caller's three closures, which may run on any thread.
struct Closures {
    pelmar::Mutex mutex;
    Heard heard PELMAR_GUARDED_BY(mutex);

    PelmarUploadingHandler::AnswerCallback callback() {
        return [this](std::optional<Json>, PelmarUploadingHandler::Response,
                      std::optional<Error> error) {
            pelmar::MutexLock lock(mutex);
            heard.calls.push_back("callback");
            heard.threads.push_back(test::currentThreadKind());
            heard.createError = error;
        };
    }

    PelmarUploadingHandler::ProgressCallback progress() {
        return [this](int64_t, int64_t) {
            pelmar::MutexLock lock(mutex);
            if (heard.calls.empty() || heard.calls.back() != "progress") {
                heard.calls.push_back("progress");
                heard.threads.push_back(test::currentThreadKind());
            }
        };
    }

    PelmarUploadingHandler::AnswerCallback confirm() {
        return [this](std::optional<Json>, PelmarUploadingHandler::Response response,
                      std::optional<Error> error) {
            pelmar::MutexLock lock(mutex);
            heard.calls.push_back("confirmCallback");
            heard.threads.push_back(test::currentThreadKind());
            heard.confirmError = error;
            heard.confirmStatus = response ? response->statusCode() : 0;
            heard.confirmed = true;
        };
    }

    bool done() {
        pelmar::MutexLock lock(mutex);
        return heard.confirmed;
    }

    // A copy of what was heard so far.
    Heard read() {
        pelmar::MutexLock lock(mutex);
        return heard;
    }
};

struct KindCase {
    const char* name;
    Media_Type type;
    const char* fileName;
    std::string createPath;
    std::string confirmPath;  // with T and S for the tokens
    Role api;
    // The kind's own file URL getter on the facade, the host it names and the path after it.
    std::string (*fileUrl)(Pelmar&, const std::string& token);
    Role fileHost;
    std::string filePath;  // with T for the token
};

const std::string kRoot = "/v1/applications/app-1";
const std::string kDevRoot = "/embed/v1/applications/app-1";

void PrintTo(const KindCase& kind, std::ostream* out) {
    *out << kind.name;
}

const KindCase kKinds[] = {
        {"Video", Media_Type::Video, "my clip.mp4", kRoot + "/videos/videos-upload-url",
         kRoot + "/videos/T/streams/S/confirm-video", Role::Api,
         [](Pelmar& facade, const std::string& token) {
             return facade.videos()->getVideoUrl(token);
         },
         Role::CdnApi, kRoot + "/videos/T/video.mp4"},
        {"Audio", Media_Type::Audio, "voice note.aac", kDevRoot + "/audios",
         kDevRoot + "/audios/T/confirm", Role::DevApi,
         [](Pelmar& facade, const std::string& token) {
             return facade.audios()->getAudioUrl(token);
         },
         Role::FileServer, kRoot + "/audios/T/audio.aac"},
        {"Image", Media_Type::Image, "pic ü.jpg", kDevRoot + "/images",
         kDevRoot + "/images/T/confirm", Role::DevApi,
         [](Pelmar& facade, const std::string& token) {
             return facade.images()->getImageUrl(token);
         },
         Role::FileServer, kRoot + "/images/T/image.jpg"},
};

class PelmarUploadingHandlerIntegrationTest : public test::ServiceFixture {
protected:
    PelmarUploadingHandler& handler() { return *facade_->uploadingHandler(); }

    // Uploads `file` given as a "file://" URL and waits for the confirm callback.
    void uploadAndWait(Media_Type type, const std::string& given, Closures& closures) {
        handler().upload(type, given, Json{{"title", "t"}}, closures.callback(),
                         closures.progress(), closures.confirm());
        runUntil([&] { return closures.done(); });
    }
};

class UploadSequenceTest : public PelmarUploadingHandlerIntegrationTest,
                           public ::testing::WithParamInterface<KindCase> {};

TEST_P(UploadSequenceTest, RunsCreateTransferConfirmWithTheDelegateSequenceOnItsThreads) {
    const KindCase& kind = GetParam();
    const fs::path file = writeFile(kind.fileName, 200 * 1024);
    const std::string given = foundation::fileURLFromPath(file);
    const std::string confirmPattern = ".*/confirm(-video)?";
    hold("POST", kind.api, confirmPattern);

    Closures closures;
    handler().upload(kind.type, given, Json{{"title", "t"}}, closures.callback(),
                     closures.progress(), closures.confirm());
    runUntil([&] { return emulator_.heldCount() == 1; });
    RunLoop::runUntilIdle();
    RunLoop::advance(1.0);
    RunLoop::advance(1.0);
    emulator_.releaseHeld();
    runUntil([&] { return delegate_->count("uploadProcessed") == 1; });
    RunLoop::advance(5.0);  // the tick has stopped

    using Names = std::vector<std::string>;
    EXPECT_EQ(delegate_->names(),
              (Names{"preparingToUpload", "uploadStarted", "uploadProgress", "uploadFinished",
                     "uploadProcessing", "uploadProcessing", "uploadVerified", "uploadProcessed"}));
    const auto upload = emulator_.uploads().at(0);
    for (const auto& event : delegate_->events()) {
        SCOPED_TRACE(event.name);
        const bool shortPath = event.name == "preparingToUpload" || event.name == "uploadStarted"
                               || event.name == "uploadProcessing";
        EXPECT_EQ(event.path, shortPath ? file.string() : given);
        if (event.name != "preparingToUpload") {
            EXPECT_EQ(event.token, upload.token);
            EXPECT_EQ(event.streamToken, upload.streamToken);
        }
        const ThreadKind expected =
                event.name == "uploadProgress" || event.name == "uploadFinished" ? ThreadKind::Other
                : event.name == "uploadStarted" || event.name == "uploadVerified"
                                || event.name == "uploadProcessed"
                        ? ThreadKind::SharedSession
                        : ThreadKind::Main;
        EXPECT_EQ(event.thread, expected);
    }
    const auto events = delegate_->events();
    const auto last = std::find_if(events.rbegin(), events.rend(),
                                   [](const auto& e) { return e.name == "uploadProgress"; });
    EXPECT_EQ(last->sent, last->expected);
    EXPECT_EQ(events[events.size() - 2].status, 200);

    EXPECT_EQ(closures.read().calls,
              (std::vector<std::string>{"callback", "progress", "confirmCallback"}));
    EXPECT_EQ(closures.read().threads,
              (std::vector<ThreadKind>{ThreadKind::SharedSession, ThreadKind::Other,
                                       ThreadKind::SharedSession}));
    EXPECT_FALSE(closures.read().confirmError);

    std::string confirmPath = kind.confirmPath;
    confirmPath.replace(confirmPath.find('T'), 1, upload.token);
    if (const auto s = confirmPath.find("/S/"); s != std::string::npos) {
        confirmPath.replace(s + 1, 1, upload.streamToken);
    }
    const std::string api(test::roleName(kind.api));
    EXPECT_EQ(requestLines(), (std::vector<std::string>{"POST " + api + " " + kind.createPath,
                                                        "POST storage /upload/" + upload.uploadId,
                                                        "POST " + api + " " + confirmPath}));
    EXPECT_EQ(upload.fileName, "file.mp4");
    EXPECT_EQ(upload.contentType, "video/mp4");
    EXPECT_EQ(upload.size, fs::file_size(file));
    EXPECT_EQ(handler().activeUploads(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds,
                         UploadSequenceTest,
                         ::testing::ValuesIn(kKinds),
                         [](const auto& param) { return std::string(param.param.name); });

class PerKindTest : public PelmarUploadingHandlerIntegrationTest,
                    public ::testing::WithParamInterface<KindCase> {};

TEST_P(PerKindTest, FileUrlIsBuiltWithoutARequestAndRefusesAnUnsafeToken) {
    const KindCase& kind = GetParam();
    std::string path = kind.filePath;
    path.replace(path.find('T'), 1, "t1");
    EXPECT_EQ(kind.fileUrl(*facade_, "t1"), emulator_.base(kind.fileHost) + path);
    EXPECT_EQ(kind.fileUrl(*facade_, "../x"), "");
    EXPECT_EQ(kind.fileUrl(*facade_, ""), "");
    EXPECT_TRUE(emulator_.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, PerKindTest, ::testing::ValuesIn(kKinds), [](const auto& param) {
    return std::string(param.param.name);
});

TEST_F(PelmarUploadingHandlerIntegrationTest, EachUploadHasItsOwnTick) {
    const fs::path first = writeFile("first.mp4", 32 * 1024);
    const fs::path second = writeFile("second.mp4", 32 * 1024);
    hold("POST", Role::Api, ".*/confirm-video");  // one-shot: only the first confirm waits
    Closures one;
    Closures two;
    handler().upload(Media_Type::Video, first.string(), std::nullopt, one.callback(),
                     one.progress(), one.confirm());
    runUntil([&] { return emulator_.heldCount() == 1; });
    handler().upload(Media_Type::Video, second.string(), std::nullopt, two.callback(),
                     two.progress(), two.confirm());
    runUntil([&] { return two.done() && delegate_->count("uploadProcessed") == 1; });
    delegate_->clear();

    RunLoop::advance(1.0);
    // The second upload's end left the first one's tick running, and stopped only its own.
    const auto ticks = delegate_->events();
    EXPECT_EQ(ticks.size(), 1u);
    for (const auto& tick : ticks) {
        EXPECT_EQ(tick.name, "uploadProcessing");
        EXPECT_EQ(tick.path, first.string());
    }

    emulator_.releaseHeld();
    runUntil([&] { return one.done(); });
    RunLoop::runUntilIdle();
    delegate_->clear();
    RunLoop::advance(3.0);
    EXPECT_EQ(delegate_->count("uploadProcessing"), 0u);
}

// An uploading delegate whose uploadVerified waits, once it has recorded the call, until the
// test lets it return.
class HeldVerifyDelegate : public test::RecordingUploadingDelegate {
public:
    void uploadVerified(const std::string& path,
                        const std::string& token,
                        const std::string& streamToken,
                        const Response& response,
                        const std::optional<Error>& error,
                        const std::optional<Json>& json) override {
        RecordingUploadingDelegate::uploadVerified(path, token, streamToken, response, error, json);
        entered_ = true;
        released_.wait();
    }

    bool entered() const { return entered_; }

    void release() { gate_.set_value(); }

private:
    std::atomic<bool> entered_{false};
    std::promise<void> gate_;
    std::shared_future<void> released_ = gate_.get_future().share();
};

// The handler goes (with its facade) while one step of an upload is held. The caller still hears
// each step that answers and exactly one confirmCallback; the delegate hears nothing more and no
// tick runs.
TEST_F(PelmarUploadingHandlerIntegrationTest, AHandlerThatGoesMidUploadEndsItsClosuresOnce) {
    struct Case {
        const char* step;
        std::function<void()> script;  // holds the step's request; none: holds uploadVerified
        const char* heardFirst;        // the delegate's last call before the step is held
        bool transferDone;             // the service stored the file
        std::optional<long> code;      // confirmCallback's kUploadErrorDomain error, if any
    } cases[] = {
            {"create", [&] { hold("POST", Role::Api, ".*/videos-upload-url"); },
             "preparingToUpload", false, kUploadErrorNoService},
            {"storage", [&] { hold("POST", Role::Storage, "/upload/.*"); }, "uploadStarted", true,
             kUploadErrorNoService},
            {"confirm", [&] { hold("POST", Role::Api, ".*/confirm-video"); }, "uploadFinished",
             true, std::nullopt},
            {"processed", nullptr, "uploadVerified", true, std::nullopt},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        emulator_.clearFaults();
        delegate_->clear();
        if (!facade_) {
            makeFacade();
        }
        const auto held = std::make_shared<HeldVerifyDelegate>();
        if (c.script) {
            c.script();
        } else {
            facade_->setUploadingDelegate(held);
        }
        const size_t storedBefore = emulator_.uploads().size();
        const fs::path file = writeFile(std::string(c.step) + ".mp4", 64 * 1024);
        Closures closures;
        // Shared by the closures: once only the test holds it, the upload has let go of them.
        const auto closuresAlive = std::make_shared<int>(0);
        // The transfer's progress still reaches the caller after the handler went (from the
        // transport's thread, at any time); only what is not progress counts as a tick's fire.
        const auto progressCalls = std::make_shared<std::atomic<size_t>>(0);
        auto callback = closures.callback();
        auto progress = closures.progress();
        auto confirm = closures.confirm();
        handler().upload(
                Media_Type::Video, file.string(), std::nullopt,
                [callback, closuresAlive](auto json, auto response, auto error) {
                    callback(json, response, error);
                },
                [progress, closuresAlive, progressCalls](int64_t sent, int64_t expected) {
                    ++*progressCalls;
                    progress(sent, expected);
                },
                [confirm, closuresAlive](auto json, auto response, auto error) {
                    confirm(json, response, error);
                });
        const test::RecordingUploadingDelegate& recorder = c.script ? *delegate_ : *held;
        runUntil([&] {
            return (c.script ? emulator_.heldCount() == 1 : held->entered())
                   && recorder.count(c.heardFirst) == 1;
        });
        RunLoop::runUntilIdle();

        std::weak_ptr<PelmarUploadingHandler> gone = facade_->uploadingHandler();
        const size_t heardBefore = recorder.events().size();
        facade_.reset();
        RunLoop::runUntilIdle();
        // A tick still scheduled would post a fire to the main queue every second. The first
        // window also takes what the transport's threads still deliver of the step that ended
        // (on a slow machine that can come after the delegate heard the step); in the second,
        // every block that runs must be a progress delivery.
        clock().advance(5.0);
        RunLoop::runUntilIdle();
        const size_t progressBefore = *progressCalls;
        clock().advance(5.0);
        const size_t ran = RunLoop::runUntilIdle();
        EXPECT_LE(ran, *progressCalls - progressBefore) << "a tick fired after the handler went";

        emulator_.releaseHeld();
        if (!c.script) {
            held->release();
        }
        runUntil([&] { return closures.done() && closuresAlive.use_count() == 1; });
        EXPECT_TRUE(gone.expired());

        const Heard heard = closures.read();
        EXPECT_EQ(std::count(heard.calls.begin(), heard.calls.end(), "callback"), 1);
        EXPECT_EQ(std::count(heard.calls.begin(), heard.calls.end(), "confirmCallback"), 1);
        EXPECT_EQ(heard.calls.back(), "confirmCallback");
        if (c.code) {
            EXPECT_THAT(heard.confirmError, test::IsError(kUploadErrorDomain, *c.code));
        } else {
            EXPECT_FALSE(heard.confirmError);
            EXPECT_EQ(heard.confirmStatus, 200);
        }
        EXPECT_EQ(recorder.events().size(), heardBefore) << "the delegate heard more";
        EXPECT_EQ(emulator_.uploads().size() - storedBefore, c.transferDone ? 1u : 0u);
    }
    // The confirmations that were sent before the handler went; none after.
    EXPECT_EQ(emulator_.requestsTo(".*/confirm-video").size(), 2u);
}

TEST_F(PelmarUploadingHandlerIntegrationTest, FailedStepsAreReportedAndNeverConfirmed) {
    struct Case {
        const char* name;
        std::function<void()> script;
        bool transferStarted;
        std::string domain;
        long code;
    } cases[] = {
            {"create answers 500", [&] { fail("POST", Role::Api, ".*/videos-upload-url", 500); },
             false, std::string(kUploadErrorDomain), kUploadErrorHTTPStatus},
            {"create answer without tokens",
             [&] { fail("POST", Role::Api, ".*/videos-upload-url", 200, R"({"video":{}})"); },
             false, std::string(kUploadErrorDomain), kUploadErrorBadCreateAnswer},
            {"create answer with an unsafe token",
             [&] {
                 fail("POST", Role::Api, ".*/videos-upload-url", 200,
                      R"({"video":{"token":"../x"},"stream":{"token":"s"},)"
                      R"("url_data":{"url":"http://127.0.0.5/upload/u","fields":{}}})");
             },
             false, std::string(kUploadErrorDomain), kUploadErrorBadCreateAnswer},
            {"storage answers 403", [&] { fail("POST", Role::Storage, "/upload/.*", 403); }, true,
             std::string(kUploadErrorDomain), kUploadErrorHTTPStatus},
            {"storage cuts the connection",
             [&] {
                 test::ServiceEmulator::Fault cut;
                 cut.role = Role::Storage;
                 cut.pathPattern = "/upload/.*";
                 cut.cutRequestAfter = 1000;
                 cut.persistent = true;  // a reused connection that dies is retried once
                 emulator_.addFault(cut);
             },
             true, std::string(net::kURLErrorDomain), net::kURLErrorNetworkConnectionLost},
    };

    const fs::path file = writeFile("clip.mp4", 64 * 1024);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emulator_.clearFaults();
        emulator_.clearRequests();
        delegate_->clear();
        c.script();
        Closures closures;
        uploadAndWait(Media_Type::Video, file.string(), closures);
        RunLoop::advance(3.0);

        using Names = std::vector<std::string>;
        const Names expected =
                c.transferStarted ? Names{"preparingToUpload", "uploadStarted", "failedToUpload"}
                                  : Names{"preparingToUpload", "failedToUpload"};
        auto names = delegate_->names();
        std::erase(names, "uploadProgress");
        EXPECT_EQ(names, expected);
        EXPECT_EQ(closures.read().calls.front(), "callback");
        EXPECT_EQ(closures.read().calls.back(), "confirmCallback");
        EXPECT_THAT(closures.read().confirmError, test::IsError(c.domain, c.code));
        EXPECT_TRUE(emulator_.requestsTo(".*/confirm-video").empty());
        EXPECT_EQ(handler().activeUploads(), 0u);
    }
}

TEST_F(PelmarUploadingHandlerIntegrationTest, UnusablePathIsReportedWithoutARequest) {
    const struct {
        std::string path;
        long code;
    } cases[] = {
            {(sandbox_.root() / "missing.mp4").string(), kUploadErrorUnusablePath},
            {"file:///bad%zzescape.mp4", kUploadErrorUnusablePath},
            {"", kUploadErrorUnusablePath},
            {writeFile("empty.mp4", 0).string(), kUploadErrorEmptyFile},
            {foundation::fileURLFromPath(writeFile("empty.jpg", 0)), kUploadErrorEmptyFile},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        delegate_->clear();
        Closures closures;
        uploadAndWait(Media_Type::Video, c.path, closures);
        EXPECT_EQ(delegate_->names(),
                  (std::vector<std::string>{"preparingToUpload", "failedToUpload"}));
        EXPECT_THAT(closures.read().confirmError, test::IsError(kUploadErrorDomain, c.code));
    }
    EXPECT_TRUE(requestLines().empty());
    EXPECT_TRUE(emulator_.uploads().empty());
}

// Reads files with the rights of an unprivileged user on this thread (file access rights are
// per thread on Linux), so that a file without read permission is unreadable even for root.
class UnprivilegedFileAccess {
public:
    UnprivilegedFileAccess() : previous_(static_cast<uid_t>(::setfsuid(kNobody))) {}

    ~UnprivilegedFileAccess() { ::setfsuid(previous_); }

    UnprivilegedFileAccess(const UnprivilegedFileAccess&) = delete;
    UnprivilegedFileAccess& operator=(const UnprivilegedFileAccess&) = delete;

private:
    static constexpr uid_t kNobody = 65534;
    uid_t previous_;
};

TEST_F(PelmarUploadingHandlerIntegrationTest, UnreadableFileIsRefusedBeforeAResourceIsCreated) {
    // In a folder that the unprivileged user may search, so the file exists for it.
    const fs::path file = writeFile("locked.mp4", 1000);
    for (fs::path folder = file.parent_path(); folder != folder.root_path();
         folder = folder.parent_path()) {
        fs::permissions(folder, fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
    }
    fs::permissions(file, fs::perms::none);
    // A thread started while this thread's file rights are lowered keeps them for the rest of the
    // process, so the refusal road is walked once first, with a missing file, to start its threads.
    Closures warmUp;
    handler().upload(Media_Type::Video, (sandbox_.root() / "missing.mp4").string(), std::nullopt,
                     warmUp.callback(), warmUp.progress(), warmUp.confirm());
    runUntil([&] { return warmUp.done(); });
    delegate_->clear();
    Closures closures;
    {
        UnprivilegedFileAccess unprivileged;
        std::error_code ec;
        handler().upload(Media_Type::Video, file.string(), std::nullopt, closures.callback(),
                         closures.progress(), closures.confirm());
    }
    runUntil([&] { return closures.done(); });

    EXPECT_THAT(closures.read().confirmError,
                test::IsError(kUploadErrorDomain, kUploadErrorUnusablePath));
    EXPECT_EQ(delegate_->names(),
              (std::vector<std::string>{"preparingToUpload", "failedToUpload"}));
    EXPECT_TRUE(requestLines().empty());
}

// Without a session token held, the transfer waits for "/session"; a cancel in that time must end
// this upload's own transfer, not the shared session request that the transfer waits for.
TEST_F(PelmarUploadingHandlerIntegrationTest, CancelWhileTheSessionIsPendingEndsTheUploadItself) {
    emulator_.setRequireSession(false);
    emulator_.failSession(200, "{}", /*persistent=*/false);  // the create request's: no token
    test::ServiceEmulator::Fault pending;
    pending.method = "POST";
    pending.pathPattern = ".*/session";
    pending.hold = true;
    pending.status = 200;
    pending.body = "{}";
    emulator_.addFault(pending);  // the transfer's: held until released

    const fs::path first = writeFile("first.mp4", 64 * 1024);
    Closures one;
    handler().upload(Media_Type::Video, first.string(), std::nullopt, one.callback(),
                     one.progress(), one.confirm());
    runUntil([&] { return delegate_->count("uploadStarted") == 1 && emulator_.heldCount() == 1; });
    handler().cancelUpload(first.string(), /*deleteFile=*/false);
    runUntil([&] { return one.done(); });
    emulator_.clearFaults();
    emulator_.releaseHeld();

    // A second upload goes through the same one-at-a-time queue after the cancelled one.
    const fs::path second = writeFile("second.mp4", 1000);
    Closures two;
    handler().upload(Media_Type::Video, second.string(), std::nullopt, two.callback(),
                     two.progress(), two.confirm());
    runUntil([&] { return two.done(); });

    EXPECT_THAT(one.read().confirmError, test::IsError(kUploadErrorDomain, kUploadErrorCancelled));
    EXPECT_FALSE(two.read().confirmError);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].size, fs::file_size(second));
}

TEST_F(PelmarUploadingHandlerIntegrationTest,
       UploadCompletedStopsThatUploadsTickAndTellsTheDelegate) {
    const fs::path file = writeFile("clip.mp4", 32 * 1024);
    const std::string given = foundation::fileURLFromPath(file);
    hold("POST", Role::Storage, "/upload/.*");
    Closures closures;
    handler().upload(Media_Type::Video, given, std::nullopt, closures.callback(),
                     closures.progress(), closures.confirm());
    runUntil([&] { return emulator_.heldCount() == 1; });
    RunLoop::runUntilIdle();
    RunLoop::advance(1.0);
    ASSERT_EQ(delegate_->count("uploadProcessing"), 1u);
    delegate_->clear();

    const Error error{"test", 9, "refused"};
    handler().uploadCompleted(Media_Type::Video, given, "vid-x", "str-y", Json{{"token", "vid-x"}},
                              nullptr, error);
    RunLoop::runUntilIdle();
    RunLoop::advance(3.0);

    const auto events = delegate_->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "uploadVerified");
    EXPECT_EQ(events[0].path, given);
    EXPECT_EQ(events[0].token, "vid-x");
    EXPECT_EQ(events[0].streamToken, "str-y");
    EXPECT_THAT(events[0].error, test::IsError("test", 9, "refused"));
    EXPECT_EQ(events[0].json, (Json{{"token", "vid-x"}}));
    EXPECT_EQ(events[0].thread, ThreadKind::Main);
    EXPECT_EQ(events[1].name, "uploadProcessed");
    emulator_.releaseHeld();
    runUntil([&] { return closures.done(); });
}

TEST_F(PelmarUploadingHandlerIntegrationTest, CancelStopsTheRunningTransferAndDeletesOnRequest) {
    const fs::path file = writeFile("clip.mp4", 256 * 1024);
    hold("POST", Role::Storage, "/upload/.*");
    Closures closures;
    handler().upload(Media_Type::Video, file.string(), std::nullopt, closures.callback(),
                     closures.progress(), closures.confirm());
    runUntil([&] { return emulator_.heldCount() == 1; });
    RunLoop::runUntilIdle();

    handler().cancelUpload(std::nullopt, /*deleteFile=*/false);
    runUntil([&] { return closures.done(); });
    RunLoop::advance(3.0);

    EXPECT_THAT(closures.read().confirmError,
                test::IsError(kUploadErrorDomain, kUploadErrorCancelled));
    EXPECT_EQ(delegate_->count("failedToUpload"), 0u);
    EXPECT_EQ(delegate_->count("uploadProcessing"), 0u);
    EXPECT_TRUE(fs::exists(file));

    handler().cancelUpload("", /*deleteFile=*/true);
    EXPECT_TRUE(fs::exists(file));
    handler().cancelUpload(foundation::fileURLFromPath(file), /*deleteFile=*/true);
    EXPECT_FALSE(fs::exists(file));
    emulator_.releaseHeld();
    EXPECT_TRUE(emulator_.requestsTo(".*/confirm-video").empty());
}

// The ticks stop (as uploadCompleted and stopTimer stop them) while the create answer is on its
// way; the upload must still hold its transfer, so that a later cancel stops it before the file
// is stored.
TEST_F(PelmarUploadingHandlerIntegrationTest, ACancelReachesATransferWhoseTickStoppedFirst) {
    // More than the loopback socket buffers hold, so a cancelled transfer cannot have sent it all.
    const fs::path file = writeFile("clip.mp4", 16 * 1024 * 1024);
    hold("POST", Role::Api, ".*/videos-upload-url");
    hold("POST", Role::Storage, "/upload/.*");
    Closures closures;
    handler().upload(Media_Type::Video, file.string(), std::nullopt, closures.callback(),
                     closures.progress(), closures.confirm());
    runUntil([&] { return emulator_.heldCount() == 1; });
    handler().stopTimer();
    emulator_.releaseHeld();
    runUntil([&] { return emulator_.heldCount() == 1 && delegate_->count("uploadStarted") == 1; });

    handler().cancelUpload(file.string(), /*deleteFile=*/false);
    runUntil([&] { return closures.done(); });
    emulator_.releaseHeld();
    // The storage host has seen the client go (or stored the file) once its log has the request.
    runUntil([&] { return emulator_.requestsTo("/upload/.*").size() == 1; });

    EXPECT_THAT(closures.read().confirmError,
                test::IsError(kUploadErrorDomain, kUploadErrorCancelled));
    EXPECT_TRUE(emulator_.uploads().empty()) << "the whole file was stored";
    EXPECT_TRUE(emulator_.requestsTo(".*/confirm-video").empty());
}

TEST_F(PelmarUploadingHandlerIntegrationTest,
       CancelWithoutAPathStopsTheRunningTransferNotAWaitingOne) {
    const fs::path first = writeFile("first.mp4", 128 * 1024);
    const fs::path second = writeFile("second.mp4", 96 * 1024);  // told apart by its size
    hold("POST", Role::Storage, "/upload/.*");
    Closures one;
    Closures two;
    handler().upload(Media_Type::Video, first.string(), std::nullopt, one.callback(),
                     one.progress(), one.confirm());
    runUntil([&] { return emulator_.heldCount() == 1; });
    handler().upload(Media_Type::Video, second.string(), std::nullopt, two.callback(),
                     two.progress(), two.confirm());
    runUntil([&] { return delegate_->count("uploadStarted") == 2; });  // waits behind the first

    handler().cancelUpload(std::nullopt, /*deleteFile=*/false);
    runUntil([&] { return one.done() && two.done(); });
    emulator_.releaseHeld();

    EXPECT_THAT(one.read().confirmError, test::IsError(kUploadErrorDomain, kUploadErrorCancelled));
    EXPECT_FALSE(two.read().confirmError);
    // The cancelled transfer had sent its whole body before its answer was held, so the store may
    // or may not keep it depending on when it sees the client go; the waiting one went out once.
    const auto uploads = emulator_.uploads();
    EXPECT_EQ(std::count_if(
                      uploads.begin(), uploads.end(),
                      [&](const test::StoredUpload& u) { return u.size == fs::file_size(second); }),
              1);
}

TEST_F(PelmarUploadingHandlerIntegrationTest, UnsafeTokensAreRefusedBeforeAnyRequest) {
    for (const char* raw : {"", "..", "x/..", "a?b", "a b", "a#b"}) {
        const std::string token = raw;
        SCOPED_TRACE(token);
        std::vector<std::optional<Error>> errors;
        std::mutex mutex;
        auto note = [&](std::optional<Error> error) {
            std::lock_guard lock(mutex);
            errors.push_back(std::move(error));
        };
        handler().get(Media_Type::Video, token, std::nullopt,
                      [&](ContentModel, auto, std::optional<Error> e) { note(e); });
        handler().update(Media_Type::Audio, token, "", std::nullopt,
                         [&](auto, auto, std::optional<Error> e) { note(e); });
        handler().update(Media_Type::Video, "vid-1", token.empty() ? "." : token, std::nullopt,
                         [&](auto, auto, std::optional<Error> e) { note(e); });
        handler().deleteResource(Media_Type::Image, token, "",
                                 [&](auto, auto, std::optional<Error> e) { note(e); });
        handler().confirm(Media_Type::Video, "vid-1", token, std::nullopt,
                          [&](auto, auto, std::optional<Error> e) { note(e); });
        std::optional<std::string> downloaded;
        handler().download(Media_Type::Video, token, [&](std::string path) { downloaded = path; });
        runUntil([&] {
            std::lock_guard lock(mutex);
            return errors.size() == 5 && downloaded;
        });
        for (const auto& error : errors) {
            EXPECT_THAT(error, test::IsError(kUploadErrorDomain, kUploadErrorInvalidToken));
        }
        EXPECT_EQ(downloaded, "");
        EXPECT_EQ(handler().getPath(Media_Type::Video, token), "");
    }
    EXPECT_TRUE(emulator_.requests().empty());
}

TEST_F(PelmarUploadingHandlerIntegrationTest, UpdateAndDeleteAddressResourceOrStream) {
    const fs::path file = writeFile("a.aac", 1000);
    const auto audio = emulator_.seedResource(test::MediaKind::Audio, kApp, file);
    std::vector<std::string> done;
    handler().update(Media_Type::Audio, audio.token, "", Json{{"title", "new"}},
                     test::onMainQueue([&](std::optional<ContentModel> model, auto, auto) {
                         done.push_back("update " + model.value_or(ContentModel()).title.value());
                     }));
    runUntil([&] { return done.size() == 1; });
    handler().update(Media_Type::Audio, audio.token, audio.streamToken, std::nullopt,
                     test::onMainQueue([&](auto, auto, auto) { done.push_back("update stream"); }));
    runUntil([&] { return done.size() == 2; });
    handler().deleteResource(
            Media_Type::Audio, audio.token, audio.streamToken,
            test::onMainQueue([&](auto, auto, auto) { done.push_back("delete stream"); }));
    runUntil([&] { return done.size() == 3; });
    handler().deleteResource(
            Media_Type::Audio, audio.token, "",
            test::onMainQueue([&](auto, auto, auto) { done.push_back("delete"); }));
    runUntil([&] { return delegate_->count("deleted") == 2; });

    EXPECT_EQ(done.front(), "update new");
    const std::string base = kDevRoot + "/audios/" + audio.token;
    const std::string stream = base + "/streams/" + audio.streamToken;
    EXPECT_EQ(requestLines(),
              (std::vector<std::string>{"POST dev-api " + base, "POST dev-api " + stream,
                                        "DELETE dev-api " + stream, "DELETE dev-api " + base}));
    const auto events = delegate_->events();
    EXPECT_EQ(events[0].streamToken, audio.streamToken);
    EXPECT_EQ(events[1].streamToken, "");
    EXPECT_EQ(events[1].status, 200);
}

TEST_F(PelmarUploadingHandlerIntegrationTest, GetAndIndexBuildModelsFromTheirAnswers) {
    const auto image =
            emulator_.seedResource(test::MediaKind::Image, kApp, writeFile("i.jpg", 100));
    std::optional<ContentModel> got;
    handler().get(Media_Type::Image, image.token, std::nullopt,
                  test::onMainQueue([&](ContentModel model, auto, auto) { got = model; }));
    runUntil([&] { return got.has_value(); });
    EXPECT_EQ(got->token, image.token);

    fail("GET", Role::DevApi, ".*/images/.*", 200, R"({"other":{"token":"x"}})");
    got.reset();
    handler().get(Media_Type::Image, image.token, std::nullopt,
                  test::onMainQueue([&](ContentModel model, auto, auto) { got = model; }));
    runUntil([&] { return got.has_value(); });
    EXPECT_EQ(got->token, "");

    fail("GET", Role::DevApi, ".*/images", 200, R"([{"token":"a"},"text",{"token":"c"}])");
    std::optional<std::vector<ContentModel>> list;
    handler().index(Media_Type::Image, Json{{"ignored", "x"}},
                    test::onMainQueue([&](std::vector<ContentModel> items, auto) {
                        list = std::move(items);
                    }));
    runUntil([&] { return list.has_value(); });
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[0].token, "a");
    EXPECT_EQ((*list)[1].token, "");
    EXPECT_EQ((*list)[2].token, "c");
    EXPECT_FALSE(emulator_.requestsTo(".*/images").back().queryParam("ignored"));
}

TEST_F(PelmarUploadingHandlerIntegrationTest, IndexReportsARefusedOrMalformedListAsAnError) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        long code;
    };

    const Case cases[] = {
            {"server error", 500, R"([{"token":"a"}])", kUploadErrorHTTPStatus},
            {"forbidden", 403, R"({"error":"no"})", kUploadErrorHTTPStatus},
            {"html page", 200, "<html>maintenance</html>", kUploadErrorBadAnswer},
            {"malformed json", 200, R"([{"token":)", kUploadErrorBadAnswer},
            {"object", 200, R"({"videos":[]})", kUploadErrorBadAnswer},
            {"empty body", 200, "", kUploadErrorBadAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fail("GET", Role::Api, ".*/videos", c.status, c.body);
        std::optional<std::vector<ContentModel>> list;
        std::optional<Error> error;
        handler().index(
                Media_Type::Video, std::nullopt,
                test::onMainQueue([&](std::vector<ContentModel> items, std::optional<Error> e) {
                    error = std::move(e);
                    list = std::move(items);
                }));
        runUntil([&] { return list.has_value(); });
        EXPECT_TRUE(list->empty());
        EXPECT_THAT(error, test::IsError(kUploadErrorDomain, c.code));
    }

    std::optional<std::optional<Error>> empty;
    handler().index(Media_Type::Video, std::nullopt,
                    test::onMainQueue([&](auto, std::optional<Error> e) { empty = e; }));
    runUntil([&] { return empty.has_value(); });
    EXPECT_FALSE(*empty);  // a real empty list is no error
}

// The download files under the sandbox's temporary folder, with their sizes.
std::vector<uint64_t> partialDownloadSizes() {
    std::vector<uint64_t> sizes;
    std::error_code ec;
    for (const auto& entry :
         fs::directory_iterator(foundation::Sandbox::temporaryDirectory(), ec)) {
        if (entry.path().filename().string().starts_with("download-")) {
            sizes.push_back(entry.file_size(ec));
        }
    }
    return sizes;
}

std::string readBytes(const fs::path& file, uint64_t offset, uint64_t count) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

TEST_F(PelmarUploadingHandlerIntegrationTest, DownloadStreamsIntoTheCacheAndKeepsItOnFailure) {
    constexpr uint64_t kSize = 32ULL * 1024 * 1024;
    constexpr uint64_t kHeldAt = 8ULL * 1024 * 1024;
    const fs::path source = writeFile("big.mp4", kSize);
    const auto video = emulator_.seedResource(test::MediaKind::Video, kApp, source);
    const std::string cachePath =
            *facade_->cacheManager()->getCacheFilePath(Media_Type::Video, video.token);
    std::ofstream(cachePath) << "stale";

    // The answer stops after kHeldAt bytes: a download that keeps the answer in memory has
    // nothing on disk yet, one that streams has exactly those bytes there.
    test::ServiceEmulator::Fault partway;
    partway.method = "GET";
    partway.role = Role::CdnApi;
    partway.pathPattern = ".*/video.mp4";
    partway.holdResponseAfter = kHeldAt;
    emulator_.addFault(partway);

    std::optional<std::string> result;
    handler().download(Media_Type::Video, video.token, [&](std::string path) {
        EXPECT_TRUE(dispatch::isMainThread());
        result = path;
    });
    runUntil([&] { return partialDownloadSizes() == std::vector<uint64_t>{kHeldAt}; });
    EXPECT_FALSE(result);
    for (const auto& entry : fs::directory_iterator(foundation::Sandbox::temporaryDirectory())) {
        EXPECT_TRUE(readBytes(entry.path(), 0, kHeldAt) == readBytes(source, 0, kHeldAt))
                << "the partial file differs from the first bytes of the source";
    }
    EXPECT_EQ(readBytes(cachePath, 0, 100), "stale");

    emulator_.releaseHeld();
    runUntil([&] { return result.has_value(); });
    EXPECT_EQ(*result, cachePath);
    EXPECT_EQ(fs::file_size(cachePath), kSize);
    EXPECT_TRUE(readBytes(cachePath, kSize - 4096, 4096) == readBytes(source, kSize - 4096, 4096))
            << "the cached file ends differently from the source";
    EXPECT_TRUE(partialDownloadSizes().empty());

    fail("GET", Role::CdnApi, ".*/video.mp4", 500);
    result.reset();
    handler().download(Media_Type::Video, video.token, [&](std::string path) { result = path; });
    runUntil([&] { return result.has_value(); });
    EXPECT_EQ(*result, handler().getPath(Media_Type::Video, video.token));
    EXPECT_EQ(fs::file_size(cachePath), kSize);
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(cachePath).parent_path()),
                            fs::directory_iterator()),
              1);
}

}  // namespace
}  // namespace pelmar
