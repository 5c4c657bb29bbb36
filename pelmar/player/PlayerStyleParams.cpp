#include "pelmar/player/PlayerStyleParams.h"

#include "pelmar/core/PlayerStyle.h"

namespace pelmar {

PlayerStyleParams::PlayerStyleParams(std::optional<int64_t> look) : controllerStyle(look) {
    using Look = PlayerStyle::Pelmar_Player_Controller_Style;
    const auto known = look ? PlayerStyle::controllerStyleFromRaw(*look) : std::nullopt;
    if (known == Look::MODERN || known == Look::ELEVATE || known == Look::THEATRE) {
        playButtonIcon = "play-black";
        pauseButtonIcon = "pause-black";
        soundOnButtonIcon = "sound-on-black";
        soundOffButtonIcon = "sound-off-black";
    }
}

}  // namespace pelmar
