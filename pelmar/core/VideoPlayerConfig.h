#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "pelmar/core/PlayerStyle.h"
#include "pelmar/platform/foundation/Json.h"

// VideoPlayerConfig: the player options (subtitles, muting, look), kept by the facade and read by
// the player road.
// Ownership: reference object held by std::shared_ptr; it holds its `PlayerStyle` by shared_ptr
//     (never null), shared with whoever passed it in.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar {

class VideoPlayerConfig {
public:
    // No subtitles, not muted, a new default style.
    VideoPlayerConfig();

    // A null style gives a new default style; a given one is shared, not copied.
    VideoPlayerConfig(bool shouldShowSubtitles,
                      bool isMuted,
                      std::shared_ptr<PlayerStyle> playerStyle);

    // The coding key of a field name; none for any other text (case-sensitive).
    static std::optional<std::string_view> codingKey(std::string_view text);

    // {"shouldShowSubtitles", "isMuted", "playerStyle": {...}} in that order.
    Json encode() const;

    bool shouldShowSubtitles = false;
    bool isMuted = false;
    std::shared_ptr<PlayerStyle> playerStyle;
};

}  // namespace pelmar
