#include "pelmar/platform/av/PlayerLayer.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/av/URLAsset.h"

namespace pelmar::av {

namespace {

Error nothingToShow(std::string why) {
    return Error{std::string(kAssetErrorDomain), kAssetErrorUnparsable, std::move(why)};
}

// The file (or URL) and the time in it that show `seconds` of `asset`.
std::optional<std::pair<std::string, double>> pictureSource(const Asset& asset, double seconds) {
    if (const auto* file = dynamic_cast<const URLAsset*>(&asset)) {
        return std::make_pair(file->location(), seconds);
    }
    if (const auto* composition = dynamic_cast<const MutableComposition*>(&asset)) {
        for (const auto& track : composition->compositionTracks()) {
            if (track->mediaType() != TrackMediaType::Video) {
                continue;
            }
            const auto segments = track->segments();
            for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
                if (it->at.seconds() <= seconds || std::next(it) == segments.rend()) {
                    const double offset = std::max(0.0, seconds - it->at.seconds());
                    return std::make_pair(it->source->sourceURL(),
                                          it->sourceRange.start.seconds() + offset);
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<Player> PlayerLayer::player() const {
    MutexLock lock(mutex_);
    return player_;
}

void PlayerLayer::setPlayer(std::shared_ptr<Player> player) {
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
    const auto source = pictureSource(*item->asset(), current->currentTime().seconds());
    if (!source) {
        return {nullptr, nothingToShow("no video to show")};
    }
    // The picture showing at the current time, not the nearest key frame; at the very end the
    // movie's last picture stays on screen.
    ImageGenerator generator(source->first);
    generator.appliesPreferredTrackTransform = true;
    generator.maximumWidth = maximumWidth;
    generator.maximumHeight = maximumHeight;
    generator.requestedTimeToleranceBefore = media::Time::zero();
    generator.requestedTimeToleranceAfter = media::Time::zero();
    auto shown = generator.copyImage(source->second);
    const double end = item->duration().isNumeric() ? item->duration().seconds() : 0;
    if (!shown.first && end > 0 && source->second >= end) {
        shown = generator.copyImage(std::max(0.0, end - 1e-3));
    }
    return shown;
}

void PlayerLayer::draw(ui::GraphicsContext& context, ui::Rect bounds) {
    if (bounds.width <= 0 || bounds.height <= 0 || !isReadyForDisplay()) {
        return;
    }
    // Decoded at twice the layer's size at most: enough for a sharp snapshot. A picture that
    // covers the bounds overflows one side of them, so only the longer side bounds it then.
    int width = static_cast<int>(std::ceil(bounds.width * 2));
    int height = static_cast<int>(std::ceil(bounds.height * 2));
    if (gravity_ != LayerVideoGravity::ResizeAspect) {
        width = height = std::max(width, height);
    }
    auto [picture, error] = copyCurrentImage(width, height);
    if (picture && picture->width() > 0 && picture->height() > 0) {
        drawVideoPicture(context, *picture, gravity_, bounds);
    }
}

}  // namespace pelmar::av
