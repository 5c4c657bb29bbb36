#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/FLVMuxer.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/MediaFrame.h"
#include "pelmar/live/testing/H264Fixture.h"
#include "testing/TempDir.h"

namespace pelmar::live {
namespace {

// ffprobe reads back what the muxer wrote: the codec, the picture size, and one packet per frame
// at its time with the key flag on the first.
TEST(FLVMuxerIntegrationTest, WrittenFileReadsBackAsH264WithEveryFrameAt25FramesPerSecond) {
    test::TempDir dir;
    const auto frames = test::MakeH264AccessUnits(dir.path(), 30);
    ASSERT_EQ(frames.size(), 30U);
    std::vector<uint8_t> file;
    {
        FLVMuxer muxer(std::make_shared<MediaCallback<FLVFrame>>([&](FLVFrame frame) {
            file.insert(file.end(), frame.Data().begin(), frame.Data().end());
        }));
        muxer.AddTrack({MediaType::Video, MediaCodec::H264});
        for (size_t i = 0; i < frames.size(); ++i) {
            MediaFrame frame(MediaType::Video, MediaCodec::H264);
            frame.Data() = frames[i];
            frame.SetPTS(0.04 * static_cast<double>(i));
            frame.SetKeyFrame(i == 0);
            muxer.PutFrame(frame, 0);
        }
    }
    const auto path = dir.path() / "out.flv";
    test::WriteFileBytes(path, file);
    EXPECT_EQ(test::ProbeVideoStream(path.string()), "h264,320,240");
    const auto packets = test::ProbeVideoPackets(path.string());
    ASSERT_EQ(packets.size(), 30U);
    EXPECT_EQ(packets[0], "0.000000,K_");
    EXPECT_EQ(packets[1], "0.040000,__");
    EXPECT_EQ(packets[29], "1.160000,__");
}

}  // namespace
}  // namespace pelmar::live
