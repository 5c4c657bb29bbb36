#include "pelmar/platform/av/MutableComposition.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/Matchers.h"

namespace pelmar::av {
namespace {

std::shared_ptr<const AssetTrack> sourceTrack(TrackMediaType type, double seconds) {
    AssetTrack::Description d;
    d.trackID = 1;
    d.mediaType = type;
    d.sourceURL = "/movies/source.mp4";
    d.timeRange = TimeRange::seconds(0, seconds);
    return std::make_shared<const AssetTrack>(d);
}

media::Time at(double seconds) {
    return media::Time::makeWithSeconds(seconds, 1000);
}

TEST(MutableCompositionTest, DurationIsTheEndOfTheLongestTrack) {
    auto composition = MutableComposition::create();
    EXPECT_EQ(composition->status(), Asset::Status::Loaded);
    EXPECT_EQ(composition->duration(), media::Time::zero());
    auto video = composition->addMutableTrack(TrackMediaType::Video);
    auto audio = composition->addMutableTrack(TrackMediaType::Audio);
    auto text = composition->addMutableTrack(TrackMediaType::Text);
    EXPECT_FALSE(video->insertTimeRange(TimeRange::seconds(0, 5),
                                        sourceTrack(TrackMediaType::Video, 5), at(0)));
    EXPECT_FALSE(audio->insertTimeRange(TimeRange::seconds(0, 4.5),
                                        sourceTrack(TrackMediaType::Audio, 4.5), at(0)));
    // A subtitle track shorter than the range asked for is still inserted whole.
    EXPECT_FALSE(text->insertTimeRange(TimeRange::seconds(0, 5),
                                       sourceTrack(TrackMediaType::Text, 3), at(0)));
    EXPECT_EQ(composition->duration(), at(5));
    EXPECT_EQ(composition->tracks().size(), 3u);
    EXPECT_EQ(composition->tracks(TrackMediaType::Text).size(), 1u);
    EXPECT_TRUE(composition->isPlayable());
    EXPECT_NE(video->trackID(), audio->trackID());
    EXPECT_NE(audio->trackID(), text->trackID());
}

TEST(MutableCompositionTest, InsertingInsideASegmentSplitsItAndPushesTheRestBack) {
    auto composition = MutableComposition::create();
    auto video = composition->addMutableTrack(TrackMediaType::Video, 7);
    EXPECT_EQ(video->trackID(), 7);
    EXPECT_EQ(composition->addMutableTrack(TrackMediaType::Video, 7)->trackID(), 1);
    auto first = sourceTrack(TrackMediaType::Video, 10);
    auto second = sourceTrack(TrackMediaType::Video, 10);
    ASSERT_FALSE(video->insertTimeRange(TimeRange::seconds(0, 4), first, at(0)));
    ASSERT_FALSE(video->insertTimeRange(TimeRange::seconds(5, 1), second, at(1)));
    const auto segments = video->segments();
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[0].source, first);
    EXPECT_EQ(segments[0].sourceRange, TimeRange::seconds(0, 1));
    EXPECT_EQ(segments[1].source, second);
    EXPECT_EQ(segments[1].at, at(1));
    EXPECT_EQ(segments[2].sourceRange, TimeRange::seconds(1, 3));
    EXPECT_EQ(segments[2].at, at(2));
    EXPECT_EQ(composition->duration(), at(5));
}

TEST(MutableCompositionTest, RefusedInsertionsLeaveTheTrackUnchanged) {
    auto composition = MutableComposition::create();
    auto video = composition->addMutableTrack(TrackMediaType::Video);

    struct Case {
        const char* name;
        TimeRange range;
        std::shared_ptr<const AssetTrack> source;
    } cases[] = {
            {"no source", TimeRange::seconds(0, 1), nullptr},
            {"other media type", TimeRange::seconds(0, 1), sourceTrack(TrackMediaType::Audio, 5)},
            {"invalid range", TimeRange{}, sourceTrack(TrackMediaType::Video, 5)},
            {"empty range", TimeRange::seconds(1, 0), sourceTrack(TrackMediaType::Video, 5)},
            {"negative start", TimeRange::seconds(-1, 2), sourceTrack(TrackMediaType::Video, 5)},
            {"past the source", TimeRange::seconds(5, 1), sourceTrack(TrackMediaType::Video, 5)},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(video->insertTimeRange(c.range, c.source, at(0)),
                    test::IsError(kAssetErrorDomain, kAssetErrorUnparsable));
        EXPECT_TRUE(video->segments().empty());
    }
    EXPECT_EQ(composition->duration(), media::Time::zero());
}

}  // namespace
}  // namespace pelmar::av
