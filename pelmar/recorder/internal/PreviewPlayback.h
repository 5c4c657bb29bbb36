#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::recorder::internal {

// PreviewPlayback: the player of a recording preview screen: one paused player of a file with
// the view that shows it, played and paused by the screen's play button.
// Ownership: owned by the screen; owns the player, its view (while it is in the placeholder) and
// the observation of the item's end.
// Threads: main thread only, except `ended`, called on the thread that posts the end.
// Errors: none: a file the player cannot play leaves the picture empty.
class PreviewPlayback {
public:
    PreviewPlayback() = default;

    ~PreviewPlayback();

    PreviewPlayback(const PreviewPlayback&) = delete;
    PreviewPlayback& operator=(const PreviewPlayback&) = delete;

    // A fresh paused player of `url` in place of any other, its view filling `placeholder` when
    // there is one (and taking no touches unless `viewTakesTouches`). `ended` hears that the
    // item played to its end.
    void load(const std::filesystem::path& url,
              const std::shared_ptr<ui::View>& placeholder,
              bool viewTakesTouches,
              std::function<void()> ended);

    // Stops and removes the player and its view; false when there was none.
    bool unload();

    // Plays or pauses, as the play button asks; false without a player.
    bool toggle();

    // Paused, back at the start; `forgetPlaying` also clears isPlaying().
    void rewind(bool forgetPlaying);

    const std::shared_ptr<av::Player>& player() const { return player_; }

    const std::shared_ptr<av::PlayerView>& view() const { return view_; }

    // The play button last asked the player to play.
    bool isPlaying() const { return playing_; }

private:
    std::shared_ptr<av::Player> player_;
    std::shared_ptr<av::PlayerView> view_;
    foundation::ObserverToken endToken_;
    bool playing_ = false;
};

}  // namespace pelmar::recorder::internal
