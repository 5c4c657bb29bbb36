#include "pelmar/imageloader/PelmarSpeedRecorder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pelmar {
namespace {

PelmarSpeedRecorder::ReachabilityProvider flags(std::optional<uint32_t> value) {
    return [value] { return value; };
}

net::URLSessionTaskMetrics transfer(std::optional<double> start,
                                    std::optional<double> firstByte,
                                    std::optional<double> end) {
    return net::URLSessionTaskMetrics{{{start, firstByte, end}}};
}

TEST(PelmarSpeedRecorderTest, FirstSampleIsKeptAndLaterOnesWeighOneFifth) {
    PelmarSpeedRecorder recorder(flags(std::nullopt));
    EXPECT_EQ(recorder.weightedAdjustedBytesPerSecondForHost("h"), -1.0f);
    EXPECT_EQ(recorder.weightedTimeToFirstByteForHost("h"), 0.0);
    recorder.updateSpeedsForHost("h", 2000, 2000, 0.5);
    EXPECT_EQ(recorder.measurementForHost("h")->count, 0u);
    EXPECT_EQ(recorder.weightedAdjustedBytesPerSecondForHost("h"), 2000.0f);
    recorder.updateSpeedsForHost("h", 1000, 1000, 1.0);
    EXPECT_EQ(recorder.weightedAdjustedBytesPerSecondForHost("h"), 1800.0f);
    EXPECT_DOUBLE_EQ(recorder.weightedTimeToFirstByteForHost("h"), 0.5 * 0.8 + 1.0 * (1 - 0.8));
    EXPECT_EQ(recorder.measurementForHost("h")->count, 1u);
    recorder.resetMeasurements();
    EXPECT_FALSE(recorder.measurementForHost("h"));
}

TEST(PelmarSpeedRecorderTest, MetricsGiveSpeedsAndEqualTimesStayFinite) {
    PelmarSpeedRecorder recorder(flags(std::nullopt));
    recorder.processMetrics(transfer(10.0, 10.5, 12.5), 4000, "https://Img.Example.com/a.jpg");
    const auto measured = recorder.measurementForHost("img.example.com");
    ASSERT_TRUE(measured);
    EXPECT_FLOAT_EQ(measured->bytesPerSecond, 4000 / 2.5);
    EXPECT_FLOAT_EQ(measured->startAdjustedBytesPerSecond, 4000 / 2.0);
    EXPECT_DOUBLE_EQ(measured->timeToFirstByte, 0.5);

    // One read on a fast network: all three times equal. The speed is large but finite.
    recorder.processMetrics(transfer(3.0, 3.0, 3.0), 100, "http://fast/x");
    const auto fast = recorder.measurementForHost("fast");
    ASSERT_TRUE(fast);
    EXPECT_TRUE(std::isfinite(fast->bytesPerSecond));
    EXPECT_TRUE(std::isfinite(fast->startAdjustedBytesPerSecond));
    EXPECT_FLOAT_EQ(fast->startAdjustedBytesPerSecond, 100 / 0.001);

    // Missing times or no bytes record nothing.
    recorder.processMetrics(transfer(1.0, std::nullopt, 2.0), 100, "http://a/x");
    recorder.processMetrics(transfer(std::nullopt, 1.0, 2.0), 100, "http://b/x");
    recorder.processMetrics(transfer(1.0, 1.5, std::nullopt), 100, "http://c/x");
    recorder.processMetrics(transfer(1.0, 1.5, 2.0), 0, "http://d/x");
    for (const char* host : {"a", "b", "c", "d"}) {
        EXPECT_FALSE(recorder.measurementForHost(host)) << host;
    }
}

TEST(PelmarSpeedRecorderTest, KeepsTheMostRecentlyUsedHosts) {
    PelmarSpeedRecorder recorder(flags(std::nullopt));
    for (std::size_t i = 0; i < PelmarSpeedRecorder::kMaxHosts; ++i) {
        recorder.updateSpeedsForHost("h" + std::to_string(i), 1, 1, 0);
    }
    recorder.weightedTimeToFirstByteForHost("h0");  // used: h1 is now the oldest
    recorder.updateSpeedsForHost("new", 1, 1, 0);
    EXPECT_TRUE(recorder.measurementForHost("h0"));
    EXPECT_FALSE(recorder.measurementForHost("h1"));
    EXPECT_TRUE(recorder.measurementForHost("new"));
}

TEST(PelmarSpeedRecorderTest, ReachabilityFlagsGiveStatus) {
    const struct {
        uint32_t flags;
        unsigned status;
    } cases[] = {
            {0, 0},
            {kPelmarReachabilityReachable, 2},
            {kPelmarReachabilityReachable | kPelmarReachabilityConnectionRequired, 0},
            {kPelmarReachabilityReachable | kPelmarReachabilityConnectionRequired
                     | kPelmarReachabilityConnectionOnTraffic,
             2},
            {kPelmarReachabilityReachable | kPelmarReachabilityConnectionRequired
                     | kPelmarReachabilityConnectionOnDemand,
             2},
            {kPelmarReachabilityReachable | kPelmarReachabilityConnectionRequired
                     | kPelmarReachabilityConnectionOnDemand
                     | kPelmarReachabilityInterventionRequired,
             0},
            {kPelmarReachabilityConnectionOnTraffic, 0},
    };

    for (const auto& c : cases) {
        EXPECT_EQ(PelmarSpeedRecorder::networkStatusForFlags(c.flags), c.status) << c.flags;
    }
    EXPECT_EQ(PelmarSpeedRecorder(flags(std::nullopt)).connectionStatus(), 0u);
    EXPECT_EQ(PelmarSpeedRecorder(flags(kPelmarReachabilityReachable)).connectionStatus(), 2u);
}

TEST(PelmarSpeedRecorderTest, ChoosesTheUrlIndexFromTheHostSpeed) {
    const std::vector<std::string> three = {"http://img/s", "http://img/m", "http://img/l"};
    const std::vector<std::string> two = {"http://img/s", "http://img/l"};

    const struct {
        const char* name;
        float speed;  // -1: no measurement
        const std::vector<std::string>* urls;
        std::optional<uint32_t> reachability;
        unsigned index;
    } cases[] = {
            {"threeMiddle", 275000, &three, std::nullopt, 1},
            {"threeJustAboveLow", 50001, &three, std::nullopt, 1},
            {"threeBelowLow", 40000, &three, std::nullopt, 0},
            {"threeAtLow", 50000, &three, std::nullopt, 0},
            {"threeAboveHigh", 600000, &three, std::nullopt, 2},
            {"threeAtHigh", 500000, &three, std::nullopt, 2},
            {"twoHalfRoundsUp", 275000, &two, std::nullopt, 1},
            {"twoBelowHalf", 200000, &two, std::nullopt, 0},
            {"unknownReachable", -1, &three, kPelmarReachabilityReachable, 2},
            {"unknownUnreachable", -1, &three, 0, 0},
            {"unknownUnreadable", -1, &two, std::nullopt, 0},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PelmarSpeedRecorder recorder(flags(c.reachability));
        if (c.speed >= 0) {
            recorder.updateSpeedsForHost("img", c.speed, c.speed, 0.1);
        }
        EXPECT_EQ(recorder.appropriateImageIdxForURLsGivenHistoricalNetworkConditions(
                          *c.urls, 50000, 500000),
                  c.index);
    }
}

}  // namespace
}  // namespace pelmar
