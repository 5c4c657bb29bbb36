#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/internal/MultipartBody.h"
#include "pelmar/core/testing/ConnectFixture.h"
#include "pelmar/platform/app/UserNotificationCenter.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Matchers.h"
#include "testing/ServiceEmulator.h"

// The client's uploads: the multipart body and its progress, one upload at a time, cancelling,
// failed transfers and uploads that cannot start, the background notice, and requests still in
// flight when the facade ends.

namespace pelmar {
namespace {

using test::DataProbe;
using test::kPatience;
using test::PelmarConnectIntegrationTest;
using test::UploadProbe;

TEST_F(PelmarConnectIntegrationTest, UploadStreamsTheExactMultipartBodyWithProgress) {
    openSession();
    auto [url, fields] = createVideo();
    const size_t fileSize = 3 * 1024 * 1024 + 17;
    const auto file = writeFile("clip.mp4", fileSize);
    int64_t fieldBytes = 0;
    for (const auto& [key, value] : fields.items()) {
        fieldBytes += 87 + static_cast<int64_t>(key.size())
                      + static_cast<int64_t>(value.is_string() ? value.get<std::string>().size()
                                                               : value.dump().size());
    }
    const int64_t bodySize = 181 + fieldBytes + static_cast<int64_t>(fileSize);

    UploadProbe probe;
    auto task = upload(url, fields, file, probe);
    ASSERT_TRUE(task);
    const auto outcome = probe.done.outcome();

    ASSERT_FALSE(outcome.error) << *outcome.error;
    EXPECT_FALSE(outcome.onMainThread);
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode(), 201);
    ASSERT_TRUE(outcome.data);
    const Json answer = Json::parse(*outcome.data);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].size, fileSize);
    EXPECT_EQ(answer["sha256"], stored[0].sha256);
    EXPECT_EQ(stored[0].fileName, "file.mp4");
    EXPECT_EQ(stored[0].contentType, "video/mp4");

    const auto storage = storageRequests();
    ASSERT_EQ(storage.size(), 1u);
    EXPECT_EQ(storage[0].header("Content-Length"), std::to_string(bodySize));
    EXPECT_EQ(storage[0].header("Content-Type"), core::internal::MultipartBody::contentType());
    EXPECT_EQ(storage[0].header("Expect"), std::nullopt);
    ASSERT_TRUE(storage[0].multipart);
    EXPECT_EQ(storage[0].multipart->fileSize, fileSize);
    // The file part's header as it went over the wire: no empty parameter after the file name,
    // which strict form parsers refuse (dropping the file while the host still answers success).
    const test::FieldList fileHeaders = {
            {"Content-Disposition", "form-data; name=\"file\"; filename=\"file.mp4\""},
            {"Content-Type", "video/mp4"}};
    EXPECT_EQ(storage[0].multipart->fileHeaders, fileHeaders);

    pelmar::MutexLock lock(probe.mutex);
    ASSERT_FALSE(probe.progress.empty());
    int64_t previous = 0;
    for (const auto& [sent, expected] : probe.progress) {
        EXPECT_GT(sent, previous);
        EXPECT_EQ(expected, bodySize);
        previous = sent;
    }
    EXPECT_EQ(probe.progress.back().first, bodySize);
    EXPECT_EQ(task->countOfBytesSent(), bodySize);
}

TEST_F(PelmarConnectIntegrationTest, UploadsRunOneAtATimeInRequestOrder) {
    openSession();
    constexpr int kUploads = 4;
    std::vector<std::pair<std::string, Json>> created;
    for (int i = 0; i < kUploads; ++i) {
        created.push_back(createVideo());
    }
    pelmar::Mutex mutex;
    std::vector<std::pair<int, std::string>> events;  // filled by the callbacks, each holding mutex
    std::vector<std::unique_ptr<UploadProbe>> probes;
    for (int i = 0; i < kUploads; ++i) {
        probes.push_back(std::make_unique<UploadProbe>());
        upload(created[i].first, created[i].second,
               writeFile("clip" + std::to_string(i) + ".mp4", 1024 * 1024 + i), *probes[i],
               [&, i](const std::string& what) {
                   pelmar::MutexLock lock(mutex);
                   events.emplace_back(i, what);
               });
    }
    for (auto& probe : probes) {
        EXPECT_FALSE(probe->done.outcome().error);
    }

    EXPECT_EQ(emulator_.maxConcurrentUploads(), 1u);
    pelmar::MutexLock lock(mutex);
    int current = 0;
    for (const auto& [index, what] : events) {
        // Nothing of upload i+1 happens before upload i is done.
        ASSERT_EQ(index, current) << what;
        if (what == "done") {
            ++current;
        }
    }
    EXPECT_EQ(current, kUploads);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), static_cast<size_t>(kUploads));
    for (int i = 0; i < kUploads; ++i) {
        EXPECT_EQ(stored[i].size, 1024u * 1024 + i);
        EXPECT_NE(created[i].first.find(stored[i].uploadId), std::string::npos);
    }
}

