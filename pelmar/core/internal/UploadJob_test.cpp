#include "pelmar/core/internal/UploadJob.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/net/URLRequest.h"
#include "pelmar/platform/net/URLSession.h"

namespace pelmar::core::internal {
namespace {

class UploadJobTest : public dispatch::test::MainLoopFixture {
protected:
    static std::shared_ptr<UploadJob> makeJob() {
        return std::make_shared<UploadJob>(1, Media_Type::Video, "clip.mp4", "clip.mp4", nullptr,
                                           nullptr, nullptr);
    }

    // A transfer task that is never started.
    static UploadJob::Task makeTask() {
        return net::URLSession::shared()->dataTask(net::URLRequest("http://127.0.0.1:9/"));
    }
};

// What lands on a job after its create step checked for a cancel and before it holds the transfer
// task: the task must still be held (a later cancel reaches it) or cancelled at once.
TEST_F(UploadJobTest, WhatLandsBeforeTheTaskIsHeldLeavesItHeldOrCancelled) {
    const struct {
        const char* name;
        std::function<void(UploadJob&)> before;
        bool cancelAtOnce;
    } cases[] = {
            // What the engine's cancelUpload does.
            {"a cancel", [](UploadJob& job) { (void)job.markCancelled(), job.stopTick(); }, true},
            // What uploadCompleted and stopTimer do.
            {"a stopped tick", [](UploadJob& job) { job.stopTick(); }, false},
            {"nothing", [](UploadJob&) {}, false},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = makeJob();
        c.before(*job);
        const auto task = makeTask();
        EXPECT_EQ(job->holdTask(task), c.cancelAtOnce);
        if (!c.cancelAtOnce) {
            EXPECT_EQ(job->markCancelled(), task) << "a later cancel finds the task";
        }
        EXPECT_TRUE(job->transferEnded());
        EXPECT_TRUE(job->end());
        EXPECT_FALSE(job->end());
        dispatch::RunLoop::runUntilIdle();
    }
}

// A job that has ended keeps no task: whoever made one cancels it.
TEST_F(UploadJobTest, AnEndedJobRefusesTheTask) {
    const auto job = makeJob();
    EXPECT_TRUE(job->end());
    const auto task = makeTask();
    EXPECT_TRUE(job->holdTask(task));
    EXPECT_EQ(job->markCancelled(), nullptr);
    dispatch::RunLoop::runUntilIdle();
}

}  // namespace
}  // namespace pelmar::core::internal
