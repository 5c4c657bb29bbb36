#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar::ui {
class ActivityIndicatorView;
class Image;
class ImageView;
class Label;
class Slider;
class View;
}  // namespace pelmar::ui

namespace pelmar {

class Pelmar;

// PelmarAudioPlayer: the full-screen playlist player for audio URLs (interface file
// "PelmarAudioPlayer"), playing one entry at a time through the shared PelmarAudioEngine:
// play/pause, 10-second rewind and forward, previous and next (wrapping around), a position
// slider and timer, and the facade's player delegate told of readiness, play, pause, position,
// the end and the user's close. At the end of an entry it plays the next one; a one-entry list
// closes. The first entry starts when the screen loads; an empty list plays nothing and closes
// once shown.
// Ownership: made with create(); holds the facade strongly; outlets are weak (the view tree owns
//     the views); its timer, observers and engine completions refer to it weakly. Once closed it
//     keeps no timer or observer, and a preparation that finishes afterwards is paused.
// Threads: main thread only; engine notifications posted elsewhere are handled on the main
//     queue.
// Errors: none reported: an entry that cannot be played shows "Paused".
class PelmarAudioPlayer : public ui::ViewController {
public:
    // How near to 100 a load share must be to count as the whole entry loaded (which tells the
    // delegate it is ready).
    static constexpr double kLoadedTolerance = 1e-4;

    // `application` may be null (no delegate calls).
    static std::shared_ptr<PelmarAudioPlayer> create(std::shared_ptr<Pelmar> application,
                                                     std::vector<std::string> paths);

    ~PelmarAudioPlayer() override;

    // Outlets, bound by the interface file.
    std::weak_ptr<ui::Label> statusLabel;
    std::weak_ptr<ui::Label> currentTimeLabel;
    std::weak_ptr<ui::Label> totalTimeLabel;
    std::weak_ptr<ui::Label> durationLabel;
    std::weak_ptr<ui::ImageView> playImageView;
    std::weak_ptr<ui::Slider> timeSlider;
    std::weak_ptr<ui::View> beforeButtonView;
    std::weak_ptr<ui::View> rewindButtonView;
    std::weak_ptr<ui::View> playButtonView;
    std::weak_ptr<ui::View> forwardButtonView;
    std::weak_ptr<ui::View> nextButtonView;
    std::weak_ptr<ui::ActivityIndicatorView> loadingIndicator;

    const std::vector<std::string>& audioPaths() const { return paths_; }

    int64_t currentItemIndex() const { return currentItemIndex_; }

    bool hasSliderTimer() const;

    // Whether it listens to the engine's notifications (between appearing and disappearing).
    bool isObserving() const { return !tokens_.empty(); }

    // "m:ss" of whole seconds, minutes unbounded: 5 gives "0:05", 3600 "60:00".
    static std::string timeLabelString(int64_t seconds);

    // "%02d:%02d:%02d" of whole seconds.
    static std::string longTimeString(int64_t seconds);

    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    // Actions.
    void onChangeCurrentTime();
    void onPlayOrPause();
    void onClose();
    void onPlayBeforeItem();
    void onPlayRewind();
    void onPlayForward();
    void onPlayNextItem();

    void close(bool notify);
    void loadAudio();
    void setupSlider();
    void sliderTimerTriggered();
    void updateCurrentTimeLabel(float seconds);
    void showLoadingIndicator();
    void hideLoadingIndicator();
    void stopTimer();
    void updatePlayButton();

    void episodeLoadedNotification(const foundation::Notification& notification);
    void playerDidReachEndNotification(const foundation::Notification& notification);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    struct Key {};

public:
    PelmarAudioPlayer(Key, std::shared_ptr<Pelmar> application, std::vector<std::string> paths);

private:
    template <typename Call>
    void tellDelegate(Call call);
    void setPlayImage(const std::string& name);

    std::shared_ptr<Pelmar> pelmar_;
    std::vector<std::string> paths_;
    std::shared_ptr<dispatch::Timer> sliderTimer_;
    double seekTimeInterval_ = 10.0;
    int64_t currentItemIndex_ = 0;
    float beforeSeekTime_ = 0;
    bool closed_ = false;
    std::vector<foundation::NotificationCenter::Token> tokens_;
};

}  // namespace pelmar
