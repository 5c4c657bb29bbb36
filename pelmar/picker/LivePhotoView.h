#pragma once

#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/LongPressGestureRecognizer.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

class LivePhotoView;

// LivePhotoViewDelegate: hears a live photo's playback begin and end (main thread).
class LivePhotoViewDelegate {
public:
    virtual ~LivePhotoViewDelegate() = default;
    virtual void livePhotoViewWillBeginPlayback(LivePhotoView& view) = 0;
    virtual void livePhotoViewDidEndPlayback(LivePhotoView& view) = 0;
};

// LivePhotoView: shows a live photo as the system's live photo view does: its still picture,
// and its movie while it plays, which a finger held on the view starts (or startPlayback()).
// At the movie's end, or at stopPlayback(), the still comes back. Both the still and the movie
// fill the view's bounds, fitted to them by the content mode.
// Ownership: reference object from std::make_shared; owns its player while one plays; its
// delegate is held weakly.
// Threads: main thread only.
// Errors: none; a movie that cannot be played ends its playback at once.
class LivePhotoView : public ui::View {
public:
    LivePhotoView();
    ~LivePhotoView() override;

    const std::optional<photos::LivePhoto>& livePhoto() const { return livePhoto_; }

    // Shows `live`'s still; a playback under way stops.
    void setLivePhoto(std::optional<photos::LivePhoto> live);

    void setDelegate(std::weak_ptr<LivePhotoViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Hides View::setContentMode: the still and the movie follow it.
    void setContentMode(ui::ContentMode mode);

    void startPlayback();
    void stopPlayback();

    bool isPlaying() const { return player_ != nullptr; }

    const std::shared_ptr<ui::ImageView>& stillView() const { return still_; }

    const std::shared_ptr<av::PlayerView>& movieView() const { return movie_; }

    const std::shared_ptr<av::Player>& player() const { return player_; }

    void layoutSubviews() override;

protected:
    std::string className() const override { return "PHLivePhotoView"; }

private:
    void ensureSubviews();

    std::optional<photos::LivePhoto> livePhoto_;
    std::weak_ptr<LivePhotoViewDelegate> delegate_;
    std::shared_ptr<ui::ImageView> still_;
    std::shared_ptr<av::PlayerView> movie_;
    std::shared_ptr<ui::LongPressGestureRecognizer> press_;
    std::shared_ptr<av::Player> player_;
    foundation::NotificationCenter::Token endObserver_;
};

}  // namespace pelmar
