#include "pelmar/platform/av/PlayerView.h"

#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar::av {

std::shared_ptr<PlayerLayer> PlayerView::playerLayer() {
    return std::static_pointer_cast<PlayerLayer>(layer());
}

std::shared_ptr<ui::Layer> PlayerView::makeLayer() {
    return std::make_shared<PlayerLayer>();
}

void PlayerView::draw(ui::GraphicsContext& context) {
    // Black where the picture does not reach; the layer paints the picture over it.
    context.setFillColor(ui::Color::black());
    context.fillRect(bounds());
}

}  // namespace pelmar::av
