#include "pelmar/recorder/internal/PreviewPlayback.h"

#include <string>
#include <utility>

#include "pelmar/platform/av/PlayerItem.h"

namespace pelmar::recorder::internal {

PreviewPlayback::~PreviewPlayback() {
    if (player_) {
        player_->pause();
    }
}

void PreviewPlayback::load(const std::filesystem::path& url,
                           const std::shared_ptr<ui::View>& placeholder,
                           bool viewTakesTouches,
                           std::function<void()> ended) {
    unload();
    auto item = av::PlayerItem::create(url.string());
    endToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(av::kPlayerItemDidPlayToEndTimeNotification), item,
            [ended = std::move(ended)] { ended(); });
    player_ = std::make_shared<av::Player>(item);
    view_ = std::make_shared<av::PlayerView>();
    if (!viewTakesTouches) {
        view_->setUserInteractionEnabled(false);
    }
    view_->setPlayer(player_);
    if (placeholder) {
        // Inside the placeholder, so its own bounds (not its frame) give the picture's place.
        view_->setFrame(placeholder->bounds());
        placeholder->addSubview(view_);
    }
    playing_ = false;
}

bool PreviewPlayback::unload() {
    if (!player_) {
        return false;
    }
    player_->pause();
    endToken_.reset();
    if (view_) {
        view_->removeFromSuperview();
        view_.reset();
    }
    player_.reset();
    playing_ = false;
    return true;
}

bool PreviewPlayback::toggle() {
    if (!player_) {
        return false;
    }
    if (playing_) {
        player_->pause();
    } else {
        player_->play();
    }
    playing_ = !playing_;
    return true;
}

void PreviewPlayback::rewind(bool forgetPlaying) {
    if (player_) {
        player_->pause();
        player_->seek(media::Time::make(0, 1));
    }
    if (forgetPlaying) {
        playing_ = false;
    }
}

}  // namespace pelmar::recorder::internal
