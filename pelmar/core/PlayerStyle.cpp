#include "pelmar/core/PlayerStyle.h"

#include <array>

namespace pelmar {
namespace {

constexpr std::array<std::string_view, 7> kCodingKeys = {
        "controllerStyle",      "textColor",          "unplayedColor", "playedColor", "tintColor",
        "muteOffImageDrawable", "muteOnImageDrawable"};

Json optionalToJson(const std::optional<int64_t>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

std::optional<PlayerStyle::Pelmar_Player_Controller_Style> PlayerStyle::controllerStyleFromRaw(
        int64_t raw) {
    if (raw < 0 || raw > 6) {
        return std::nullopt;
    }
    return static_cast<Pelmar_Player_Controller_Style>(raw);
}

std::optional<std::string_view> PlayerStyle::codingKey(std::string_view text) {
    for (std::string_view key : kCodingKeys) {
        if (key == text) {
            return key;
        }
    }
    return std::nullopt;
}

PlayerStyle::PlayerStyle(int64_t controllerStyle_,
                         std::optional<int64_t> textColor_,
                         std::optional<int64_t> unplayedColor_,
                         std::optional<int64_t> playedColor_,
                         std::optional<int64_t> tintColor_,
                         std::optional<int64_t> muteOffImageDrawable_,
                         std::optional<int64_t> muteOnImageDrawable_)
    : controllerStyle(controllerStyle_),
      textColor(textColor_),
      unplayedColor(unplayedColor_),
      playedColor(playedColor_),
      tintColor(tintColor_),
      muteOffImageDrawable(muteOffImageDrawable_),
      muteOnImageDrawable(muteOnImageDrawable_) {}

std::shared_ptr<PlayerStyle> PlayerStyle::defaultStyle() {
    return std::make_shared<PlayerStyle>(
            static_cast<int64_t>(Pelmar_Player_Controller_Style::ELEVATE), std::nullopt,
            std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
}

Json PlayerStyle::encode() const {
    Json json = Json::object();
    json["controllerStyle"] = optionalToJson(controllerStyle);
    json["textColor"] = optionalToJson(textColor);
    json["unplayedColor"] = optionalToJson(unplayedColor);
    json["playedColor"] = optionalToJson(playedColor);
    json["tintColor"] = optionalToJson(tintColor);
    json["muteOffImageDrawable"] = optionalToJson(muteOffImageDrawable);
    json["muteOnImageDrawable"] = optionalToJson(muteOnImageDrawable);
    return json;
}

}  // namespace pelmar
