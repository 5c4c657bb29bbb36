#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "pelmar/platform/foundation/Json.h"

// PlayerStyle: the look of the player screen: controller layout, colours (0xRRGGBB) and mute
// images.
// Ownership: reference object held by std::shared_ptr; a `VideoPlayerConfig` given a style shares
//     it.
// Threads: thread-compatible.
// Errors: none; values are stored unchecked (a controller style outside the enumeration is kept).

namespace pelmar {

class PlayerStyle {
public:
    enum class Pelmar_Player_Controller_Style : int64_t {
        DEFAULT = 0,
        MODERN = 1,
        CUBE = 2,
        SPACE = 3,
        MINIMALIST = 4,
        ELEVATE = 5,
        THEATRE = 6,
    };

    // The controller look of a raw value, none outside 0...6.
    static std::optional<Pelmar_Player_Controller_Style> controllerStyleFromRaw(int64_t raw);

    // The coding key of a field name; none for any other text (case-sensitive).
    static std::optional<std::string_view> codingKey(std::string_view text);

    PlayerStyle(int64_t controllerStyle,
                std::optional<int64_t> textColor,
                std::optional<int64_t> unplayedColor,
                std::optional<int64_t> playedColor,
                std::optional<int64_t> tintColor,
                std::optional<int64_t> muteOffImageDrawable,
                std::optional<int64_t> muteOnImageDrawable);

    // A new style with the `ELEVATE` look and no colours or images.
    static std::shared_ptr<PlayerStyle> defaultStyle();

    // Every field in declaration order; an absent field is written as null.
    Json encode() const;

    std::optional<int64_t> controllerStyle;
    std::optional<int64_t> textColor;
    std::optional<int64_t> unplayedColor;
    std::optional<int64_t> playedColor;
    std::optional<int64_t> tintColor;
    std::optional<int64_t> muteOffImageDrawable;
    std::optional<int64_t> muteOnImageDrawable;
};

}  // namespace pelmar
