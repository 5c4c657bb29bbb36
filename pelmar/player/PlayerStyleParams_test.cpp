#include "pelmar/player/PlayerStyleParams.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace pelmar {
namespace {

struct IconCase {
    const char* name;
    std::optional<int64_t> look;
    bool black;
};

TEST(PlayerStyleParamsTest, PicksBlackIconsForLightLooksAndWhiteOnesOtherwise) {
    const std::array<IconCase, 10> cases{{
            {"Default", 0, false},
            {"Modern", 1, true},
            {"Cube", 2, false},
            {"Space", 3, false},
            {"Minimalist", 4, false},
            {"Elevate", 5, true},
            {"Theatre", 6, true},
            {"OutsideTheEnumeration", 7, false},
            {"Negative", -1, false},
            {"Unset", std::nullopt, false},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PlayerStyleParams params(c.look);
        EXPECT_EQ(params.controllerStyle, c.look);
        EXPECT_EQ(params.playButtonIcon, c.black ? "play-black" : "play-white");
        EXPECT_EQ(params.pauseButtonIcon, c.black ? "pause-black" : "pause-white");
        EXPECT_EQ(params.soundOnButtonIcon, c.black ? "sound-on-black" : "sound-on");
        EXPECT_EQ(params.soundOffButtonIcon, c.black ? "sound-off-black" : "sound-off");
    }
}

}  // namespace
}  // namespace pelmar
