#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"
#include "pelmar/platform/ui/DisplayLink.h"
#include "pelmar/platform/ui/ImageView.h"

namespace pelmar {

// PelmarAnimatedImageView: an image view that plays a PelmarCachedAnimatedImage frame by frame
// on a display link (main run loop, at the rate the animation's time grid needs), and behaves as
// a plain image view with a still image. It animates only while it can be seen (in a window, in
// a superview, not hidden, alpha above 0) and not paused, shows the cover until playback starts,
// honours the loop count, and pauses by itself until the image has decoded a missing frame.
// Stopping (hidden, out of the window, paused) clears the image's frame cache; coming back
// resumes at the same play head. A new image starts from its beginning.
// setImage(), setHidden() and setAlpha() take effect on animation only when called on this type.
// Ownership: made with std::make_shared; holds its animated image and display link; the link and
//     the image's callbacks hold the view weakly. A replaced image is released on the global
//     queue, so that its frame cache is torn down off the main thread.
// Threads: main thread only; the image's callbacks hop to the main queue.
// Errors: none; a frame the image cannot decode keeps the previous frame on screen.
class PelmarAnimatedImageView : public ui::ImageView {
public:
    static constexpr std::size_t kNoFrame = static_cast<std::size_t>(-1);

    PelmarAnimatedImageView() = default;

    explicit PelmarAnimatedImageView(ui::Rect frame) : ui::ImageView(frame) {}

    // A view at the zero rectangle playing `image`.
    static std::shared_ptr<PelmarAnimatedImageView> createWithAnimatedImage(
            std::shared_ptr<PelmarCachedAnimatedImage> image);

    const std::shared_ptr<PelmarCachedAnimatedImage>& animatedImage() const {
        return animatedImage_;
    }

    // Null drops the animation and clears the picture. Setting the image it already plays, once
    // that is ready, changes nothing.
    void setAnimatedImage(std::shared_ptr<PelmarCachedAnimatedImage> image);

    const std::string& animatedImageRunLoopMode() const { return runLoopMode_; }

    // None means ui::kRunLoopCommonModes.
    void setAnimatedImageRunLoopMode(std::optional<std::string> mode);

    bool isPlaybackPaused() const { return playbackPaused_; }

    void setPlaybackPaused(bool paused);

    void startAnimating();
    void stopAnimating();

    // The display link exists and is not paused.
    bool isAnimating() const;

    // The frame (or cover) on screen with an animated image, else the still image.
    std::shared_ptr<const ui::Image> image() const { return ui::ImageView::image(); }

    // A non-null image first drops the animated one.
    void setImage(std::shared_ptr<const ui::Image> image);

    void setHidden(bool hidden);
    void setAlpha(double alpha);

    // Position inside the current loop, seconds.
    double playHead() const { return playHead_; }

    uint64_t playedLoops() const { return playedLoops_; }

    // kNoFrame when none is on screen.
    std::size_t lastSuccessfulFrameIndex() const { return lastFrameIndex_; }

    // The first frame whose end time is not before `seconds`.
    std::size_t frameIndexAtPlayHeadPosition(double seconds) const;

    const std::shared_ptr<ui::DisplayLink>& displayLink() const { return displayLink_; }

    // Starts or stops animation by what can be seen and what is ready.
    void checkIfShouldAnimate();

    bool canBeVisible();

protected:
    void didMoveToWindow() override;
    void didMoveToSuperview() override;

    std::string className() const override { return "PelmarAnimatedImageView"; }

private:
    std::weak_ptr<PelmarAnimatedImageView> weakSelf();
    void initializeAnimatedImage(const std::shared_ptr<PelmarCachedAnimatedImage>& image);
    void coverImageCompleted(const PelmarCachedAnimatedImage* image, const PelmarImage& cover);
    void setCoverImage(const PelmarImage& cover);
    void showFrame(const PelmarImage& frame);
    void displayLinkFired();
    void resetPlayback();

    double playHead_ = 0;
    uint64_t playedLoops_ = 0;
    std::size_t lastFrameIndex_ = kNoFrame;
    std::vector<double> durations_;  // cumulative end time of each frame
    bool playbackPaused_ = false;
    std::shared_ptr<PelmarCachedAnimatedImage> animatedImage_;
    std::shared_ptr<ui::DisplayLink> displayLink_;
    std::string runLoopMode_{ui::kRunLoopCommonModes};
    PelmarImage frameImage_;
    std::optional<double> lastDisplayLinkFire_;
};

}  // namespace pelmar
