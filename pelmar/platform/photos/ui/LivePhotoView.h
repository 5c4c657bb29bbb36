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

namespace pelmar::photos {

class LivePhotoView;

// LivePhotoViewDelegate: hears a live photo's playback begin and end (main thread).
class LivePhotoViewDelegate {
public:
    virtual ~LivePhotoViewDelegate() = default;

    virtual void livePhotoViewWillBeginPlayback(LivePhotoView& /*view*/) {}

    virtual void livePhotoViewDidEndPlayback(LivePhotoView& /*view*/) {}
};

// LivePhotoView: shows a live photo as the system's live photo view does: its still picture, and
// its silent movie while it plays. A finger held on the view (its playback gesture recogniser)
// or startPlayback() plays the movie; lifting the finger, the movie's end or stopPlayback() bring
// the still back. Both fill the view's bounds, fitted by the view's content mode.
// Ownership: reference object from create(); owns its still and movie views and, while playing,
// its player; its delegate is held weakly, and so is the view by its recogniser and observers.
// Threads: main thread only.
// Errors: none; a movie that cannot be played ends its playback at its first end notice, and a
//     live photo without a still shows an empty picture.
class LivePhotoView : public ui::View {
    struct Private {};

public:
    static std::shared_ptr<LivePhotoView> create(ui::Rect frame = {});

    // Only create() can call it (the key is private): the recogniser needs the view's shared
    // owner.
    LivePhotoView(Private, ui::Rect frame);
    ~LivePhotoView() override;

    const std::optional<LivePhoto>& livePhoto() const { return livePhoto_; }

    // Shows `live`'s still (nothing for none); a playback under way stops first.
    void setLivePhoto(std::optional<LivePhoto> live);

    void setDelegate(std::weak_ptr<LivePhotoViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Sets the view's content mode, which the still and the movie follow.
    void setContentMode(ui::ContentMode mode);

    void startPlayback();
    void stopPlayback();

    bool isPlaying() const { return player_ != nullptr; }

    // The press that plays the movie; disabling it leaves the still alone.
    const std::shared_ptr<ui::LongPressGestureRecognizer>& playbackGestureRecognizer() const {
        return playback_;
    }

    const std::shared_ptr<ui::ImageView>& stillView() const { return still_; }

    // Hidden while nothing plays.
    const std::shared_ptr<av::PlayerView>& movieView() const { return movie_; }

    // The player while the movie plays, else null.
    const std::shared_ptr<av::Player>& player() const { return player_; }

protected:
    void layoutSubviews() override;

    std::string className() const override { return "PHLivePhotoView"; }

private:
    std::optional<LivePhoto> livePhoto_;
    std::weak_ptr<LivePhotoViewDelegate> delegate_;
    std::shared_ptr<ui::ImageView> still_;
    std::shared_ptr<av::PlayerView> movie_;
    std::shared_ptr<ui::LongPressGestureRecognizer> playback_;
    std::shared_ptr<av::Player> player_;
    foundation::NotificationCenter::Token endObserver_;
};

}  // namespace pelmar::photos
