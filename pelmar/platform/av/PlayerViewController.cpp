#include "pelmar/platform/av/PlayerViewController.h"

namespace pelmar::av {

void PlayerViewController::setPlayer(std::shared_ptr<Player> player) {
    player_ = std::move(player);
    if (playerView_) {
        playerView_->setPlayer(player_);
    }
}

void PlayerViewController::loadView() {
    playerView_ = std::make_shared<PlayerView>();
    playerView_->setPlayer(player_);
    setView(playerView_);
}

}  // namespace pelmar::av
