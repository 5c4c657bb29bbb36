#include "pelmar/platform/av/AudioPlayer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pelmar/platform/av/AssetReader.h"
#include "pelmar/platform/av/internal/AudioFaults.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Timer.h"

namespace pelmar::av {

namespace {

internal::FaultSwitch<AudioPlayer::Faults>& faultSwitch() {
    static auto* faults = new internal::FaultSwitch<AudioPlayer::Faults>();
    return *faults;
}

using internal::amplitudeToDecibels;

}  // namespace

void AudioPlayer::setFaults(Faults faults) {
    faultSwitch().set(std::move(faults));
}

AudioPlayer::Faults AudioPlayer::faults() {
    return faultSwitch().get();
}

std::shared_ptr<AudioPlayer> AudioPlayer::create(const std::string& path) {
    if (faults().failCreate) {
        throw AudioError(AudioErrorCode::playerCreationFailed,
                         "The audio player couldn't be created");
    }
    std::optional<Error> error;
    auto track = AssetReader::probeAudio(path, &error);
    if (!track || !track->duration.isNumeric()) {
        throw AudioError(AudioErrorCode::playerCreationFailed,
                         error ? error->description() : "The file's duration is unknown");
    }
    return std::shared_ptr<AudioPlayer>(
            new AudioPlayer(path, track->duration.seconds(), track->channels));
}

AudioPlayer::AudioPlayer(std::string path, double duration, int channels)
    : path_(std::move(path)), duration_(duration), channels_(channels) {}

AudioPlayer::~AudioPlayer() {
    if (endTimer_) {
        endTimer_->invalidate();
    }
}

double AudioPlayer::currentTime() const {
    if (!playing_) {
        return position_;
    }
    return std::clamp(position_ + dispatch::clock().now() - startClock_, 0.0, duration_);
}

bool AudioPlayer::play() {
    if (faults().failPlay) {
        return false;
    }
    if (playing_) {
        return true;
    }
    startClock_ = dispatch::clock().now();
    playing_ = true;
    meteredUpTo_ = position_;
    armEnd();
    return true;
}

void AudioPlayer::pause() {
    if (!playing_) {
        return;
    }
    position_ = currentTime();
    playing_ = false;
    if (endTimer_) {
        endTimer_->invalidate();
        endTimer_.reset();
    }
}

void AudioPlayer::stop() {
    pause();
}

void AudioPlayer::setCurrentTime(double seconds) {
    const double target = std::clamp(std::isfinite(seconds) ? seconds : 0.0, 0.0, duration_);
    position_ = target;
    meteredUpTo_ = target;
    if (playing_) {
        startClock_ = dispatch::clock().now();
        armEnd();
    }
}

void AudioPlayer::armEnd() {
    if (endTimer_) {
        endTimer_->invalidate();
    }
    std::weak_ptr<AudioPlayer> weak = weak_from_this();
    endTimer_ = dispatch::Timer::scheduled(std::max(0.0, duration_ - position_), false, [weak] {
        if (auto self = weak.lock()) {
            self->reachEnd();
        }
    });
}

void AudioPlayer::reachEnd() {
    endTimer_.reset();
    playing_ = false;
    position_ = 0;
    meteredUpTo_ = 0;
    if (auto delegate = delegate_.lock()) {
        delegate->audioPlayerDidFinishPlaying(*this, true);
    }
}

void AudioPlayer::loadLevels() {
    levelsLoaded_ = true;
    auto [reader, output] = AssetReader::startReadingFile(path_);
    if (!reader) {
        return;
    }
    const int channels = reader->audioTrack().channels;
    const auto block = std::max<int64_t>(
            1, static_cast<int64_t>(reader->audioTrack().sampleRate * kLevelBlockSeconds));
    double sum = 0;
    double peak = 0;
    int64_t count = 0;
    while (auto chunk = output->copyNextSampleBuffer()) {
        const auto* samples = reinterpret_cast<const int16_t*>(chunk->data().data());
        for (int64_t f = 0; f < chunk->numSamples(); ++f) {
            const double s = samples[f * channels] / 32768.0;
            sum += s * s;
            peak = std::max(peak, std::abs(s));
            if (++count == block) {
                meanSquares_.push_back(static_cast<float>(sum / static_cast<double>(count)));
                peaks_.push_back(static_cast<float>(peak));
                sum = 0;
                peak = 0;
                count = 0;
            }
        }
    }
    if (count > 0) {
        meanSquares_.push_back(static_cast<float>(sum / static_cast<double>(count)));
        peaks_.push_back(static_cast<float>(peak));
    }
}

void AudioPlayer::updateMeters() {
    if (!levelsLoaded_) {
        loadLevels();
    }
    const double now = currentTime();
    auto first = static_cast<size_t>(std::max(0.0, meteredUpTo_) / kLevelBlockSeconds);
    auto last = static_cast<size_t>(now / kLevelBlockSeconds);
    last = std::min(last, meanSquares_.size());
    if (last <= first) {
        first = last > 0 ? last - 1 : 0;
    }
    double sum = 0;
    double peak = 0;
    for (size_t i = first; i < last; ++i) {
        sum += meanSquares_[i];
        peak = std::max<double>(peak, peaks_[i]);
    }
    average_ = last > first
                       ? amplitudeToDecibels(std::sqrt(sum / static_cast<double>(last - first)))
                       : -160;
    peak_ = last > first ? amplitudeToDecibels(peak) : -160;
    meteredUpTo_ = now;
}

float AudioPlayer::averagePower(int channel) const {
    return metering_ && channel >= 0 && channel < channels_ ? average_ : -160;
}

float AudioPlayer::peakPower(int channel) const {
    return metering_ && channel >= 0 && channel < channels_ ? peak_ : -160;
}

}  // namespace pelmar::av
