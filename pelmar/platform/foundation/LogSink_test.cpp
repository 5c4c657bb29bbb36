#include "pelmar/platform/foundation/LogSink.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::foundation {
namespace {

// Puts the default sink back after each test, whatever the test set.
class LogSinkTest : public ::testing::Test {
protected:
    void TearDown() override {
        LogSink::set(LogSink::standardStreams());
        LogSink::setLibraryLogging(false);
    }
};

struct Received {
    void add(LogChannel channel, std::string_view line) {
        MutexLock lock(mutex);
        lines.emplace_back(channel, std::string(line));
    }

    std::vector<std::pair<LogChannel, std::string>> all() {
        MutexLock lock(mutex);
        return lines;
    }

    Mutex mutex;
    std::vector<std::pair<LogChannel, std::string>> lines PELMAR_GUARDED_BY(mutex);
};

TEST_F(LogSinkTest, CallbackSinkReceivesEveryLineWithItsChannelAndNothingIsPrinted) {
    Received received;
    LogSink::set(LogSink::callback(
            [&](LogChannel channel, std::string_view line) { received.add(channel, line); }));
    Log::Capture log;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Console::print("connecting to rtmp server 127.0.0.1:1935");
    Log::write("RTMP client connected");
    LogSink::write(LogChannel::Library, "x264 [info]: profile Constrained Baseline");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(received.all(),
              (std::vector<std::pair<LogChannel, std::string>>{
                      {LogChannel::Output, "connecting to rtmp server 127.0.0.1:1935"},
                      {LogChannel::Diagnostic, "RTMP client connected"},
                      {LogChannel::Library, "x264 [info]: profile Constrained Baseline"}}));
    // Captures see their own channel whatever the sink is.
    EXPECT_EQ(log.lines(), std::vector<std::string>{"RTMP client connected"});
}

TEST_F(LogSinkTest, QuietSinkPrintsNothingAndTheDefaultComesBack) {
    struct Case {
        const char* name;
        LogSink sink;
        const char* out;
        const char* err;
    };

    const Case cases[] = {
            {"quiet", LogSink::quiet(), "", ""},
            {"empty callback", LogSink::callback(nullptr), "", ""},
            {"standard streams", LogSink::standardStreams(), "status\n", "failure\nlibrary\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogSink::set(c.sink);
        Console::Capture console;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        Console::print("status");
        Log::write("failure");
        LogSink::write(LogChannel::Library, "library");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(console.lines(), std::vector<std::string>{"status"});
    }
}

TEST_F(LogSinkTest, ACallbackMayLogAgainAndReplaceTheSink) {
    Received received;
    LogSink::set(LogSink::callback([&](LogChannel channel, std::string_view line) {
        received.add(channel, line);
        if (line == "first") {
            Log::write("from the callback");
            LogSink::set(LogSink::quiet());
        }
    }));
    Console::print("first");
    Console::print("after the sink went quiet");
    EXPECT_EQ(received.all(), (std::vector<std::pair<LogChannel, std::string>>{
                                      {LogChannel::Output, "first"},
                                      {LogChannel::Diagnostic, "from the callback"}}));
}

}  // namespace
}  // namespace pelmar::foundation
