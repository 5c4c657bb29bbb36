#include "pelmar/live/MediaTransformer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <stdexcept>
#include <vector>

#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/MediaFrame.h"
#include "testing/Matchers.h"

namespace pelmar::live {
namespace {

using ::testing::ElementsAre;

// Appends the input's first byte to the output frame and answers with scripted statuses; -1 in
// the script throws instead.
class ScriptedTransformer : public MediaTransformer<MediaFrame, MediaFrame> {
public:
    ScriptedTransformer(std::shared_ptr<IReceiver<MediaFrame>> output, std::deque<int> script)
        : MediaTransformer(std::move(output)), script_(std::move(script)) {}

    MediaFrame CreateOutputFrame(MediaFrame) override {
        ++created;
        return MediaFrame(MediaType::Video, MediaCodec::H264);
    }

    int Transform(MediaFrame frame, MediaFrame& output) override {
        ++transformed;
        const int status = script_.front();
        script_.pop_front();
        if (status < 0) {
            throw std::runtime_error("transform failed");
        }
        output.Data().push_back(frame.Data().at(0));
        return status;
    }

    int created = 0;
    int transformed = 0;

private:
    std::deque<int> script_;
};

// Records frames and closes.
class Sink : public IReceiver<MediaFrame> {
public:
    std::vector<MediaFrame> frames;
    int closed = 0;

protected:
    void PutFrameImpl(MediaFrame frame) override { frames.push_back(frame); }

    void CloseImpl() override { ++closed; }
};

MediaFrame Input(uint8_t byte) {
    MediaFrame frame(MediaType::None, MediaCodec::None);
    frame.Data().push_back(byte);
    return frame;
}

TEST(MediaTransformerTest, CompleteWithMorePassesOnAFreshFrameEachTime) {
    auto sink = std::make_shared<Sink>();
    ScriptedTransformer stage(sink,
                              {kTransformCompleteMore, kTransformCompleteMore, kTransformComplete});
    stage.PutFrame(Input(5));
    EXPECT_EQ(stage.created, 3);
    ASSERT_EQ(sink->frames.size(), 3u);
    for (const auto& frame : sink->frames) {
        EXPECT_THAT(frame.Data(), ElementsAre(5));
    }
}

TEST(MediaTransformerTest, IncompleteKeepsTheSameOutputFrameForTheNextInput) {
    auto sink = std::make_shared<Sink>();
    ScriptedTransformer stage(sink,
                              {kTransformIncomplete, kTransformIncomplete, kTransformComplete});
    stage.PutFrame(Input(1));
    stage.PutFrame(Input(2));
    EXPECT_TRUE(sink->frames.empty());
    stage.PutFrame(Input(3));
    EXPECT_EQ(stage.created, 1);
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_THAT(sink->frames[0].Data(), ElementsAre(1, 2, 3));
}

TEST(MediaTransformerTest, FailedTransformKeepsThePreviousStatus) {
    auto sink = std::make_shared<Sink>();
    ScriptedTransformer stage(sink, {kTransformIncomplete, -1, kTransformComplete});
    stage.PutFrame(Input(1));
    EXPECT_THAT([&] { stage.PutFrame(Input(2)); }, test::ThrowsWithText("transform failed"));
    stage.PutFrame(Input(3));
    EXPECT_EQ(stage.created, 1);
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_THAT(sink->frames[0].Data(), ElementsAre(1, 3));
}

TEST(MediaTransformerTest, TransformsWithoutAnOutputReceiver) {
    ScriptedTransformer stage(nullptr,
                              {kTransformComplete, kTransformCompleteMore, kTransformComplete});
    stage.PutFrame(Input(1));
    stage.PutFrame(Input(2));
    stage.Close();
    EXPECT_EQ(stage.created, 3);
    EXPECT_EQ(stage.transformed, 3);
}

TEST(MediaTransformerTest, CloseReachesTheLastStageOfTheChain) {
    auto sink = std::make_shared<Sink>();
    auto middle = std::make_shared<ScriptedTransformer>(sink, std::deque<int>{kTransformComplete});
    ScriptedTransformer head(middle, {kTransformComplete});
    head.PutFrame(Input(4));
    head.Close();
    EXPECT_EQ(sink->closed, 1);
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_THAT(sink->frames[0].Data(), ElementsAre(4));
}

TEST(MediaTransformerTest, CallbackHandsFramesToItsFunctionAndEmptyOneDrops) {
    std::vector<MediaFrame> seen;
    MediaCallback<MediaFrame> callback([&](MediaFrame frame) { seen.push_back(frame); });
    MediaFrame frame = Input(1);
    callback.PutFrame(frame);
    callback.Close();
    ASSERT_EQ(seen.size(), 1u);
    seen[0].Data().push_back(2);
    EXPECT_THAT(frame.Data(), ElementsAre(1, 2));

    MediaCallback<MediaFrame> empty(nullptr);
    empty.PutFrame(frame);
    empty.Close();
}

}  // namespace
}  // namespace pelmar::live
