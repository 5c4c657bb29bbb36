#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/audio/BaseNibView.h"
#include "pelmar/platform/ui/Color.h"

namespace pelmar {

class Chronometer;

// AudioVisualizationView: a level history drawn as a row of rounded vertical bars (two halves
// around the middle, or one whole stick) that carry a horizontal gradient. In write mode a
// recorder adds one level at a time, one bar each from the left; once the row is full the newest
// bars come in from the right and the oldest scroll out; in read mode it shows a finished list of
// levels and animates playback: the played part carries the gradient, the rest the start colour.
// A level of 1.0 fills the whole height; only the last maximumNumberBars() levels are drawn.
// Ownership: reference object made with std::make_shared; owns its playback chronometer, which
//     refers to it weakly.
// Threads: main thread only; play(from) loads the file on a background queue and comes back to
//     the main queue.
// Errors: calls in the wrong mode throw std::logic_error ("trying to populate audio
//     visualization view in read mode", "trying to read audio visualization in write mode",
//     "trying to read audio visualization of non initialized sound record", "trying to resume
//     audio visualization view when playing"). pause() without a running animation, and a file
//     that play(from) cannot read, change nothing.
class AudioVisualizationView : public BaseNibView {
public:
    enum class AudioVisualizationMode : int { read = 0, write = 1 };

    // The mode of a raw value; none for values other than 0 and 1.
    static std::optional<AudioVisualizationMode> modeFromRawValue(int raw);

    explicit AudioVisualizationView(ui::Rect frame = {});
    ~AudioVisualizationView() override;

    // Bar geometry in points; each setter redraws.
    double meteringLevelBarWidth() const { return barWidth_; }

    void setMeteringLevelBarWidth(double width);

    double meteringLevelBarInterItem() const { return barGap_; }

    void setMeteringLevelBarInterItem(double gap);

    double meteringLevelBarCornerRadius() const { return cornerRadius_; }

    void setMeteringLevelBarCornerRadius(double radius);

    bool meteringLevelBarSingleStick() const { return singleStick_; }

    void setMeteringLevelBarSingleStick(bool singleStick);

    ui::Color gradientStartColor() const { return startColor_; }

    void setGradientStartColor(ui::Color color);

    ui::Color gradientEndColor() const { return endColor_; }

    void setGradientEndColor(ui::Color color);

    AudioVisualizationMode audioVisualizationMode = AudioVisualizationMode::read;
    // The tick of the playback animation, in seconds.
    double audioVisualizationTimeInterval = 0.05;
    // The played part of the width (0..1) during playback; callers redraw after changing it.
    std::optional<float> currentGradientPercentage;

    const std::optional<std::vector<float>>& meteringLevels() const { return meteringLevels_; }

    // A list becomes the drawn levels, with the percentage at 0; none only clears the list.
    void setMeteringLevels(std::optional<std::vector<float>> levels);

    // The levels added in write mode, and the levels drawn when not empty.
    const std::vector<float>& meteringLevelsArray() const { return levels_; }

    const std::vector<float>& meteringLevelsClusteredArray() const { return clustered_; }

    // Levels cleared, percentage none.
    void reset();

    // Write mode only.
    void add(float meteringLevel);

    // The recorded levels resampled to one value per bar that fits (see the source), kept as
    // the drawn levels and returned; an empty history gives an empty list and changes nothing.
    std::vector<float> scaleSoundDataToFitScreen();

    // Read mode only: the loudness outline of `file` (100 values) animated over 2 seconds.
    void play(const std::filesystem::path& file);

    // Read mode only, with levels set: animates the played part over `seconds`. Restarts a
    // paused animation instead of making a new one.
    void play(double seconds);

    void pause();

    void resume();

    // Ends the animation (the next play starts from 0) and clears the percentage.
    void stop();

    // Whether an animation exists, and whether it is running.
    bool hasAnimation() const { return chronometer_ != nullptr; }

    bool isAnimating() const;

    int maximumNumberBars() const;

    // The left edge of the last drawn bar.
    double xLeftMostBar() const;

    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "AudioVisualizationView"; }

private:
    const std::vector<float>& drawnLevels() const {
        return clustered_.empty() ? levels_ : clustered_;
    }

    // `levels` resampled to one value per bar of `bars` (empty for none).
    static std::vector<float> resampled(const std::vector<float>& levels, int bars);

    double barWidth_ = 3.0;
    double barGap_ = 2.0;
    double cornerRadius_ = 2.0;
    bool singleStick_ = false;
    ui::Color startColor_{50.0 / 255, 50.0 / 255, 50.0 / 255, 1};
    ui::Color endColor_{100.0 / 255, 100.0 / 255, 100.0 / 255, 1};
    std::optional<std::vector<float>> meteringLevels_;
    std::vector<float> levels_;
    std::vector<float> clustered_;
    std::shared_ptr<Chronometer> chronometer_;
};

}  // namespace pelmar
