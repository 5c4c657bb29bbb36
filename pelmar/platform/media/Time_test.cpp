#include "pelmar/platform/media/Time.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pelmar::media {
namespace {

TEST(TimeTest, ArithmeticConvertsToTheLargerTimescaleRoundingHalfAwayFromZero) {
    struct Case {
        const char* name;
        Time result;
        int64_t value;
        int32_t timescale;
    };

    const Case cases[] = {
            {"same scale", Time::make(3, 10) + Time::make(4, 10), 7, 10},
            {"sample clock minus frame clock", Time::make(44100, 44100) - Time::make(15, 30), 22050,
             44100},
            {"nanoseconds plus samples",
             Time::make(1'000'000'000, 1'000'000'000) + Time::make(1, 44100), 1'000'022'676,
             1'000'000'000},
            {"half rounds away from zero up", Time::make(1, 4).convertScale(2), 1, 2},
            {"half rounds away from zero down", Time::make(-1, 4).convertScale(2), -1, 2},
            {"negative result", Time::make(1, 2) - Time::make(3, 2), -2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.result.isValid());
        EXPECT_EQ(c.result.value, c.value);
        EXPECT_EQ(c.result.timescale, c.timescale);
    }
}

TEST(TimeTest, InvalidTimesStayInvalidAndSortFirst) {
    const Time invalid;
    EXPECT_FALSE(invalid.isValid());
    EXPECT_FALSE((invalid + Time::make(1, 1)).isValid());
    EXPECT_FALSE((Time::make(1, 1) - invalid).isValid());
    EXPECT_TRUE(std::isnan(invalid.seconds()));
    EXPECT_FALSE(Time::makeWithSeconds(NAN, 600).isValid());
    EXPECT_FALSE(Time::makeWithSeconds(1.0, 0).isValid());
    EXPECT_LT(invalid, Time::make(-5, 1));
    EXPECT_EQ(Time(), Time());
    EXPECT_FALSE((Time::make(INT64_MAX, 1) + Time::make(1, 1)).isValid());
}

TEST(TimeTest, ComparesByInstantWhateverTheTimescale) {
    EXPECT_EQ(Time::make(1, 2), Time::make(22050, 44100));
    EXPECT_LT(Time::make(1, 3), Time::make(333'333'334, 1'000'000'000));
    EXPECT_GT(Time::positiveInfinity(), Time::make(INT64_MAX, 1));
    EXPECT_EQ(Time::makeWithSeconds(2.5, 600).value, 1500);
    EXPECT_DOUBLE_EQ(Time::make(3, 4).seconds(), 0.75);
}

}  // namespace
}  // namespace pelmar::media