TEST_F(PelmarConnectIntegrationTest, CancelEndsRunningAndWaitingUploadsAndTheNextOneRuns) {
    openSession();
    test::ServiceEmulator::Fault hold;
    hold.role = test::Role::Storage;
    hold.pathPattern = "/upload/.*";
    hold.hold = true;
    emulator_.addFault(hold);
    auto first = createVideo();
    auto second = createVideo();
    auto third = createVideo();
    UploadProbe running;
    UploadProbe waiting;
    UploadProbe last;
    auto runningTask = upload(first.first, first.second, writeFile("a.mp4", 4000), running);
    auto waitingTask = upload(second.first, second.second, writeFile("b.mp4", 4000), waiting);
    upload(third.first, third.second, writeFile("c.mp4", 4000), last);
    ASSERT_TRUE(emulator_.waitForHeld(1, kPatience));
    EXPECT_EQ(PelmarConnect::uploadsInFlight(), 3);

    std::thread([&] { waitingTask->cancel(); }).join();
    const auto cancelledWaiting = waiting.done.outcome();
    EXPECT_THAT(cancelledWaiting.error,
                test::IsError(net::kURLErrorDomain, net::kURLErrorCancelled));

    runningTask->cancel();
    const auto cancelledRunning = running.done.outcome();
    EXPECT_THAT(cancelledRunning.error,
                test::IsError(net::kURLErrorDomain, net::kURLErrorCancelled));

    const auto finished = last.done.outcome();
    ASSERT_FALSE(finished.error) << *finished.error;
    EXPECT_EQ(finished.response->statusCode(), 201);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(third.first.find(stored[0].uploadId), std::string::npos);
    pelmar::MutexLock lock(waiting.mutex);
    EXPECT_TRUE(waiting.progress.empty());
}

TEST_F(PelmarConnectIntegrationTest, FailedTransfersAreReportedAsTheyAreAndFreeTheQueue) {
    openSession();

    struct Case {
        const char* name;
        test::ServiceEmulator::Fault fault;
        std::optional<long> errorCode;
        long status;
    };

    test::ServiceEmulator::Fault cut;
    cut.role = test::Role::Storage;
    cut.cutRequestAfter = 200000;
    test::ServiceEmulator::Fault failure;
    failure.role = test::Role::Storage;
    failure.status = 500;
    failure.body = "{\"error\":\"storage down\"}";
    const Case cases[] = {
            {"connection cut mid-body", cut, net::kURLErrorNetworkConnectionLost, 0},
            {"500 from storage", failure, std::nullopt, 500},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        c.fault.pathPattern = "/upload/.*";
        emulator_.addFault(c.fault);
        auto failing = createVideo();
        auto following = createVideo();
        const size_t storedBefore = emulator_.uploads().size();
        UploadProbe failed;
        UploadProbe next;
        upload(failing.first, failing.second, writeFile("big.mp4", 2 * 1024 * 1024), failed);
        upload(following.first, following.second, writeFile("small.mp4", 1000), next);

        const auto outcome = failed.done.outcome();
        if (c.errorCode) {
            EXPECT_THAT(outcome.error, test::IsError(net::kURLErrorDomain, *c.errorCode));
        } else {
            EXPECT_FALSE(outcome.error);
            ASSERT_TRUE(outcome.response);
            EXPECT_EQ(outcome.response->statusCode(), c.status);
            EXPECT_EQ(outcome.data, failure.body);
        }
        const auto after = next.done.outcome();
        EXPECT_FALSE(after.error);
        // Only the following upload was stored; nothing of the failed one.
        const auto stored = emulator_.uploads();
        ASSERT_EQ(stored.size(), storedBefore + 1);
        EXPECT_EQ(stored.back().size, 1000u);
        EXPECT_NE(following.first.find(stored.back().uploadId), std::string::npos);
        EXPECT_EQ(PelmarConnect::uploadsInFlight(), 0);
        emulator_.clearFaults();
    }
}

