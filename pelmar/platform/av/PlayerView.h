#pragma once

#include <memory>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerLayer.h"
#include "pelmar/platform/ui/View.h"

// PlayerView: a view whose layer is a PlayerLayer (video gravity resize-aspect). Drawing (a
// snapshot) paints black, and the layer the player's current picture over it.
// Ownership: made with std::make_shared; its layer holds the player.
// Threads: main thread only.
// Errors: none; a picture that cannot be decoded leaves the view black.

namespace pelmar::av {

class PlayerView : public ui::View {
public:
    using ui::View::View;

    std::shared_ptr<PlayerLayer> playerLayer();

    std::shared_ptr<Player> player() { return playerLayer()->player(); }

    void setPlayer(std::shared_ptr<Player> player) { playerLayer()->setPlayer(std::move(player)); }

    std::string className() const override { return "PlayerView"; }

protected:
    std::shared_ptr<ui::Layer> makeLayer() override;
};

}  // namespace pelmar::av
