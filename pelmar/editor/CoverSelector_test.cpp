#include "pelmar/editor/CoverSelector.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelmar {
namespace {

TEST(CoverSelectorTest, CoverTimesAreEveryFourWholeSecondsBelowTheDuration) {
    struct Case {
        const char* name;
        media::Time duration;
        std::vector<int64_t> seconds;
    } cases[] = {
            {"12.5 s", media::Time::make(7500, 600), {0, 4, 8}},
            {"12.0 s", media::Time::make(12000, 1000), {0, 4, 8}},
            {"0.8 s", media::Time::make(800, 1000), {}},
            {"4.5 s", media::Time::make(45, 10), {0}},
            {"9.9 s", media::Time::make(99, 10), {0, 4, 8}},
            {"zero timescale", media::Time::make(5000, 0), {}},
            {"infinite", media::Time::positiveInfinity(), {}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto times = CoverSelector::coverTimes(c.duration);
        ASSERT_EQ(times.size(), c.seconds.size());
        for (size_t i = 0; i < times.size(); ++i) {
            EXPECT_EQ(times[i].timescale, c.duration.timescale);
            EXPECT_EQ(times[i].value, c.seconds[i] * c.duration.timescale);
        }
    }
}

}  // namespace
}  // namespace pelmar
