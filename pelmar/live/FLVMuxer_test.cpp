#include "pelmar/live/FLVMuxer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelmar/live/AACDataFormatter.h"
#include "pelmar/live/AMF0.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/live/testing/H264Fixture.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using test::Concat;
using test::Hex;
using test::ToHex;

// 320 x 240 baseline SPS and its PPS, as x264 writes them.
const std::vector<uint8_t> kSps =
        Hex("67 42 c0 0d d9 01 41 fb 01 10 00 00 03 00 10 00 00 03 03 20 f1 42 a4 80");
const std::vector<uint8_t> kPps = Hex("68 cb 83 cb 20");
const std::vector<uint8_t> kIdr = Hex("65 88 84 0a f2 62");
const std::vector<uint8_t> kSlice = Hex("41 9a 02 04");

std::vector<uint8_t> Avcc(std::initializer_list<std::vector<uint8_t>> units) {
    std::vector<uint8_t> out;
    for (const auto& unit : units) {
        const auto n = static_cast<uint32_t>(unit.size());
        out.insert(out.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

MediaFrame Frame(MediaType type, std::vector<uint8_t> data, double pts, bool key) {
    MediaFrame frame(type, type == MediaType::Video ? MediaCodec::H264 : MediaCodec::AAC);
    frame.Data() = std::move(data);
    frame.SetPTS(pts);
    frame.SetKeyFrame(key);
    return frame;
}

// The tag body: without the 11-byte header and the 4-byte trailer.
std::vector<uint8_t> Body(const FLVFrame& tag) {
    return std::vector<uint8_t>(tag.Data().begin() + 11, tag.Data().end() - 4);
}

class FLVMuxerTest : public ::testing::Test {
protected:
    FLVMuxerTest()
        : muxer_(std::make_shared<MediaCallback<FLVFrame>>(
                [this](FLVFrame frame) { out_.push_back(frame); })) {}

    FLVMuxer muxer_;
    std::vector<FLVFrame> out_;
};

TEST_F(FLVMuxerTest, FirstFrameSendsHeaderAndMetadataForTheTracksPresent) {
    struct Case {
        const char* name;
        bool video;
        bool audio;
        const char* flags;
        std::vector<std::string> keys;
    };

    const Case cases[] = {
            {"both",
             true,
             true,
             "05",
             {"audiocodecid", "audiodatarate", "audiosamplerate", "audiosamplesize", "duration",
              "encoder", "filesize", "framerate", "height", "stereo", "videocodecid",
              "videodatarate", "width"}},
            {"video",
             true,
             false,
             "01",
             {"duration", "encoder", "filesize", "framerate", "height", "videocodecid",
              "videodatarate", "width"}},
            {"audio",
             false,
             true,
             "04",
             {"audiocodecid", "audiodatarate", "audiosamplerate", "audiosamplesize", "duration",
              "encoder", "filesize", "stereo"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FLVFrame> out;
        FLVMuxer muxer(std::make_shared<MediaCallback<FLVFrame>>(
                [&](FLVFrame frame) { out.push_back(frame); }));
        if (c.video) {
            muxer.AddTrack({MediaType::Video, MediaCodec::H264});
        }
        if (c.audio) {
            muxer.AddTrack({MediaType::Audio, MediaCodec::AAC});
        }
        // The header waits for the first frame of every track.
        if (c.video) {
            muxer.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 0, true), 0);
        }
        if (c.audio) {
            muxer.PutFrame(Frame(MediaType::Audio, Hex("12 10"), 0, true), c.video ? 1 : 0);
        }
        ASSERT_GE(out.size(), 2U);
        EXPECT_EQ(out[0].TagType(), kFLVTagFileHeader);
        EXPECT_EQ(ToHex(out[0].Data()),
                  "46 4C 56 01 " + std::string(c.flags) + " 00 00 00 09 00 00 00 00");

        ASSERT_EQ(out[1].TagType(), kFLVTagScriptData);
        const auto body = Body(out[1]);
        BitstreamReader reader(body);
        const auto name = AMFValue::ReadValue(reader);
        EXPECT_EQ(name->ToStringImpl(), "STRING: onMetaData");
        const auto array = std::dynamic_pointer_cast<AMFArray>(AMFValue::ReadValue(reader));
        ASSERT_TRUE(array);
        std::vector<std::string> keys;
        for (const auto& [key, value] : array->Values()) {
            keys.push_back(key);
        }
        EXPECT_EQ(keys, c.keys);
        // On the wire the members stand in the same ascending order.
        const std::string text(body.begin(), body.end());
        for (size_t i = 1; i < keys.size(); ++i) {
            EXPECT_LT(text.find(keys[i - 1]), text.find(keys[i])) << keys[i];
        }
    }
}

TEST_F(FLVMuxerTest, MetadataCarriesThePictureSizeOfTheFirstSpsAndGivenValues) {
    muxer_.AddTrack({MediaType::Video, MediaCodec::H264});
    FLVMetadata metadata;
    metadata.frameRate = 25;
    muxer_.SetMetadata(metadata);
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 0, true), 0);
    const auto body = Body(out_.at(1));
    BitstreamReader reader(body);
    AMFValue::ReadValue(reader);
    const auto array = std::dynamic_pointer_cast<AMFArray>(AMFValue::ReadValue(reader));
    ASSERT_TRUE(array);
    EXPECT_EQ(array->GetValue("width")->ToStringImpl(), "NUMBER: 320.000000");
    EXPECT_EQ(array->GetValue("height")->ToStringImpl(), "NUMBER: 240.000000");
    EXPECT_EQ(array->GetValue("framerate")->ToStringImpl(), "NUMBER: 25.000000");
    EXPECT_EQ(array->GetValue("videodatarate")->ToStringImpl(), "NUMBER: 3000.000000");
}

// The onMetaData array of a muxer's output.
std::shared_ptr<AMFArray> Metadata(const std::vector<FLVFrame>& out) {
    for (const auto& frame : out) {
        if (frame.TagType() == kFLVTagScriptData) {
            const auto body = Body(frame);
            BitstreamReader reader(body);
            AMFValue::ReadValue(reader);
            return std::dynamic_pointer_cast<AMFArray>(AMFValue::ReadValue(reader));
        }
    }
    return nullptr;
}

TEST_F(FLVMuxerTest, MetadataDescribesEveryTrackWhicheverStartsFirst) {
    struct Case {
        const char* name;
        bool audioFirst;
        const char* asc;
        const char* sampleRate;
        const char* stereo;
    };

    const Case cases[] = {
            {"audio first, 48 kHz mono", true, "11 88", "NUMBER: 48000.000000", "BOOL: false"},
            {"video first, 22.05 kHz stereo", false, "13 90", "NUMBER: 22050.000000", "BOOL: true"},
            {"explicit 37.8 kHz mono", true, "17 80 49 D4 08", "NUMBER: 37800.000000",
             "BOOL: false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FLVFrame> out;
        FLVMuxer muxer(std::make_shared<MediaCallback<FLVFrame>>(
                [&](FLVFrame frame) { out.push_back(frame); }));
        const unsigned video = muxer.AddTrack({MediaType::Video, MediaCodec::H264});
        const unsigned audio = muxer.AddTrack({MediaType::Audio, MediaCodec::AAC});
        const auto videoFrame = Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 0.02, true);
        const auto audioFrame = Frame(MediaType::Audio, Hex(c.asc), 0, true);
        muxer.PutFrame(c.audioFirst ? audioFrame : videoFrame, c.audioFirst ? audio : video);
        EXPECT_TRUE(out.empty());
        muxer.PutFrame(c.audioFirst ? videoFrame : audioFrame, c.audioFirst ? video : audio);
        ASSERT_EQ(out.size(), 5U);  // header, metadata, and the held frames in their order
        EXPECT_EQ(out[2].TagType(), c.audioFirst ? kFLVTagAudio : kFLVTagVideo);
        const auto array = Metadata(out);
        ASSERT_TRUE(array);
        EXPECT_EQ(array->GetValue("width")->ToStringImpl(), "NUMBER: 320.000000");
        EXPECT_EQ(array->GetValue("height")->ToStringImpl(), "NUMBER: 240.000000");
        EXPECT_EQ(array->GetValue("audiosamplerate")->ToStringImpl(), c.sampleRate);
        EXPECT_EQ(array->GetValue("stereo")->ToStringImpl(), c.stereo);
    }
}

TEST_F(FLVMuxerTest, ATrackThatNeverStartsHoldsTheOthersAtMostASecondOrUntilClose) {
    muxer_.AddTrack({MediaType::Video, MediaCodec::H264});
    muxer_.AddTrack({MediaType::Audio, MediaCodec::AAC});
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 5.0, true), 0);
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSlice}), 5.5, false), 0);
    EXPECT_TRUE(out_.empty());
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSlice}), 6.0, false), 0);
    ASSERT_EQ(out_.size(), 6U);  // header, metadata, sequence header and the three frames
    EXPECT_EQ(out_[5].PTS(), 1.0);

    std::vector<FLVFrame> out;
    {
        FLVMuxer muxer(std::make_shared<MediaCallback<FLVFrame>>(
                [&](FLVFrame frame) { out.push_back(frame); }));
        muxer.AddTrack({MediaType::Video, MediaCodec::H264});
        muxer.AddTrack({MediaType::Audio, MediaCodec::AAC});
        muxer.PutFrame(Frame(MediaType::Audio, Hex("12 10"), 0, true), 1);
        muxer.Close();
    }
    ASSERT_EQ(out.size(), 3U);
    EXPECT_EQ(ToHex(Body(out[2])), "AF 00 12 10");
}

