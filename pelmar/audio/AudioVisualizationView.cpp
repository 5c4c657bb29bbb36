#include "pelmar/audio/AudioVisualizationView.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "pelmar/audio/AudioContext.h"
#include "pelmar/audio/Chronometer.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar {

namespace {

constexpr int kRenderedSamples = 100;
constexpr double kFilePlaybackSeconds = 2.0;

}  // namespace

std::optional<AudioVisualizationView::AudioVisualizationMode>
AudioVisualizationView::modeFromRawValue(int raw) {
    switch (raw) {
        case 0:
            return AudioVisualizationMode::read;
        case 1:
            return AudioVisualizationMode::write;
        default:
            return std::nullopt;
    }
}

AudioVisualizationView::AudioVisualizationView(ui::Rect frame) : BaseNibView(frame) {}

AudioVisualizationView::~AudioVisualizationView() = default;

void AudioVisualizationView::setMeteringLevelBarWidth(double width) {
    barWidth_ = width;
    setNeedsDisplay();
}

void AudioVisualizationView::setMeteringLevelBarInterItem(double gap) {
    barGap_ = gap;
    setNeedsDisplay();
}

void AudioVisualizationView::setMeteringLevelBarCornerRadius(double radius) {
    cornerRadius_ = radius;
    setNeedsDisplay();
}

void AudioVisualizationView::setMeteringLevelBarSingleStick(bool singleStick) {
    singleStick_ = singleStick;
    setNeedsDisplay();
}

void AudioVisualizationView::setGradientStartColor(ui::Color color) {
    startColor_ = color;
    setNeedsDisplay();
}

void AudioVisualizationView::setGradientEndColor(ui::Color color) {
    endColor_ = color;
    setNeedsDisplay();
}

void AudioVisualizationView::setMeteringLevels(std::optional<std::vector<float>> levels) {
    meteringLevels_ = std::move(levels);
    if (meteringLevels_) {
        clustered_ = *meteringLevels_;
        currentGradientPercentage = 0.0f;
        // With recorded levels present, those are what gets drawn.
        scaleSoundDataToFitScreen();
    }
}

void AudioVisualizationView::reset() {
    meteringLevels_.reset();
    currentGradientPercentage.reset();
    levels_.clear();
    clustered_.clear();
    setNeedsDisplay();
}

void AudioVisualizationView::add(float meteringLevel) {
    if (audioVisualizationMode != AudioVisualizationMode::write) {
        throw std::logic_error("trying to populate audio visualization view in read mode");
    }
    levels_.push_back(meteringLevel);
    setNeedsDisplay();
}

std::vector<float> AudioVisualizationView::scaleSoundDataToFitScreen() {
    if (levels_.empty()) {
        return {};
    }
    clustered_ = resampled(levels_, maximumNumberBars());
    setNeedsDisplay();
    return clustered_;
}

std::vector<float> AudioVisualizationView::resampled(const std::vector<float>& levels, int bars) {
    std::vector<float> result;
    if (bars <= 0 || levels.empty()) {
        return result;
    }
    const auto count = static_cast<int64_t>(levels.size());
    const auto countF = static_cast<float>(count);
    const auto barsF = static_cast<float>(bars);
    int64_t prev = 0;
    for (int i = 0; i < bars; ++i) {
        const float p = (static_cast<float>(i) / barsF) * countF;
        float value;
        if (count >= bars || p == std::floor(p)) {
            // The mean from the previous bar's level up to this one's, both included: neighbouring
            // bars share their boundary level.
            const auto last = static_cast<int64_t>(p);
            float sum = 0;
            for (int64_t k = prev; k <= last; ++k) {
                sum += levels[static_cast<size_t>(k)];
            }
            value = sum
                    / static_cast<float>(static_cast<int64_t>(p + 1 - static_cast<float>(prev)));
        } else {
            // Fewer levels than bars: linear between the two neighbours; past the end, the last.
            const auto lo = static_cast<int64_t>(std::floor(p));
            const auto hi = static_cast<int64_t>(std::ceil(p));
            const float low = levels[static_cast<size_t>(lo)];
            value = hi < count ? low
                                         + (p - static_cast<float>(lo))
                                                   * (levels[static_cast<size_t>(hi)] - low)
                               : low;
        }
        result.push_back(value);
        prev = static_cast<int64_t>(p);
    }
    return result;
}

