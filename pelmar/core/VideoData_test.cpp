#include "pelmar/core/VideoData.h"

#include <gtest/gtest.h>

#include <string>

#include "pelmar/core/JsonReaders.h"

namespace pelmar {
namespace {

TEST(VideoDataTest, EmptyDictionaryGivesClearedModelWithNestedModels) {
    const VideoData video(Json::object());
    EXPECT_EQ(video.title, "");
    EXPECT_EQ(video.duration, "");
    EXPECT_EQ(video.created, 0.0);
    EXPECT_EQ(video.volatile_, 0);
    EXPECT_TRUE(video.streams.empty());
    EXPECT_TRUE(video.tags.empty());
    ASSERT_TRUE(video.default_stream && video.original_stream && video.device_info);
    EXPECT_EQ(video.default_stream->token, "");
    EXPECT_EQ(video.device_info->userAgent, "");
}

TEST(VideoDataTest, StreamableStringIsTrueWhenClearedAndFalseFromEmptyDictionary) {
    EXPECT_EQ(VideoStreamData().streamable_string, true);
    EXPECT_EQ(VideoStreamData(std::nullopt).streamable_string, true);
    EXPECT_EQ(VideoStreamData(Json::object()).streamable_string, false);
    EXPECT_EQ(VideoStreamData(Json{{"streamable_string", "YES"}}).streamable_string, true);
}

TEST(VideoDataTest, FillsScalarsNestedModelsAndTags) {
    const VideoData video(Json{{"token", "v1"},
                               {"duration", "00:12"},
                               {"state", "3"},
                               {"volatile", 1},
                               {"tags", {"a", "b"}},
                               {"default_stream", {{"token", "s1"}, {"video_width", 640}}},
                               {"device_info", {{"userAgent", "ua"}, {"api_version", 2}}},
                               {"user_language", "en"}});
    EXPECT_EQ(video.token, "v1");
    EXPECT_EQ(video.duration, "00:12");
    EXPECT_EQ(video.state, 3);
    EXPECT_EQ(video.volatile_, 1);
    EXPECT_EQ(video.tags, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(video.default_stream->token, "s1");
    EXPECT_EQ(video.default_stream->video_width, 640.0);
    EXPECT_EQ(video.device_info->userAgent, "ua");
    EXPECT_EQ(video.device_info->api_version, 2);
    EXPECT_EQ(video.user_language, "en");
}

TEST(VideoDataTest, NestedAndListValuesOfTheWrongKindGiveClearedValues) {
    struct Case {
        const char* name;
        Json dict;
        size_t streams;
    } cases[] = {
            {"two objects", Json{{"streams", {{{"token", "a"}}, {{"token", "b"}}}}}, 2},
            {"third element a number", Json{{"streams", {{{"token", "a"}}, {{"token", "b"}}, 3}}},
             0},
            {"not an array", Json{{"streams", "x"}}, 0},
            {"empty array", Json{{"streams", Json::array()}}, 0},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VideoData(c.dict).streams.size(), c.streams);
    }
    const VideoData video(Json{{"default_stream", "x"}, {"original_stream", Json::array()}});
    EXPECT_EQ(video.default_stream->streamable_string, true);
    EXPECT_EQ(video.original_stream->streamable_string, true);
}

TEST(VideoDataTest, SecondFillKeepsOnlyTheSecondStreamsAndKeysMatchExactly) {
    VideoData video(Json{{"streams", {{{"token", "a"}}, {{"token", "b"}}}}});
    video.setInfo(Json{{"streams", {{{"token", "c"}}}}, {"Title", "case"}, {"duration", 5}});
    ASSERT_EQ(video.streams.size(), 1u);
    EXPECT_EQ(video.streams[0].token, "c");
    EXPECT_EQ(video.title, "");
    EXPECT_EQ(video.duration, "");
}

// A host's model with a field of its own, counting the fills and clears it saw.
class TaggedVideo : public VideoData {
public:
    void setInfo(const Json& dict) override {
        VideoData::setInfo(dict);
        label = getStringValue(dict, "label");
        ++fills;
    }

    void clear() override {
        VideoData::clear();
        label = "none";
        ++clears;
    }

    std::string label;
    int fills = 0;
    int clears = 0;
};

TEST(VideoDataTest, FillAndClearAreOverridableAndMakeBuildsThroughTheOverrides) {
    const auto filled = VideoData::make<TaggedVideo>(Json{{"label", "mine"}, {"token", "v1"}});
    EXPECT_EQ(filled.label, "mine");
    EXPECT_EQ(filled.token, "v1");
    EXPECT_EQ(filled.fills, 1);
    auto cleared = VideoData::make<TaggedVideo>(std::nullopt);
    EXPECT_EQ(cleared.label, "none");
    EXPECT_EQ(cleared.clears, 1);
    EXPECT_EQ(cleared.token, "");

    // Called through the model's own type, the override runs.
    VideoData& video = cleared;
    video.setInfo(Json{{"label", "again"}, {"title", "t"}});
    EXPECT_EQ(cleared.label, "again");
    EXPECT_EQ(cleared.title, "t");
    video.clear();
    EXPECT_EQ(cleared.label, "none");
    EXPECT_EQ(cleared.title, "");

    // make() of a model itself is its constructor's result.
    EXPECT_EQ(VideoStreamData::make(std::nullopt).streamable_string, true);
    EXPECT_EQ(VideoStreamData::make(Json::object()).streamable_string, false);
}

}  // namespace
}  // namespace pelmar