TEST_F(FLVMuxerTest, FirstKeyFrameGivesSequenceHeaderThenNaluTagAtTheSameTime) {
    muxer_.AddTrack({MediaType::Video, MediaCodec::H264});
    const auto key = Avcc({kSps, kPps, kIdr});
    const auto inter = Avcc({kSlice});
    muxer_.PutFrame(Frame(MediaType::Video, key, 0, true), 0);
    muxer_.PutFrame(Frame(MediaType::Video, inter, 0.04, false), 0);
    ASSERT_EQ(out_.size(), 5U);
    const auto record = Concat({Hex("01 42 c0 0d ff e1 00 18"), kSps, Hex("01 00 05"), kPps});
    EXPECT_EQ(ToHex(Body(out_[2])), ToHex(Concat({Hex("17 00 00 00 00"), record})));
    EXPECT_EQ(ToHex(Body(out_[3])), ToHex(Concat({Hex("17 01 00 00 00"), key})));
    EXPECT_EQ(ToHex(Body(out_[4])), ToHex(Concat({Hex("27 01 00 00 00"), inter})));
    for (size_t i = 2; i < 5; ++i) {
        const auto& data = out_[i].Data();
        EXPECT_EQ(out_[i].TagType(), kFLVTagVideo);
        // DataSize and PreviousTagSize agree with the tag's length.
        const size_t dataSize = (size_t{data[1]} << 16) | (size_t{data[2]} << 8) | data[3];
        EXPECT_EQ(dataSize + 15, data.size());
        const size_t previous = (size_t{data[data.size() - 2]} << 8) | data.back();
        EXPECT_EQ(previous, dataSize + 11);
    }
    EXPECT_EQ(ToHex({out_[2].Data().begin() + 4, out_[2].Data().begin() + 8}), "00 00 00 00");
    EXPECT_EQ(ToHex({out_[4].Data().begin() + 4, out_[4].Data().begin() + 8}), "00 00 28 00");
}

