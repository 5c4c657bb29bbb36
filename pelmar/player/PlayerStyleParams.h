#pragma once

#include <cstdint>
#include <optional>
#include <string>

// PlayerStyleParams: the names of the player screen's four control icons for a controller look:
// black icons for the light looks (MODERN, ELEVATE, THEATRE), white ones for every other look,
// an unset one and numbers outside the enumeration.
// Ownership: reference object held by std::shared_ptr by its screen.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar {

class PlayerStyleParams {
public:
    // White icons, no look.
    PlayerStyleParams() = default;

    // Stores `look` (a controller-look raw value) as `controllerStyle` and picks its icon names.
    explicit PlayerStyleParams(std::optional<int64_t> look);

    std::optional<int64_t> controllerStyle;
    std::string playButtonIcon = "play-white";
    std::string pauseButtonIcon = "pause-white";
    std::string soundOnButtonIcon = "sound-on";
    std::string soundOffButtonIcon = "sound-off";
};

}  // namespace pelmar
