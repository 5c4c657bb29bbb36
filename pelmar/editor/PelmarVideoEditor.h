#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/editor/ObjectCache.h"
#include "pelmar/editor/RangeSlider.h"
#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/PlayerLayer.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"

// PelmarVideoEditor: the trim screen. It plays a local video, shows six frames of it in a strip,
// lets the user choose a start and an end second (within the first five) with a RangeSlider,
// exports that range as an MP4 into Documents/output and saves the result to the photo library;
// once the library has it, the screen dismisses itself and an alert on the facade's parent
// screen confirms the save. Nothing is handed back to the creator.
// Ownership: made with create(); holds the facade, the player, the asset and the slider; the
// export and the library save in flight hold the screen until their completions have run.
// Threads: main thread only; the export completes on the export session's queue and the save on
// the library's queue, and both come back to the main queue before touching a view.
// Errors: none reported to the caller; failures of media work are console lines ("failed ...",
// "cancelled ...", a save the photo library refused); a video that cannot be read, or a string
// that is not a usable URL, leaves the strip empty.

namespace pelmar {

class Pelmar;

class PelmarVideoEditor : public ui::ViewController {
public:
    // The slider's fixed range ends here (seconds).
    static constexpr int64_t kSliderSeconds = 5;
    static constexpr int kThumbnailCount = 6;
    static constexpr int kSliderTag = 1000;

    // The screen for the video at `videoUrl`: a path, or an "http://" or "https://" URL (a string
    // holding either that is not a usable URL loads nothing); its view comes from
    // "PelmarVideoEditor". Loading the view reads the video and its strip on the main thread, a
    // remote one within av::URLAsset::kNetworkTimeoutSeconds of silence.
    static std::shared_ptr<PelmarVideoEditor> create(std::shared_ptr<Pelmar> application,
                                                     std::string videoUrl);

    // Use create().
    PelmarVideoEditor(std::shared_ptr<Pelmar> application, std::string path);

    ~PelmarVideoEditor() override;

    std::string videoUrl;
    // When true the next tap on the video plays, else it pauses; every tap inverts it.
    bool isPlaying = true;
    // When true the next createRangeSlider() sets the slider's limits.
    bool isSliderEnd = true;
    // For the host's own use: the screen neither starts nor reads it.
    std::shared_ptr<dispatch::Timer> playbackTimeCheckerTimer;
    // The video being edited, made from videoUrl: a file path or an http(s) URL.
    std::optional<std::string> url;
    // The player of the video view, and the layer showing its picture in the view's bounds.
    std::shared_ptr<av::Player> player;
    // For the host's own use: the screen neither sets nor reads it (the item it makes goes
    // straight into the player).
    std::shared_ptr<av::PlayerItem> playerItem;
    std::shared_ptr<av::PlayerLayer> playerLayer;
    // The loaded video: the source of the strip and of the export.
    std::shared_ptr<av::Asset> asset;
    // The range to export: the slider's values at their last change (seconds).
    double cropStartTime = 0;
    double cropEndTime = 0;
    // The video's duration, once loaded; the screen does not read it.
    std::optional<media::Time> thumbTime;
    // The constant kSliderSeconds (5), set when the video is loaded: the slider's maximum and
    // upper value in seconds, and so the end of the selectable range, whatever the video's
    // duration.
    std::optional<int64_t> thumbtimeSeconds;
    // Where the last seek went (seconds).
    double videoPlaybackPosition = 0;
    // A new empty cache from loadViews(); the screen stores nothing into it.
    std::shared_ptr<ObjectCache> cache;
    std::shared_ptr<RangeSlider> rangeSlider;

    // Outlets.
    std::weak_ptr<ui::View> videoLayer;
    std::weak_ptr<ui::Button> cropButton;
    std::weak_ptr<ui::View> frameContainerView;
    std::weak_ptr<ui::View> imageFrameView;

    void loadViews();

    void setUrl(const std::string& text);

    void viewAfterVideoIsPicked();

    void tapOnVideoLayer(ui::TapGestureRecognizer& tap);

    void createImageFrames();

    void createRangeSlider();

    void rangeSliderValueChanged(RangeSlider& slider);

    void seekVideo(double toPos);

    // Exports cropStartTime ... cropEndTime of the loaded video.
    void cropVideo();

    // Exports `startTime` ... `endTime` (seconds) of the loaded video to a new file in
    // Documents/output; `sourceURL` is not consulted (the loaded video is the source).
    void cropVideo(const std::string& sourceURL, float startTime, float endTime);

    // Saves the movie at `URL` to the photo library (the user is asked first while the library's
    // authorization is undetermined); on success dismisses the screen and shows the alert, on
    // failure prints why and keeps the screen.
    void saveToCameraRoll(const std::filesystem::path& URL);

    void onClose();

    // The whole seconds at which the strip's frames are taken for a video of `durationSeconds`
    // whole seconds: 1, 1 + step, ... 1 + 5 x step with step = durationSeconds / 6.
    static std::vector<int64_t> thumbnailSeconds(int64_t durationSeconds);

    // "Pelmar_<seconds>.mp4": the seconds since 1970 in the shortest form that reads back the
    // same, always with a fraction.
    static std::string outputFileName(double unixSeconds);

protected:
    void viewDidLoad() override;

private:
    // Console lines go through the facade's log as well when debug logs are on.
    void print(const std::string& line) const;

    std::shared_ptr<Pelmar> pelmar_;
    // The time of the last output name, so two exports never share a name.
    double lastOutputSeconds_ = 0;
};

}  // namespace pelmar
