#include "pelmar/core/VideoPlayerConfig.h"

#include <utility>

namespace pelmar {

VideoPlayerConfig::VideoPlayerConfig() : playerStyle(PlayerStyle::defaultStyle()) {}

VideoPlayerConfig::VideoPlayerConfig(bool shouldShowSubtitles_,
                                     bool isMuted_,
                                     std::shared_ptr<PlayerStyle> playerStyle_)
    : shouldShowSubtitles(shouldShowSubtitles_),
      isMuted(isMuted_),
      playerStyle(playerStyle_ ? std::move(playerStyle_) : PlayerStyle::defaultStyle()) {}

std::optional<std::string_view> VideoPlayerConfig::codingKey(std::string_view text) {
    for (std::string_view key : {"shouldShowSubtitles", "isMuted", "playerStyle"}) {
        if (key == text) {
            return key;
        }
    }
    return std::nullopt;
}

Json VideoPlayerConfig::encode() const {
    Json json = Json::object();
    json["shouldShowSubtitles"] = shouldShowSubtitles;
    json["isMuted"] = isMuted;
    json["playerStyle"] = playerStyle->encode();
    return json;
}

}  // namespace pelmar
