#include "pelmar/platform/av/PlayerView.h"

#include "pelmar/platform/ui/Color.h"

namespace pelmar::av {

std::shared_ptr<PlayerLayer> PlayerView::playerLayer() {
    return std::static_pointer_cast<PlayerLayer>(layer());
}

std::shared_ptr<ui::Layer> PlayerView::makeLayer() {
    // Black where the picture does not reach: the layer paints its background under the picture.
    auto layer = std::make_shared<PlayerLayer>();
    layer->setBackgroundColor(ui::Color::black());
    return layer;
}

}  // namespace pelmar::av