TEST_F(PelmarConnectIntegrationTest, UploadsThatCannotStartFailWithAnErrorAndFreeTheQueue) {
    openSession();
    auto [url, fields] = createVideo();
    const auto file = writeFile("clip.mp4", 1000);
    Json unsafe = fields;
    unsafe["bad\"name"] = "x";

    struct Case {
        const char* name;
        std::string url;
        Json fields;
        std::filesystem::path file;
        std::string domain;
        long code;
    };

    const Case cases[] = {
            {"missing source", url, fields, sandbox_.root() / "gone.mp4",
             std::string(net::kURLErrorDomain), net::kURLErrorFileDoesNotExist},
            {"unparsable URL", emulator_.storageBase() + "/up load", fields, file,
             std::string(net::kURLErrorDomain), net::kURLErrorBadURL},
            {"unsafe field name", url, unsafe, file,
             std::string(core::internal::kMultipartErrorDomain),
             core::internal::kMultipartErrorUnsafeField},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UploadProbe failed;
        upload(c.url, c.fields, c.file, failed);
        const auto outcome = failed.done.outcome();
        EXPECT_THAT(outcome.error, test::IsError(c.domain, c.code));
        EXPECT_EQ(PelmarConnect::uploadsInFlight(), 0);
    }
    EXPECT_TRUE(emulator_.uploads().empty());
    UploadProbe good;
    upload(url, fields, file, good);
    EXPECT_FALSE(good.done.outcome().error);
    EXPECT_EQ(emulator_.uploads().size(), 1u);
}

TEST_F(PelmarConnectIntegrationTest, BackgroundNoticeOnlyWhileUploadsRunAndWakeupInventsNothing) {
    auto clock = std::make_shared<dispatch::ManualClock>();
    dispatch::setClock(clock);
    auto& notifications = app::UserNotificationCenter::current();
    notifications.removeAllPendingNotificationRequests();

    connect_->applicationDidEnterBackground();
    EXPECT_TRUE(notifications.pendingNotificationRequests().empty());

    openSession();
    test::ServiceEmulator::Fault hold;
    hold.role = test::Role::Storage;
    hold.pathPattern = "/upload/.*";
    hold.hold = true;
    emulator_.addFault(hold);
    auto [url, fields] = createVideo();
    UploadProbe held;
    upload(url, fields, writeFile("clip.mp4", 3000), held);
    ASSERT_TRUE(emulator_.waitForHeld(1, kPatience));

    connect_->applicationDidEnterBackground();
    const auto pending = notifications.pendingNotificationRequests();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].content.title, "App Needs To Run in Foreground");
    EXPECT_EQ(pending[0].content.body,
              "Please switch back to this app to continue the video upload");
    EXPECT_FALSE(pending[0].content.sound);
    EXPECT_FALSE(pending[0].content.badge);
    EXPECT_EQ(pending[0].content.userInfo, Json::object());
    ASSERT_TRUE(pending[0].trigger);
    EXPECT_FALSE(pending[0].trigger->repeats);
    EXPECT_EQ(pending[0].trigger->dateMatching, app::DateComponents::local(clock->wallNow() + 10));
    EXPECT_EQ(pending[0].identifier.size(), 36u);

    connect_->appWakeupSignalTaskComplete("uploadingSession");
    connect_->appWakeupSignalTaskComplete("/videos/v/streams/s/video_submit");
    EXPECT_FALSE(held.done.answer.arrives(std::chrono::seconds(0)));
    emulator_.releaseHeld();
    const auto outcome = held.done.outcome();
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode(), 201);

    notifications.removeAllPendingNotificationRequests();
    dispatch::setClock(nullptr);
}

TEST_F(PelmarConnectIntegrationTest, RequestsInFlightWhenTheFacadeEndsStillCallBack) {
    test::ServiceEmulator::Fault hold;
    hold.method = "POST";
    hold.pathPattern = ".*/session";
    hold.hold = true;
    emulator_.addFault(hold);
    DataProbe probe;
    connect_->getWithPath("/videos", std::nullopt, probe.callback());
    ASSERT_TRUE(emulator_.waitForHeld(1, kPatience));
    connect_.reset();
    facade_.reset();
    emulator_.releaseHeld();

    const auto outcome = probe.outcome();
    EXPECT_THAT(outcome.error, test::IsError(net::kURLErrorDomain, net::kURLErrorCancelled));
}

}  // namespace
}  // namespace pelmar