// A key frame without an SPS must not use up the sequence header: the stream could never be
// decoded. The formatter keeps waiting and writes it at the next key frame that has one.
TEST_F(FLVMuxerTest, KeyFrameWithoutSpsLeavesTheSequenceHeaderForTheNextKeyFrame) {
    muxer_.AddTrack({MediaType::Video, MediaCodec::H264});
    EXPECT_THAT([&] { muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSlice}), 0, false), 0); },
                test::ThrowsWithText("first AVC frame is not a keyframe"));
    EXPECT_THAT([&] { muxer_.PutFrame(Frame(MediaType::Video, Avcc({kIdr}), 0.04, true), 0); },
                test::ThrowsWithText("no sps found in keyframe"));
    // A 3-byte SPS has no profile and level to copy: it does not count.
    EXPECT_THAT(
            [&] {
                muxer_.PutFrame(Frame(MediaType::Video, Avcc({Hex("67 42 c0"), kIdr}), 0.08, true),
                                0);
            },
            test::ThrowsWithText("no sps found in keyframe"));
    ASSERT_EQ(out_.size(), 2U);  // header and metadata only
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 0.12, true), 0);
    ASSERT_EQ(out_.size(), 4U);
    EXPECT_EQ(ToHex({out_[2].Data().begin() + 11, out_[2].Data().begin() + 13}), "17 00");
    EXPECT_EQ(ToHex({out_[3].Data().begin() + 11, out_[3].Data().begin() + 13}), "17 01");
}

