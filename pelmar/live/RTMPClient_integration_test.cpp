// RTMPClient against a real nginx RTMP server on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/live/FLVMuxer.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/RTMPClient.h"
#include "pelmar/live/testing/H264Fixture.h"
#include "testing/Matchers.h"
#include "testing/NginxRtmpServer.h"
#include "testing/TempDir.h"

namespace pelmar::live {
namespace {

using namespace std::chrono_literals;
using test::NginxRtmpServer;

// What a client reports, waited for without sleeping.
class Events {
public:
    RTMPClient::Callbacks Callbacks() {
        return {[this](std::string e) {
                    std::lock_guard lock(mutex_);
                    errors_.push_back(std::move(e));
                    changed_.notify_all();
                },
                [this] {
                    std::lock_guard lock(mutex_);
                    ++starts_;
                },
                [this] {
                    std::lock_guard lock(mutex_);
                    ++stops_;
                }};
    }

    // Waits up to `timeout` for an error; all errors so far.
    std::vector<std::string> WaitForError(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [this] { return !errors_.empty(); });
        return errors_;
    }

    int starts() {
        std::lock_guard lock(mutex_);
        return starts_;
    }

    int stops() {
        std::lock_guard lock(mutex_);
        return stops_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> errors_;
    int starts_ = 0;
    int stops_ = 0;
};

// A client fed by an FLV muxer with one H.264 track.
struct Publisher {
    Publisher(const std::string& url, const std::string& name, Events& events)
        : client(std::make_shared<RTMPClient>(url, name, events.Callbacks())),
          muxer(std::make_shared<MediaCallback<FLVFrame>>(
                  [this](FLVFrame frame) { client->PutFrame(frame); })) {
        muxer.AddTrack({MediaType::Video, MediaCodec::H264});
    }

    void Put(const std::vector<uint8_t>& data, int index) {
        MediaFrame frame(MediaType::Video, MediaCodec::H264);
        frame.Data() = data;
        frame.SetKeyFrame(index == 0);
        frame.SetPTS(0.04 * index);
        muxer.PutFrame(frame, 0);
    }

    std::shared_ptr<RTMPClient> client;
    FLVMuxer muxer;
};

class RTMPClientIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new NginxRtmpServer();
        server_->Start();
        fixtureDir_ = new test::TempDir();
        frames_ = new std::vector<std::vector<uint8_t>>(
                test::MakeH264AccessUnits(fixtureDir_->path(), 25));
    }

    static void TearDownTestSuite() {
        delete frames_;
        delete fixtureDir_;
        delete server_;
    }

    static const std::vector<std::vector<uint8_t>>& Frames() { return *frames_; }

    static NginxRtmpServer* server_;
    static test::TempDir* fixtureDir_;
    static std::vector<std::vector<uint8_t>>* frames_;
};

NginxRtmpServer* RTMPClientIntegrationTest::server_ = nullptr;
test::TempDir* RTMPClientIntegrationTest::fixtureDir_ = nullptr;
std::vector<std::vector<uint8_t>>* RTMPClientIntegrationTest::frames_ = nullptr;

TEST_F(RTMPClientIntegrationTest, SecondPublisherOfTheSameNameGetsTheServerError) {
    Events firstEvents;
    Publisher first(server_->Url(), "twice", firstEvents);
    first.Put(Frames()[0], 0);  // publishing has started once this returns

    Events secondEvents;
    Publisher second(server_->Url(), "twice", secondEvents);
    try {
        second.Put(Frames()[0], 0);
        ADD_FAILURE() << "second publisher accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "can't start publishing");
    }
    const auto errors = secondEvents.WaitForError(0ms);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("NetStream.Publish.BadName"), std::string::npos) << errors[0];
    EXPECT_EQ(secondEvents.starts(), 0);
    EXPECT_TRUE(firstEvents.WaitForError(0ms).empty());
}

// nginx pings a quiet publisher every 2 s and drops it 1 s after an unanswered ping.
TEST_F(RTMPClientIntegrationTest, StaysConnectedThroughServerPingsWhileIdle) {
    Events events;
    {
        Publisher publisher(server_->Url(), "idle", events);
        publisher.Put(Frames()[0], 0);
        EXPECT_TRUE(events.WaitForError(5s).empty());
        for (size_t i = 1; i < Frames().size(); ++i) {
            publisher.Put(Frames()[i], static_cast<int>(i));
        }
        publisher.client->Close();
    }
    EXPECT_TRUE(events.WaitForError(0ms).empty());
    EXPECT_EQ(events.starts(), 1);
    EXPECT_EQ(events.stops(), 1);
    const auto packets = test::ProbeVideoPackets((server_->recordDir() / "idle.flv").string());
    EXPECT_EQ(packets.size(), Frames().size());
}

TEST_F(RTMPClientIntegrationTest, ServerKilledMidStreamIsReportedOnceAndStopsCleanly) {
    NginxRtmpServer doomed;
    doomed.Start();
    Events events;
    Publisher publisher(doomed.Url(), "killed", events);
    publisher.Put(Frames()[0], 0);
    publisher.Put(Frames()[1], 1);
    doomed.Kill();
    // Whichever notices first tells of it: a send that fails, or the receiver. Later frames are
    // dropped without a word.
    std::vector<std::string> reports;
    for (int i = 2; i < 2000; ++i) {
        try {
            publisher.Put(Frames()[1 + static_cast<size_t>(i) % (Frames().size() - 1)], i);
        } catch (const std::runtime_error& e) {
            reports.emplace_back(e.what());
        }
        if (i == 1000 && reports.empty()) {
            // Sends into a dead connection fail at once; the receiver must have told it by now.
            const auto errors = events.WaitForError(20s);
            reports.insert(reports.end(), errors.begin(), errors.end());
        }
    }
    const auto errors = events.WaitForError(0ms);
    if (reports.size() == 1 && reports[0] == "network send data failed") {
        EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
    } else {
        EXPECT_EQ(reports, std::vector<std::string>{"netowrk recv data failed"});
    }
    publisher.client->Close();
    EXPECT_EQ(events.stops(), 1);
}

TEST_F(RTMPClientIntegrationTest, RefusedApplicationEndsTheWaitAtOnce) {
    Events events;
    Publisher publisher(server_->Url("nosuchapp"), "x", events);
    EXPECT_THAT([&] { publisher.Put(Frames()[0], 0); },
                test::ThrowsWithText("can't start publishing"));
    const auto errors = events.WaitForError(0ms);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], "netowrk recv data failed");
}

}  // namespace
}  // namespace pelmar::live
