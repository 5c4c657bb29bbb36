#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/core/PlayerStyle.h"
#include "pelmar/platform/foundation/Observable.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/TextView.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/player/PlayerProgressBar.h"
#include "pelmar/player/PlayerStyleParams.h"

// PelmarPlayerController: the full-screen styled player screen. It embeds a player view
// controller over the given player (behind its own controls, unless playback controls are
// hidden) and draws its own controls from the interface file of the configured look: a
// play/pause image, a mute image, a progress bar, one or two time labels and a close button.
// The time labels and the bar follow the player once a second on the main queue; a tap on the
// bar or a drag of it seeks; close pauses the player and dismisses the screen. The screen never
// tells the player delegate anything itself: the player it shows does.
// Ownership: made with std::make_shared on the main thread; holds the player and the embedded
//     controller strongly, the facade not at all (it reads the look once, when made). Outlets
//     are weak. The periodic observer it adds holds the screen weakly and is removed at close
//     and when the screen ends.
// Threads: main thread only.
// Errors: none reported by the screen; without a player it loads an empty view and builds
//     nothing. A time that is not a finite number shows and seeks as 0. An item that cannot play
//     leaves the screen at 0:00; a PelmarPlayer writes that failure to the log.

namespace pelmar {
class Pelmar;
}  // namespace pelmar

namespace pelmar::av {
class Player;
class PlayerViewController;
}  // namespace pelmar::av

namespace pelmar::ui {
class GestureRecognizer;
class Slider;
}  // namespace pelmar::ui

namespace pelmar {

class PelmarPlayerController : public ui::ViewController {
public:
    // Reads the facade's current controller look to pick the interface file (nibName()).
    PelmarPlayerController(const Pelmar& application, std::shared_ptr<av::Player> player);

    ~PelmarPlayerController() override;

    // The interface file of a controller look (raw value); "PelmarPlayerController" for
    // DEFAULT, an unset look and numbers outside the enumeration.
    static std::string nibNameForStyle(std::optional<int64_t> controllerStyle);

    // m:ss of `seconds` truncated toward zero ("0:00", "1:05", "60:00"); 0 for a value that is
    // not finite or is negative.
    static std::string timeLabelString(float seconds);

    // The opaque colour of 0xRRGGBB; bits above 23 are ignored.
    static ui::Color UIColorFromRGB(int64_t rgbValue);

    // The picture of the resource `name` from the SDK's resource folder; null for a name with no
    // picture. The screen loads "close" and its style's icons through it.
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    // Stores the style and picks its icon names. Before the view loads.
    void setPlayerStyle(std::shared_ptr<PlayerStyle> style);

    // Whether the embedded player view is put on screen. Before the view loads.
    void setShowsPlaybackControls(bool showsPlaybackControls);

    bool showsPlaybackControls() const { return showsPlaybackControls_; }

    const std::shared_ptr<av::Player>& player() const { return player_; }

    const std::shared_ptr<av::PlayerViewController>& playerViewController() const {
        return playerViewController_;
    }

    const std::shared_ptr<PlayerStyle>& style() const { return style_; }

    const std::shared_ptr<PlayerStyleParams>& styleParams() const { return styleParams_; }

    float currentVolume() const { return currentVolume_; }

    // What the play/pause image shows: true while the player plays (its rate is not 0 and its
    // item has not failed), however playback was started.
    bool isPlaying() const;

    // Actions. The gesture ones act only when the recogniser's state is Ended.
    void dismissButtonTapped();

    void sliderTapped(ui::GestureRecognizer& recognizer);

    void sliderValueDidChange(ui::Slider& slider);

    void imageTapped(ui::GestureRecognizer& sender);

    void playPauseTapped(ui::GestureRecognizer& recognizer);

    // Starts or pauses the player by what it is doing now, and remembers which.
    void updateStatus();

    // Shows the pause icon while playing, the play icon otherwise.
    void updateUI();

    // The once-a-second update of the labels and the bar; public so that it can be driven.
    void setDurationView();

    // Outlets, bound by the interface file.
    std::weak_ptr<ui::View> playerBackground;
    std::weak_ptr<ui::ImageView> muteButton;
    std::weak_ptr<ui::TextView> durationTextView;
    std::weak_ptr<ui::ImageView> playPauseButton;
    std::weak_ptr<PlayerProgressBar> progressBarSlider;
    std::weak_ptr<ui::TextView> endDurationTextView;
    // Not an outlet: the close button made in code.
    std::weak_ptr<ui::View> closeButton;

protected:
    void viewDidLoad() override;

private:
    using Look = PlayerStyle::Pelmar_Player_Controller_Style;

    // The style's look; DEFAULT for an unset one or a number outside the enumeration.
    Look look() const;

    void setCloseButtonView();

    void setProgressBarView();

    // The player's current time in seconds, 0 when not finite.
    float currentSeconds() const;

    // Seeks to whole `seconds` with zero tolerance.
    void seekToWholeSeconds(float seconds);

    void removeTimeObserver();

    bool showsPlaybackControls_ = true;
    std::shared_ptr<av::Player> player_;
    std::shared_ptr<av::PlayerViewController> playerViewController_;
    float currentVolume_ = 0;
    std::shared_ptr<PlayerStyle> style_;
    std::shared_ptr<PlayerStyleParams> styleParams_;
    foundation::Observable<bool>::Token progressBarHighlightedObserver_;
    // The periodic observer's registration with the player, while it lasts.
    std::shared_ptr<void> timeObserver_;
};

}  // namespace pelmar
