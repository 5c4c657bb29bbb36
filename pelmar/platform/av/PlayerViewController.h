#pragma once

#include <memory>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/ui/ViewController.h"

// PlayerViewController: the system player screen: its view is a PlayerView (black, with the
// player's picture), and it keeps the player and the presentation flags a host may set. The flags
// are recorded for whoever reads them; the screen draws no controls of its own. Ownership: made
// with std::make_shared; holds its player (through its player view once loaded). Threads: main
// thread only. Errors: none.

namespace pelmar::av {

class PlayerViewController : public ui::ViewController {
public:
    PlayerViewController() = default;

    std::shared_ptr<Player> player() const { return player_; }

    void setPlayer(std::shared_ptr<Player> player);

    // The screen's view; null before the view is loaded.
    std::shared_ptr<PlayerView> playerView() const { return playerView_; }

    bool showsPlaybackControls = true;
    bool entersFullScreenWhenPlaybackBegins = false;
    bool exitsFullScreenWhenPlaybackEnds = false;
    bool allowsPictureInPicturePlayback = true;
    bool restoresFocusAfterTransition = true;
    bool updatesNowPlayingInfoCenter = true;

protected:
    void loadView() override;

private:
    std::shared_ptr<Player> player_;
    std::shared_ptr<PlayerView> playerView_;
};

}  // namespace pelmar::av
