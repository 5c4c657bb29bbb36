// The livestreamer tool as a child process: its input checks, and publishing to nginx while
// writing the FLV file, both read back with ffprobe.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "pelmar/live/testing/H264Fixture.h"
#include "pelmar/live/testing/RefusingPort.h"
#include "testing/NginxRtmpServer.h"
#include "testing/RunProgram.h"
#include "testing/TempDir.h"

namespace {

using pelmar::test::NginxRtmpServer;

// Runs the tool with `args` (already quoted), stdin closed, its output captured.
pelmar::test::ProgramResult RunTool(const std::string& args) {
    return pelmar::test::RunProgram(LIVESTREAMER_PATH, args);
}

std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

class LivestreamerIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new NginxRtmpServer();
        server_->Start();
    }

    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    static NginxRtmpServer* server_;
    pelmar::test::TempDir dir_;
};

NginxRtmpServer* LivestreamerIntegrationTest::server_ = nullptr;

// The input and the output file are checked before anything connects: these runs point at a
// port where nothing listens and still give the input's own error.
TEST_F(LivestreamerIntegrationTest, ChecksArgumentsInputAndOutputBeforeConnecting) {
    const pelmar::test::RefusingPort closed;
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(closed.port()) + "/live";
    pelmar::test::WriteFileBytes(dir_.path() / "three", {'F', 'R', 'A'});
    pelmar::test::WriteFileBytes(dir_.path() / "one.fram", {'F', 'R', 'A', 'M', 1});

    struct Case {
        const char* name;
        std::string args;
        std::string output;
    };

    const Case cases[] = {
            {"no arguments", "",
             "Usage: livestreamer inputFileName outputFileName.flv\n"
             "       livestreamer inputFileName outputFileName.flv [rtmpUrl [streamName]]\n"
             "After \"done\" it waits for a key (Enter) before it ends the stream.\n"},
            {"folder as input", Quote(dir_.path()) + " out.flv " + url,
             "can't read input file: " + dir_.path().string() + "\n"},
            {"http address", Quote(dir_.path() / "one.fram") + " out.flv http://127.0.0.1/live",
             "invalid URL: http://127.0.0.1/live\n"},
            {"no host", Quote(dir_.path() / "one.fram") + " out.flv rtmp:///live",
             "invalid URL: rtmp:///live\n"},
            {"missing input", Quote(dir_.path() / "none") + " out.flv " + url,
             "can't read input file: " + (dir_.path() / "none").string() + "\n"},
            {"three bytes", Quote(dir_.path() / "three") + " out.flv " + url,
             "input data size: 3\nno input data found\n"},
            {"output cannot be opened",
             Quote(dir_.path() / "one.fram") + " " + Quote(dir_.path() / "no" / "out.flv") + " "
                     + url,
             "input data size: 5\ncan't open output file: "
                     + (dir_.path() / "no" / "out.flv").string() + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = RunTool(c.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, c.output);
    }
}

TEST_F(LivestreamerIntegrationTest, PublishesEveryFrameWhileWritingTheSameStreamToAFile) {
    constexpr int kFrames = 50;
    const auto frames = pelmar::test::MakeH264AccessUnits(dir_.path(), kFrames);
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    // The input starts with a marker and ends without one: the last frame goes out too.
    pelmar::test::WriteFileBytes(dir_.path() / "in.fram", pelmar::test::FramFile(frames));
    const auto out = dir_.path() / "out.flv";
    const auto result = RunTool(Quote(dir_.path() / "in.fram") + " " + Quote(out) + " "
                                + server_->Url("live") + " tool");
    ASSERT_EQ(result.status, 0) << result.output << server_->Log();
    EXPECT_NE(result.output.find("publishing successfully started"), std::string::npos);
    EXPECT_NE(result.output.find("done\n"), std::string::npos);

    const auto recording = server_->recordDir() / "tool.flv";
    for (const auto& path : {out, recording}) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(pelmar::test::ProbeVideoStream(path.string()), "h264,320,240");
        const auto packets = pelmar::test::ProbeVideoPackets(path.string());
        ASSERT_EQ(packets.size(), static_cast<size_t>(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "%.6f,", i * 0.04);
            EXPECT_EQ(packets[i].substr(0, packets[i].find(',') + 1), expected) << i;
        }
        EXPECT_EQ(packets[0], "0.000000,K_");
        EXPECT_EQ(packets[1], "0.040000,__");
    }
}

TEST_F(LivestreamerIntegrationTest, RefusedApplicationEndsWithAnError) {
    const auto frames = pelmar::test::MakeH264AccessUnits(dir_.path(), 3);
    pelmar::test::WriteFileBytes(dir_.path() / "in.fram", pelmar::test::FramFile(frames));
    const auto result = RunTool(Quote(dir_.path() / "in.fram") + " " + Quote(dir_.path() / "o.flv")
                                + " " + server_->Url("nosuchapp") + " x");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("\ncan't start publishing\n"), std::string::npos) << result.output;
    // The file keeps what was made before the failure: the FLV file header.
    EXPECT_EQ(std::filesystem::file_size(dir_.path() / "o.flv"), 13U);
}

}  // namespace
