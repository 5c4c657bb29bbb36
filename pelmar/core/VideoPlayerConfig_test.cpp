#include "pelmar/core/VideoPlayerConfig.h"

#include <gtest/gtest.h>

namespace pelmar {
namespace {

TEST(VideoPlayerConfigTest, DefaultEncodesElevateStyleWithNullColours) {
    EXPECT_EQ(VideoPlayerConfig().encode().dump(),
              R"({"shouldShowSubtitles":false,"isMuted":false,"playerStyle":{"controllerStyle":5,)"
              R"("textColor":null,"unplayedColor":null,"playedColor":null,"tintColor":null,)"
              R"("muteOffImageDrawable":null,"muteOnImageDrawable":null}})");
}

TEST(VideoPlayerConfigTest, DefaultConfigsHoldDistinctStylesAndAGivenStyleIsShared) {
    VideoPlayerConfig first;
    const VideoPlayerConfig second;
    first.playerStyle->textColor = 0xFF0000;
    EXPECT_FALSE(second.playerStyle->textColor.has_value());

    auto style = PlayerStyle::defaultStyle();
    const VideoPlayerConfig sharing(true, true, style);
    style->tintColor = 0x00FF00;
    EXPECT_EQ(sharing.playerStyle->tintColor, 0x00FF00);

    const VideoPlayerConfig noStyle(false, false, nullptr);
    ASSERT_NE(noStyle.playerStyle, nullptr);
    EXPECT_EQ(noStyle.playerStyle->controllerStyle, 5);
}

TEST(VideoPlayerConfigTest, ControllerStyleOutsideTheEnumerationIsKeptButHasNoCase) {
    const PlayerStyle style(9, std::nullopt, 1, std::nullopt, std::nullopt, std::nullopt, 2);
    EXPECT_EQ(style.encode()["controllerStyle"], 9);
    EXPECT_EQ(style.encode()["unplayedColor"], 1);
    EXPECT_EQ(style.encode()["muteOnImageDrawable"], 2);
    EXPECT_FALSE(PlayerStyle::controllerStyleFromRaw(9).has_value());
    EXPECT_FALSE(PlayerStyle::controllerStyleFromRaw(-1).has_value());
    EXPECT_FALSE(PlayerStyle::controllerStyleFromRaw(7).has_value());
    EXPECT_EQ(PlayerStyle::controllerStyleFromRaw(6),
              PlayerStyle::Pelmar_Player_Controller_Style::THEATRE);
}

TEST(VideoPlayerConfigTest, CodingKeysMatchFieldNamesExactly) {
    EXPECT_EQ(VideoPlayerConfig::codingKey("isMuted"), "isMuted");
    EXPECT_FALSE(VideoPlayerConfig::codingKey("IsMuted").has_value());
    EXPECT_FALSE(VideoPlayerConfig::codingKey("").has_value());
    EXPECT_EQ(PlayerStyle::codingKey("tintColor"), "tintColor");
    EXPECT_FALSE(PlayerStyle::codingKey("TintColor").has_value());
}

}  // namespace
}  // namespace pelmar
