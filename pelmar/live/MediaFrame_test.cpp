#include "pelmar/live/MediaFrame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pelmar/live/RTMPChunk.h"
#include "pelmar/live/RTMPPacket.h"

namespace pelmar::live {
namespace {

using ::testing::ElementsAre;

TEST(MediaFrameTest, CopiesShareDataTimeAndKeyFlag) {
    MediaFrame frame(MediaType::Video, MediaCodec::H264);
    EXPECT_EQ(frame.Descriptor(), (MediaDescriptor{MediaType::Video, MediaCodec::H264}));
    EXPECT_TRUE(frame.Data().empty());
    EXPECT_EQ(frame.PTS(), 0.0);
    EXPECT_FALSE(frame.KeyFrame());

    MediaFrame copy = frame;
    frame.Data().push_back(7);
    copy.SetPTS(1.5);
    copy.SetKeyFrame(true);
    EXPECT_THAT(copy.Data(), ElementsAre(7));
    EXPECT_EQ(frame.PTS(), 1.5);
    EXPECT_TRUE(frame.KeyFrame());
}

TEST(MediaFrameTest, WriterStartsAtByteZeroAndReaderSeesItsBytes) {
    MediaFrame frame(MediaType::Audio, MediaCodec::AAC);
    frame.Data() = {1, 2, 3};
    {
        auto writer = frame.GetDataWriter();
        writer.PutByte(9);
        writer.SeekToEnd();
        writer.PutByte(4);
    }
    auto reader = frame.GetDataReader();
    EXPECT_EQ(reader.GetBits(32), 0x09020304u);
}

TEST(MediaFrameTest, SubclassesCopyHandleFieldsAndShareTheRest) {
    RTMPChunk chunk;
    chunk.SetHeaderFormat(RTMPChunkHeaderSize::Size4);
    RTMPChunk chunkCopy = chunk;
    chunkCopy.SetHeaderFormat(RTMPChunkHeaderSize::Size1);
    chunkCopy.Data().push_back(1);
    EXPECT_EQ(chunk.HeaderFormat(), RTMPChunkHeaderSize::Size4);
    EXPECT_EQ(chunk.Data().size(), 1u);

    RTMPPacket packet(MediaType::None, MediaCodec::None, RTMPChannel::Command,
                      RTMPPacketType::Command, 1);
    RTMPPacket packetCopy = packet;
    packetCopy.Header().timestamp = 40;
    EXPECT_EQ(packet.Header().timestamp, 40u);

    // Passed on as a plain frame, a packet keeps its shared data.
    MediaFrame plain = packet;
    plain.Data().push_back(2);
    EXPECT_THAT(packetCopy.Data(), ElementsAre(2));
}

}  // namespace
}  // namespace pelmar::live
