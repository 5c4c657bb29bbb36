#pragma once

#include <memory>
#include <optional>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/LongPressGestureRecognizer.h"

// LivePhotoView: shows a live photo: its still, and its movie while a finger presses the view (its
// playback gesture recogniser); letting go shows the still again.
// Ownership: made with std::make_shared; holds the live photo and, while it plays, a player and
//     the player view over the still. The recogniser's action holds the view weakly.
// Threads: main thread only.
// Errors: none; a movie that cannot be read leaves the still on screen.

namespace pelmar::internal {

class LivePhotoView : public ui::ImageView {
public:
    static std::shared_ptr<LivePhotoView> create(ui::Rect frame);

    explicit LivePhotoView(ui::Rect frame) : ui::ImageView(frame) {}

    const std::optional<photos::LivePhoto>& livePhoto() const { return livePhoto_; }

    // Shows the still of `livePhoto` (nothing for none) and stops a playback under way.
    void setLivePhoto(std::optional<photos::LivePhoto> livePhoto);

    // The press that plays the movie; disabling it leaves the still alone.
    const std::shared_ptr<ui::LongPressGestureRecognizer>& playbackGestureRecognizer() const {
        return playback_;
    }

    // The view showing the movie while it plays; null otherwise.
    const std::shared_ptr<av::PlayerView>& playerView() const { return playerView_; }

    void startPlayback();
    void stopPlayback();

    std::string className() const override { return "LivePhotoView"; }

private:
    std::optional<photos::LivePhoto> livePhoto_;
    std::shared_ptr<ui::LongPressGestureRecognizer> playback_;
    std::shared_ptr<av::PlayerView> playerView_;
};

}  // namespace pelmar::internal