TEST_F(FLVMuxerTest, KeyFrameWithChangedParameterSetsGetsANewSequenceHeader) {
    muxer_.AddTrack({MediaType::Video, MediaCodec::H264});
    const auto otherSps = Hex("67 64 00 28 ac d9 40 78 02 27 e5 c0 44");
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 0, true), 0);
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 1, true), 0);
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kIdr}), 2, true), 0);
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({otherSps, kPps, kIdr}), 3, true), 0);
    std::vector<std::string> kinds;
    for (size_t i = 2; i < out_.size(); ++i) {
        kinds.push_back(ToHex({out_[i].Data().begin() + 11, out_[i].Data().begin() + 13}));
    }
    EXPECT_THAT(kinds,
                ::testing::ElementsAre("17 00", "17 01", "17 01", "17 01", "17 00", "17 01"));
    EXPECT_EQ(ToHex({out_[6].Data().begin() + 17, out_[6].Data().begin() + 20}), "64 00 28");
}

TEST_F(FLVMuxerTest, AudioSendsTheFirstFrameAsSequenceHeader) {
    muxer_.AddTrack({MediaType::Audio, MediaCodec::AAC});
    muxer_.PutFrame(Frame(MediaType::Audio, Hex("12 10"), 0, true), 0);
    muxer_.PutFrame(Frame(MediaType::Audio, Hex("21 00 49"), 0.023, false), 0);
    ASSERT_EQ(out_.size(), 4U);
    EXPECT_EQ(out_[2].TagType(), kFLVTagAudio);
    EXPECT_EQ(ToHex(Body(out_[2])), "AF 00 12 10");
    EXPECT_EQ(ToHex(Body(out_[3])), "AF 01 21 00 49");
    EXPECT_EQ(ToHex({out_[3].Data().begin() + 4, out_[3].Data().begin() + 8}), "00 00 17 00");
}

// Tag times count from the first frame given to the muxer, whatever clock the PTS follow.
TEST_F(FLVMuxerTest, TagTimesStartAtZeroFromTheFirstFrame) {
    muxer_.AddTrack({MediaType::Audio, MediaCodec::AAC});
    muxer_.AddTrack({MediaType::Video, MediaCodec::H264});
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSps, kPps, kIdr}), 3600.5, true), 1);
    muxer_.PutFrame(Frame(MediaType::Audio, Hex("12 10"), 3600.49, true), 0);
    muxer_.PutFrame(Frame(MediaType::Video, Avcc({kSlice}), 3600.54, false), 1);
    ASSERT_EQ(out_.size(), 6U);
    for (size_t i = 2; i < 5; ++i) {
        EXPECT_EQ(out_[i].PTS(), 0.0) << i;
    }
    EXPECT_NEAR(out_[5].PTS(), 0.04, 1e-9);
    EXPECT_EQ(ToHex({out_[5].Data().begin() + 4, out_[5].Data().begin() + 8}), "00 00 28 00");
}

TEST_F(FLVMuxerTest, RefusesUnknownTracksAndCodecs) {
    struct Case {
        const char* name;
        MediaDescriptor descriptor;
        const char* error;
    };

    const Case cases[] = {
            {"none", {MediaType::None, MediaCodec::H264}, "unknown media type"},
            {"video AAC", {MediaType::Video, MediaCodec::AAC}, "unsupported video codec"},
            {"audio H.264", {MediaType::Audio, MediaCodec::H264}, "unsupported audio codec"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT([&] { muxer_.AddTrack(c.descriptor); }, test::ThrowsWithText(c.error));
    }
    muxer_.AddTrack({MediaType::Audio, MediaCodec::AAC});
    muxer_.AddTrack({MediaType::Audio, MediaCodec::AAC});
    EXPECT_THAT([&] { muxer_.PutFrame(Frame(MediaType::Audio, Hex("12 10"), 0, true), 2); },
                test::ThrowsWithText("unknown track ID"));
    EXPECT_EQ(out_.size(), 2U);  // the header and metadata went out first
}

TEST(FLVTagFormatterTest, WritesTheTagTimeInTwentyFourPlusEightBits) {
    struct Case {
        const char* name;
        double pts;
        const char* bytes;
    };

    const Case cases[] = {
            {"1.5 s", 1.5, "00 05 DC 00"},
            {"20,000 s", 20000.0, "31 2D 00 01"},
            {"negative", -2.0, "00 00 00 00"},
            {"2^32 ms wraps", 4294967.297, "00 00 01 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FLVFrame> out;
        AACDataFormatter formatter(std::make_shared<MediaCallback<FLVFrame>>(
                [&](FLVFrame frame) { out.push_back(frame); }));
        formatter.PutFrame(Frame(MediaType::Audio, Hex("12 10"), c.pts, false));
        ASSERT_EQ(out.size(), 1U);
        EXPECT_EQ(ToHex({out[0].Data().begin() + 4, out[0].Data().begin() + 8}), c.bytes);
    }
}

}  // namespace
}  // namespace pelmar::live
