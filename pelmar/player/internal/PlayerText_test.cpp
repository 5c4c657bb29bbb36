#include "pelmar/player/internal/PlayerText.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace pelmar::player::internal {
namespace {

Json cueTime(int64_t start, int64_t end) {
    return Json{{"start", start}, {"end", end}};
}

struct VTTCase {
    const char* name;
    Json words;
    Json times;
    std::string text;
};

TEST(PlayerTextTest, RendersWebVTTCues) {
    const std::vector<VTTCase> cases{
            {"OneWord", Json::array({"hello"}), Json::array({cueTime(1500, 2250)}),
             "WEBVTT\n\n00:00:01.500 --> 00:00:02.250\nhello\n\n"},
            {"PastAnHour", Json::array({"a"}), Json::array({cueTime(3725004, 3726000)}),
             "WEBVTT\n\n01:02:05.004 --> 01:02:06.000\na\n\n"},
            {"HoursKeepGrowing", Json::array({"b"}), Json::array({cueTime(360000000, 360000001)}),
             "WEBVTT\n\n100:00:00.000 --> 100:00:00.001\nb\n\n"},
            {"TwoWordsInOrder", Json::array({"x", "y"}),
             Json::array({cueTime(0, 10), cueTime(10, 20)}),
             "WEBVTT\n\n00:00:00.000 --> 00:00:00.010\nx\n\n"
             "00:00:00.010 --> 00:00:00.020\ny\n\n"},
            {"FewerTimesThanWords", Json::array({"x", "y"}), Json::array({cueTime(0, 10)}),
             "WEBVTT\n\n00:00:00.000 --> 00:00:00.010\nx\n\n"},
            {"MalformedEntriesLeftOut", Json::array({42, "ok", "no-end", "text-time"}),
             Json::array({cueTime(0, 1), cueTime(2, 3), Json{{"start", 4}},
                          Json{{"start", "5"}, {"end", 6}}}),
             "WEBVTT\n\n00:00:00.002 --> 00:00:00.003\nok\n\n"},
            {"NotArrays", Json("words"), Json::object(), "WEBVTT\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(renderVTT(c.words, c.times), c.text);
    }
}

TEST(PlayerTextTest, TellsTheTextSoFarAfterEachCue) {
    std::vector<std::string> seen;
    renderVTT(Json::array({"x", "y"}), Json::array({cueTime(0, 10), cueTime(10, 20)}),
              [&](const std::string& text) { seen.push_back(text); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "WEBVTT\n\n00:00:00.000 --> 00:00:00.010\nx\n\n");
    EXPECT_EQ(seen[1], seen[0] + "00:00:00.010 --> 00:00:00.020\ny\n\n");
}

TEST(PlayerTextTest, TokenRoadURLCarriesEncodedEntriesAndTheSeedLast) {
    const Json params{
            {"k", "v"}, {"session", "a+b/c=="}, {"client_auth", "two words&more"}, {"count", 3}};
    EXPECT_EQ(tokenRoadURL("https://cdn/v1/applications/app/videos/tok/video.mp4", params, 42),
              "https://cdn/v1/applications/app/videos/tok/video.mp4?k=v&session=a%2Bb%2Fc%3D%3D&"
              "client_auth=two%20words%26more&count=3&seed=42&");
    EXPECT_EQ(tokenRoadURL("u", Json::object(), 0), "u?seed=0&");
}

TEST(PlayerTextTest, SeedsAreDecimalWithinRangeAndDiffer) {
    std::set<uint64_t> seen;
    for (int i = 0; i < 64; ++i) {
        const uint64_t seed = drawSeed();
        EXPECT_LE(seed, 0x7FFFFFFFFFFFFFFEull);
        seen.insert(seed);
    }
    EXPECT_GT(seen.size(), 60u);
}

TEST(PlayerTextTest, SeekTimesRoundToHundredthsAndPrintShortest) {
    const std::array<std::pair<double, const char*>, 6> cases{{
            {4.004, "4.0"},
            {4.006, "4.01"},
            {0.0, "0.0"},
            {12.346, "12.35"},
            {5.5, "5.5"},
            {1e20, "100000000000000000000.0"},
    }};
    for (const auto& [seconds, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(shortestDecimal(roundToHundredths(seconds)), text);
    }
}

TEST(PlayerTextTest, UniqueNamesNeverRepeat) {
    const std::string a = uniqueName();
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F-]+-[0-9]+")));
    EXPECT_NE(a, uniqueName());
}

}  // namespace
}  // namespace pelmar::player::internal
