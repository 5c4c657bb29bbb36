#include "pelmar/platform/av/PlayerLayer.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/image/PictureCodec.h"

namespace pelmar::av {

namespace {

Error nothingToShow(std::string why) {
    return Error{std::string(kAssetErrorDomain), kAssetErrorUnparsable, std::move(why)};
}

}  // namespace

PlayerLayer::PlayerLayer(std::shared_ptr<Player> player) {
    setPlayer(std::move(player));
}

std::shared_ptr<Player> PlayerLayer::player() const {
    MutexLock lock(mutex_);
    return player_;
}

void PlayerLayer::setPlayer(std::shared_ptr<Player> player) {
    if (player) {
        // The first paint then finds its picture decoded.
        player->prepareVideo();
    }
    MutexLock lock(mutex_);
    player_ = std::move(player);
}

bool PlayerLayer::isReadyForDisplay() const {
    const auto current = player();
    const auto item = current ? current->currentItem() : nullptr;
    return item && item->status.get() == PlayerItem::Status::ReadyToPlay
           && !item->asset()->tracks(TrackMediaType::Video).empty();
}

std::pair<PlayerLayer::Image, std::optional<Error>> PlayerLayer::copyCurrentImage(
        int maximumWidth, int maximumHeight) const {
    const auto current = player();
    const auto item = current ? current->currentItem() : nullptr;
    if (!item || !item->asset()) {
        return {nullptr, nothingToShow("no item to show")};
    }
    if (!isReadyForDisplay()) {
        return {nullptr, nothingToShow("no video to show")};
    }
    auto picture = current->copyCurrentPicture(maximumWidth, maximumHeight);
    if (!picture) {
        return {nullptr, Error{std::string(image::kImageErrorDomain), image::kImageErrorDecode,
                               "no frame decoded for the current time"}};
    }
    return {std::move(picture), std::nullopt};
}

void PlayerLayer::draw(ui::GraphicsContext& context, ui::Rect bounds) {
    const auto current = player();
    if (bounds.width <= 0 || bounds.height <= 0 || !current) {
        return;
    }
    // Decoded at twice the layer's size at most: enough for a sharp snapshot. A picture that
    // covers the bounds overflows one side of them, so only the longer side bounds it then.
    int width = static_cast<int>(std::ceil(bounds.width * 2));
    int height = static_cast<int>(std::ceil(bounds.height * 2));
    if (gravity_ != LayerVideoGravity::ResizeAspect) {
        width = height = std::max(width, height);
    }
    // The player keeps the picture for its current time ready: nothing is opened or decoded here.
    const auto picture = current->currentPicture(width, height);
    if (picture && picture->width() > 0 && picture->height() > 0) {
        drawVideoPicture(context, *picture, gravity_, bounds);
    }
}

}  // namespace pelmar::av