void AudioVisualizationView::play(const std::filesystem::path& file) {
    if (audioVisualizationMode != AudioVisualizationMode::read) {
        throw std::logic_error("trying to read audio visualization in write mode");
    }
    std::weak_ptr<AudioVisualizationView> weak =
            std::static_pointer_cast<AudioVisualizationView>(shared_from_this());
    AudioContext::load(file, [weak](std::shared_ptr<AudioContext> context) {
        // A file that cannot be read leaves the view as it is.
        if (!context) {
            return;
        }
        auto levels = context->render(kRenderedSamples);
        dispatch::Queue::main()->async([weak, levels = std::move(levels)]() mutable {
            auto self = weak.lock();
            if (!self || self->audioVisualizationMode != AudioVisualizationMode::read) {
                return;
            }
            self->setMeteringLevels(std::move(levels));
            self->play(kFilePlaybackSeconds);
        });
    });
}

void AudioVisualizationView::play(double seconds) {
    if (audioVisualizationMode != AudioVisualizationMode::read) {
        throw std::logic_error("trying to read audio visualization in write mode");
    }
    if (!meteringLevels_) {
        throw std::logic_error(
                "trying to read audio visualization of non initialized sound record");
    }
    if (chronometer_) {
        chronometer_->start();
        return;
    }
    chronometer_ = std::make_shared<Chronometer>(audioVisualizationTimeInterval);
    chronometer_->start();
    std::weak_ptr<AudioVisualizationView> weak =
            std::static_pointer_cast<AudioVisualizationView>(shared_from_this());
    chronometer_->timerDidUpdate = [weak, seconds](double elapsed) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (elapsed >= seconds) {
            self->stop();
            return;
        }
        self->currentGradientPercentage = static_cast<float>(elapsed / seconds);
        self->setNeedsDisplay();
    };
}

bool AudioVisualizationView::isAnimating() const {
    return chronometer_ && chronometer_->isPlaying();
}

void AudioVisualizationView::pause() {
    // Also reached when playback outlasts the animation (or started with no duration): then
    // there is nothing to pause.
    if (!isAnimating()) {
        return;
    }
    chronometer_->pause();
}

void AudioVisualizationView::resume() {
    if (!chronometer_ || chronometer_->isPlaying()) {
        throw std::logic_error("trying to resume audio visualization view when playing");
    }
    chronometer_->resume();
}

void AudioVisualizationView::stop() {
    // Kept alive to the end of this call: stop() may run inside the chronometer's own tick.
    auto chronometer = std::move(chronometer_);
    if (chronometer) {
        chronometer->stop();
    }
    currentGradientPercentage.reset();
    setNeedsDisplay();
}

int AudioVisualizationView::maximumNumberBars() const {
    const double step = barWidth_ + barGap_;
    if (step <= 0) {
        return 0;
    }
    return static_cast<int>(frame().width / step);
}

double AudioVisualizationView::xLeftMostBar() const {
    const auto drawn = static_cast<int64_t>(drawnLevels().size());
    return (barWidth_ + barGap_)
           * static_cast<double>(std::min<int64_t>(drawn - 1, maximumNumberBars() - 1));
}

void AudioVisualizationView::draw(ui::GraphicsContext& context) {
    // Bar k shows level first + k from the left: a short history fills the row from the left,
    // and once the row is full the newest level comes in at the right.
    const auto& levels = drawnLevels();
    if (levels.empty()) {
        return;
    }
    const ui::Rect box = frame();
    const double height = box.height;
    const double step = barWidth_ + barGap_;
    const auto count = static_cast<int64_t>(levels.size());
    const int64_t first = std::max<int64_t>(0, count - maximumNumberBars());
    // The gradient runs from the left edge to the played part during playback, or to the right
    // edge of the newest bar; during playback the rest carries the start colour.
    const double endX = currentGradientPercentage
                                ? box.width * static_cast<double>(*currentGradientPercentage)
                                : xLeftMostBar() + barWidth_;

    // The bars, in black, make one mask; one gradient painted through it colours them all, so
    // the colour runs on within each bar and across the gaps.
    context.saveState();
    context.clipToRect(ui::Rect::of({}, box.size()));
    context.beginMask();
    context.setFillColor(ui::Color::black());
    for (int64_t i = first; i < count; ++i) {
        const double x = static_cast<double>(i - first) * step;
        const double a = static_cast<double>(levels[static_cast<size_t>(i)]) * height / 2;
        if (singleStick_) {
            context.fillRect({x, height / 2 - a, barWidth_, 2 * a}, cornerRadius_);
        } else {
            context.fillRect({x, height / 2 - a, barWidth_, a}, cornerRadius_);
            context.fillRect({x, height / 2, barWidth_, a}, cornerRadius_);
        }
    }
    context.endMask();
    if (endX > 0) {
        context.drawLinearGradient(
                {{0, height / 2}, {endX, height / 2}, {{0, startColor_}, {1, endColor_}}});
    }
    if (currentGradientPercentage) {
        context.setFillColor(startColor_);
        context.fillRect({endX, 0, box.width - endX, height});
    }
    context.restoreState();
}

}  // namespace pelmar
