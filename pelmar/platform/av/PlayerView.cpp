#include "pelmar/platform/av/PlayerView.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar::av {

std::shared_ptr<PlayerLayer> PlayerView::playerLayer() {
    return std::static_pointer_cast<PlayerLayer>(layer());
}

std::shared_ptr<ui::Layer> PlayerView::makeLayer() {
    return std::make_shared<PlayerLayer>();
}

void PlayerView::draw(ui::GraphicsContext& context) {
    const ui::Rect area = bounds();
    context.setFillColor(ui::Color::black());
    context.fillRect(area);
    if (area.width <= 0 || area.height <= 0 || !playerLayer()->isReadyForDisplay()) {
        return;
    }
    // Decoded at twice the view's size at most: enough for a sharp snapshot.
    auto [picture, error] =
            playerLayer()->copyCurrentImage(static_cast<int>(std::ceil(area.width * 2)),
                                            static_cast<int>(std::ceil(area.height * 2)));
    if (!picture || picture->width() <= 0 || picture->height() <= 0) {
        return;
    }
    const double scale = std::min(area.width / picture->width(), area.height / picture->height());
    const double width = picture->width() * scale;
    const double height = picture->height() * scale;
    context.drawBitmap(*picture, {area.x + (area.width - width) / 2,
                                  area.y + (area.height - height) / 2, width, height});
}

}  // namespace pelmar::av
