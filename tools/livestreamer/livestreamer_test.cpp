// The livestreamer tool as a child process: its input checks, and publishing to nginx while
// writing the FLV file, both read back with ffprobe.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/BitstreamReader.h"
#include "pelmar/live/testing/H264Fixture.h"
#include "pelmar/live/testing/RefusingPort.h"
#include "testing/NginxRtmpServer.h"
#include "testing/RunProgram.h"
#include "testing/TempDir.h"

namespace {

using pelmar::test::NginxRtmpServer;

// Runs the tool with `args` (already quoted), stdin closed, its standard output and error
// captured apart.
pelmar::test::ProgramResult RunTool(const std::string& args) {
    return pelmar::test::RunProgramApart(LIVESTREAMER_PATH, args);
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
        std::string output;  // the progress and the failure, all on standard output
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
        EXPECT_EQ(result.errors, "");
    }
}

// The lines of `text` from the first that starts with `first` to the first after it that is
// `last`, each without its first `indent` characters.
std::string Excerpt(const std::string& text,
                    const std::string& first,
                    const std::string& last,
                    size_t indent) {
    std::string excerpt;
    bool in = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        in = in || line.rfind(first, 0) == 0;
        if (in) {
            excerpt += (line.size() > indent ? line.substr(indent) : "") + "\n";
            if (line == last) {
                break;
            }
        }
    }
    return excerpt;
}

TEST_F(LivestreamerIntegrationTest, HelpDescribesTheInputAndHowToMakeItAndTheRecipeWorks) {
    const auto help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.errors, "");
    for (const char* text : {"Usage: livestreamer inputFileName outputFileName.flv [rtmpUrl "
                             "[streamName]]",
                             "\"FRAM\"", "46 52 41 4D", "4-byte big-endian", "SPS and PPS",
                             "25 frames per second", "rtmp://127.0.0.1/myapp/test"}) {
        EXPECT_NE(help.output.find(text), std::string::npos) << text << "\n" << help.output;
    }

    // The recipe, as printed, makes an input the tool publishes whole.
    const std::string recipe = Excerpt(help.output, "  ffmpeg -i movie.mp4", "  END", 2);
    ASSERT_NE(recipe.find("python3"), std::string::npos) << help.output;
    pelmar::test::RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25 -t 2 "
                             + Quote(dir_.path() / "movie.mp4"));
    const auto script = dir_.path() / "recipe.sh";
    pelmar::test::WriteFileBytes(script, std::vector<uint8_t>(recipe.begin(), recipe.end()));
    pelmar::test::RunCommand("cd " + Quote(dir_.path()) + " && sh recipe.sh 2>&1");
    const auto out = dir_.path() / "out.flv";
    const auto result = RunTool(Quote(dir_.path() / "movie.fram") + " " + Quote(out) + " "
                                + server_->Url("live") + " recipe");
    ASSERT_EQ(result.status, 0) << result.output << result.errors;
    EXPECT_EQ(pelmar::test::ProbeVideoStream(out.string()), "h264,320,240");
    EXPECT_EQ(pelmar::test::ProbeVideoPackets(out.string()).size(), 50U);
    EXPECT_EQ(pelmar::test::RunCommand("ffmpeg -v error -i " + Quote(out) + " -f null - 2>&1"), "");
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
    ASSERT_EQ(result.status, 0) << result.output << result.errors << server_->Log();
    EXPECT_NE(result.output.find("publishing successfully started"), std::string::npos);
    EXPECT_NE(result.output.find("done\n"), std::string::npos);
    EXPECT_EQ(result.errors, "");
    // The server hangs up after the stream's end: an ordinary stop, not a receiver error.
    EXPECT_NE(result.output.find("closing rtmp connection\n"), std::string::npos);
    EXPECT_EQ(result.output.find("rtmp receiver error"), std::string::npos) << result.output;

    // The file opens with the onMetaData tag, which tells of the video alone: its real picture
    // size (from the SPS), the tool's frame rate and the H.264 codec id.
    const auto flv = pelmar::test::ReadFileBytes(out);
    ASSERT_GT(flv.size(), 13U + 11U);
    ASSERT_EQ(flv[13], 18) << "first tag is not script data";
    const size_t size = (size_t{flv[14]} << 16) | (size_t{flv[15]} << 8) | flv[16];
    ASSERT_LE(13 + 11 + size, flv.size());
    const std::vector<uint8_t> body(flv.begin() + 24,
                                    flv.begin() + 24 + static_cast<std::ptrdiff_t>(size));
    pelmar::live::BitstreamReader reader(body);
    EXPECT_EQ(pelmar::live::AMFValue::ReadValue(reader)->ToStringImpl(), "STRING: onMetaData");
    const auto values = pelmar::live::AMFValue::ReadValue(reader);
    const auto& metadata = dynamic_cast<const pelmar::live::AMFArray&>(*values);
    EXPECT_EQ(metadata.GetValue("width")->ToStringImpl(), "NUMBER: 320.000000");
    EXPECT_EQ(metadata.GetValue("height")->ToStringImpl(), "NUMBER: 240.000000");
    EXPECT_EQ(metadata.GetValue("framerate")->ToStringImpl(), "NUMBER: 25.000000");
    EXPECT_EQ(metadata.GetValue("videocodecid")->ToStringImpl(), "NUMBER: 7.000000");
    for (const char* audio : {"audiocodecid", "audiosamplerate", "audiodatarate", "stereo"}) {
        EXPECT_EQ(metadata.GetValue(audio), nullptr) << audio;
    }

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
    EXPECT_NE(result.output.find("can't start publishing\n"), std::string::npos) << result.output;
    EXPECT_EQ(result.errors, "");
    // The file keeps what was made before the failure: the FLV file header.
    EXPECT_EQ(std::filesystem::file_size(dir_.path() / "o.flv"), 13U);
}

}  // namespace
