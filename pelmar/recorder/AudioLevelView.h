#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "pelmar/platform/ui/LayoutConstraint.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// AudioLevelView: a bar whose length follows the sound level (0 to 1): it rises to a louder level
// at once and falls by 0.05 per measurement, so it empties from full over 20 measurements.
// Content from the interface file "AudioLevelView"; the bar's length is set through
// `widthConstraint` (0 at level 1, minus the content's width at level 0).
// Ownership: reference object made with create(); the bar update it queues holds it weakly.
// Threads: setCurrentLevel() from any thread (one measuring thread at a time); the bar and the
// constraint change on the main queue; everything else main thread only.
// Errors: none.
class AudioLevelView : public ui::View {
public:
    static constexpr double kFallPerMeasurement = 0.05;

    static std::shared_ptr<AudioLevelView> create(ui::Rect frame);

    explicit AudioLevelView(ui::Rect frame) : ui::View(frame) {}

    std::shared_ptr<ui::View> contentView;
    std::weak_ptr<ui::View> progressBar;
    std::weak_ptr<ui::LayoutConstraint> widthConstraint;

    // The level shown.
    double currentAudioLevel() const { return currentAudioLevel_.load(); }

    // The last measured level.
    double currentLevel() const { return currentLevel_.load(); }

    // Stores a measurement and moves the shown level towards it.
    void setCurrentLevel(double level);

    void layoutSubviews() override;

protected:
    std::string className() const override { return "AudioLevelView"; }

private:
    void initNib();
    void updateLevel();
    void layoutBar();

    std::atomic<double> currentAudioLevel_{0};
    std::atomic<double> currentLevel_{0};
    std::shared_ptr<ui::LayoutConstraint> constraint_;  // owned here; the outlet is weak
};

}  // namespace pelmar
