#include "pelmar/core/AudioData.h"

#include <gtest/gtest.h>

#include "pelmar/core/ImageData.h"
#include "pelmar/core/VideoData.h"

namespace pelmar {
namespace {

TEST(AudioDataTest, StreamableStringClearsToFalseUnlikeVideoStreams) {
    EXPECT_EQ(AudioStreamData().streamable_string, false);
    EXPECT_EQ(ImageStreamData().streamable_string, false);
    EXPECT_EQ(VideoStreamData().streamable_string, true);
}

TEST(AudioDataTest, SameAnswerFillsEachFamilyWithItsOwnReaders) {
    const Json answer{{"duration", 12.5}, {"user_language", "42"}, {"state_lower", "ready"}};
    const AudioData audio(answer);
    const ImageData image(answer);
    const VideoData video(answer);
    EXPECT_EQ(audio.duration, 12.5);
    EXPECT_EQ(video.duration, "");
    EXPECT_EQ(audio.user_language, "42");
    EXPECT_EQ(video.user_language, "42");
    EXPECT_EQ(image.user_language, 42);
    EXPECT_EQ(audio.state_lower, "ready");
    EXPECT_EQ(image.state_lower, "ready");
}

TEST(AudioDataTest, EmptyDictionaryGivesClearedNestedModels) {
    const AudioData audio(Json::object());
    const ImageData image(Json::object());
    ASSERT_TRUE(audio.default_stream && audio.original_stream && audio.device_info);
    ASSERT_TRUE(image.default_stream && image.original_stream && image.device_info);
    EXPECT_EQ(audio.moderation_reason, "");
    EXPECT_TRUE(audio.streams.empty() && audio.tags.empty());
    EXPECT_TRUE(image.streams.empty() && image.tags.empty());
    const AudioData filled(Json{{"streams", {{{"transcoding_duration", 7}, {"createdBy", "me"}}}}});
    ASSERT_EQ(filled.streams.size(), 1u);
    EXPECT_EQ(filled.streams[0].transcoding_duration, 7);
    EXPECT_EQ(filled.streams[0].createdBy, "me");
}

}  // namespace
}  // namespace pelmar
