#include "pelmar/audio/PelmarAudioRecorder.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "pelmar/audio/AudioErrorType.h"
#include "pelmar/audio/Chronometer.h"
#include "pelmar/audio/ErrorAlert.h"
#include "pelmar/audio/ViewModel.h"
#include "pelmar/audio/internal/PelmarAudioRecorderNib.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/platform/av/AudioPlayer.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Slider.h"

namespace pelmar {

namespace {

constexpr double kPlayTimerSeconds = 1.0;

void setHidden(const std::weak_ptr<ui::View>& view, bool hidden) {
    if (auto v = view.lock()) {
        v->setHidden(hidden);
    }
}

template <typename V>
void setHidden(const std::weak_ptr<V>& view, bool hidden) {
    setHidden(std::weak_ptr<ui::View>(view.lock()), hidden);
}

void setText(const std::weak_ptr<ui::Label>& label, std::string text) {
    if (auto l = label.lock()) {
        l->setText(std::move(text));
    }
}

}  // namespace

std::shared_ptr<PelmarAudioRecorder> PelmarAudioRecorder::create(
        std::shared_ptr<Pelmar> application) {
    return std::make_shared<PelmarAudioRecorder>(Key{}, std::move(application));
}

PelmarAudioRecorder::PelmarAudioRecorder(Key, std::shared_ptr<Pelmar> application)
    : ui::ViewController("PelmarAudioRecorder"),
      pelmar_(std::move(application)),
      viewModel_(ViewModel::create()) {
    audio::internal::registerPelmarAudioRecorderNib();
}

PelmarAudioRecorder::~PelmarAudioRecorder() {
    if (playTimer_) {
        playTimer_->invalidate();
    }
}

template <typename Call>
void PelmarAudioRecorder::tellDelegate(Call call) {
    if (!pelmar_) {
        return;
    }
    if (auto delegate = pelmar_->recorderDelegate()) {
        call(*delegate);
    }
}

bool PelmarAudioRecorder::hasPlayTimer() const {
    return playTimer_ && playTimer_->isValid();
}

std::string PelmarAudioRecorder::getTimeString(int64_t seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>((seconds % 3600) / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::shared_ptr<const ui::Image> PelmarAudioRecorder::getImageFromResource(
        const std::string& name) {
    return ui::Image::named(name);
}

AudioVisualizationView::AudioVisualizationMode PelmarAudioRecorder::getAudioVisualizationMode()
        const {
    switch (state_) {
        case AudioRecorderState::ready:
        case AudioRecorderState::recording:
        case AudioRecorderState::recordingPaused:
            return AudioVisualizationView::AudioVisualizationMode::write;
        default:
            return AudioVisualizationView::AudioVisualizationMode::read;
    }
}

void PelmarAudioRecorder::setImage(const std::weak_ptr<ui::ImageView>& view,
                                   const std::string& name) {
    if (auto v = view.lock()) {
        v->setImage(getImageFromResource(name));
    }
}

void PelmarAudioRecorder::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setCurrentState(AudioRecorderState::ready);
    viewModel_->askAudioRecordingPermission();
    std::weak_ptr<PelmarAudioRecorder> weak =
            std::static_pointer_cast<PelmarAudioRecorder>(shared_from_this());
    viewModel_->audioMeteringLevelUpdate = [weak](float level) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto waveform = self->audioVisualizationView.lock();
        if (waveform
            && waveform->audioVisualizationMode
                       == AudioVisualizationView::AudioVisualizationMode::write) {
            waveform->add(level);
        }
    };
    viewModel_->audioDidFinish = [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->setCurrentState(AudioRecorderState::recorded);
        if (auto waveform = self->audioVisualizationView.lock()) {
            waveform->stop();
        }
    };
    viewModel_->audioDidFail = [weak] {
        if (auto self = weak.lock()) {
            self->recordingFailed();
        }
    };
    currentTime_ = 0;
    duration_ = 0;
    if (auto slider = timeSlider.lock()) {
        slider->setValue(0);
    }
}

void PelmarAudioRecorder::recordingFailed() {
    if (state_ != AudioRecorderState::recording && state_ != AudioRecorderState::recordingPaused) {
        return;
    }
    // The recorder has stopped on its own; what it wrote is unusable. Its metering ends with a
    // stop (which has nothing more to stop), and the broken file goes.
    if (chronometer_) {
        chronometer_->stop();
        chronometer_.reset();
    }
    try {
        viewModel_->stopRecording();
    } catch (const std::exception&) {
    }
    try {
        viewModel_->resetRecording();
    } catch (const std::exception&) {
    }
    if (auto waveform = audioVisualizationView.lock()) {
        waveform->reset();
    }
    setCurrentState(AudioRecorderState::ready);
    showAlert(shared_from_this(), description(AudioErrorType::recordFailed));
}

void PelmarAudioRecorder::startPlayTimer(bool reportDuration) {
    std::weak_ptr<PelmarAudioRecorder> weak =
            std::static_pointer_cast<PelmarAudioRecorder>(shared_from_this());
    playTimer_ = dispatch::Timer::scheduled(kPlayTimerSeconds, true, [weak, reportDuration] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->currentTime_ += 1;
        self->updateCurrentTimeText();
        if (reportDuration) {
            const auto seconds = static_cast<double>(self->currentTime_);
            self->tellDelegate([seconds](PelmarRecorderDelegate& d) {
                d.recorderCurrentRecordedDurationSeconds(seconds);
            });
        }
    });
}

bool PelmarAudioRecorder::readRecordedDuration() {
    if (!viewModel_->audioFilePathLocal) {
        return false;
    }
    try {
        auto player = av::AudioPlayer::create(viewModel_->audioFilePathLocal->string());
        duration_ = static_cast<int64_t>(player->duration());
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void PelmarAudioRecorder::setCurrentState(AudioRecorderState state) {
    state_ = state;
    if (auto waveform = audioVisualizationView.lock()) {
        waveform->audioVisualizationMode = getAudioVisualizationMode();
    }
    setHidden(reloadContainerView, true);
    setHidden(resumeContainerView, true);
    setHidden(uploadContainerView, true);
    setHidden(timeSlider, true);
    setHidden(durationLabel, true);
    switch (state) {
        case AudioRecorderState::ready:
            setImage(recordImageView, "audio-record-start-black");
            currentTime_ = 0;
            stopTimer();
            updateCurrentTimeText();
            setText(statusLabel, "");
            tellDelegate([](PelmarRecorderDelegate& d) { d.recorderReady(); });
            return;
        case AudioRecorderState::recording:
            setHidden(resumeContainerView, false);
            setImage(resumeImageview, "audio-record-pause-black");
            setImage(recordImageView, "audio-record-stop-black");
            setText(statusLabel, "Recording");
            tellDelegate([](PelmarRecorderDelegate& d) { d.recorderStarted(); });
            stopTimer();
            startPlayTimer(true);
            return;
        case AudioRecorderState::recordingPaused:
            setHidden(resumeContainerView, false);
            setImage(resumeImageview, "audio-record-resume-black");
            setText(statusLabel, "Recording Paused");
            stopTimer();
            tellDelegate([](PelmarRecorderDelegate& d) { d.recorderPaused(); });
            return;
        default:
            break;
    }
    setHidden(reloadContainerView, false);
    setHidden(uploadContainerView, false);
    setHidden(timeSlider, false);
    setHidden(durationLabel, false);
    switch (state) {
        case AudioRecorderState::recorded: {
            setText(statusLabel, "");
            setImage(recordImageView, "play-black");
            if (!readRecordedDuration()) {
                return;
            }
            setText(durationLabel, getTimeString(duration_));
            currentTime_ = 0;
            stopTimer();
            updateCurrentTimeText();
            const std::string path = viewModel_->audioFilePathLocal->string();
            tellDelegate([&path](PelmarRecorderDelegate& d) { d.recorderStopped(path); });
            return;
        }
        case AudioRecorderState::playing:
            setImage(recordImageView, "pause-black");
            setText(statusLabel, "Playing");
            stopTimer();
            startPlayTimer(false);
            tellDelegate([](PelmarRecorderDelegate& d) { d.recorderPlaying(); });
            return;
        case AudioRecorderState::playingPaused:
            setImage(recordImageView, "play-black");
            setText(statusLabel, "");
            stopTimer();
            tellDelegate([](PelmarRecorderDelegate& d) { d.recorderPaused(); });
            return;
        default:
            return;
    }
}

void PelmarAudioRecorder::onRecord() {
    auto waveform = audioVisualizationView.lock();
    switch (state_) {
        case AudioRecorderState::ready: {
            std::weak_ptr<PelmarAudioRecorder> weak =
                    std::static_pointer_cast<PelmarAudioRecorder>(shared_from_this());
            viewModel_->startRecording([weak](std::optional<std::filesystem::path>,
                                              std::optional<std::vector<float>>,
                                              std::exception_ptr error) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                if (error) {
                    showAlert(self, error);
                    return;
                }
                self->setCurrentState(AudioRecorderState::recording);
                self->chronometer_ = std::make_shared<Chronometer>();
                self->chronometer_->start();
            });
            return;
        }
        case AudioRecorderState::recording:
        case AudioRecorderState::recordingPaused:
            // A failed stop has shown its alert and left the screen in `ready`.
            stopRecording();
            if (state_ != AudioRecorderState::ready) {
                setCurrentState(AudioRecorderState::recorded);
            }
            return;
        case AudioRecorderState::recorded:
        case AudioRecorderState::playingPaused: {
            const double seconds = viewModel_->startPlaying();
            setCurrentState(AudioRecorderState::playing);
            if (waveform) {
                waveform->setMeteringLevels(
                        viewModel_->meteringLevels.value_or(std::vector<float>{}));
                waveform->play(seconds);
            }
            return;
        }
        case AudioRecorderState::playing:
            setCurrentState(AudioRecorderState::playingPaused);
            try {
                viewModel_->pausePlaying();
            } catch (const std::exception&) {
                showAlert(shared_from_this(), std::current_exception());
                return;
            }
            if (waveform) {
                waveform->pause();
            }
            return;
    }
}

void PelmarAudioRecorder::stopRecording() {
    if (chronometer_) {
        chronometer_->stop();
        chronometer_.reset();
    }
    if (auto waveform = audioVisualizationView.lock()) {
        viewModel_->meteringLevels = waveform->scaleSoundDataToFitScreen();
        waveform->audioVisualizationMode = AudioVisualizationView::AudioVisualizationMode::read;
    }
    try {
        if (state_ == AudioRecorderState::recordingPaused) {
            viewModel_->resumeRecording();
        }
        viewModel_->stopRecording();
    } catch (const std::exception&) {
        auto error = std::current_exception();
        setCurrentState(AudioRecorderState::ready);
        showAlert(shared_from_this(), error);
    }
}

void PelmarAudioRecorder::onPauseOrResume() {
    try {
        if (state_ == AudioRecorderState::recording) {
            setCurrentState(AudioRecorderState::recordingPaused);
            viewModel_->pauseRecording();
        } else if (state_ == AudioRecorderState::recordingPaused) {
            setCurrentState(AudioRecorderState::recording);
            viewModel_->resumeRecording();
        }
    } catch (const std::exception&) {
        // The recorder keeps what it was doing; the screen has nothing to show for it.
    }
}

void PelmarAudioRecorder::onRerecord() {
    if (state_ != AudioRecorderState::recorded && state_ != AudioRecorderState::playing
        && state_ != AudioRecorderState::playingPaused) {
        return;
    }
    currentTime_ = 0;
    updateCurrentTimeText();
    stopTimer();
    setCurrentState(AudioRecorderState::ready);
    try {
        viewModel_->pausePlaying();
        viewModel_->resetRecording();
    } catch (const std::exception&) {
        showAlert(shared_from_this(), std::current_exception());
        return;
    }
    if (auto waveform = audioVisualizationView.lock()) {
        waveform->reset();
    }
    tellDelegate([](PelmarRecorderDelegate& d) { d.recorderRerecord(); });
}

void PelmarAudioRecorder::onClose() {
    // A paused recording is stopped too, so that its file is finished and the recorder idle.
    if (state_ == AudioRecorderState::recording || state_ == AudioRecorderState::recordingPaused) {
        stopRecording();
    }
    stopTimer();
    tellDelegate([](PelmarRecorderDelegate& d) { d.recorderCancelledByUser(); });
    dismiss(true);
}

void PelmarAudioRecorder::onUpload() {
    if (state_ == AudioRecorderState::ready || state_ == AudioRecorderState::recording
        || !viewModel_->audioFilePathLocal) {
        return;
    }
    if (state_ == AudioRecorderState::recordingPaused) {
        // A paused recording's file is not finished yet: stop it first, and send nothing when
        // that fails.
        stopRecording();
        if (state_ == AudioRecorderState::ready) {
            return;
        }
        setCurrentState(AudioRecorderState::recorded);
    }
    stopTimer();
    const std::string path = viewModel_->audioFilePathLocal->string();
    tellDelegate([](PelmarRecorderDelegate& d) { d.recorderManuallySubmitted(); });
    std::weak_ptr<PelmarAudioRecorder> weak =
            std::static_pointer_cast<PelmarAudioRecorder>(shared_from_this());
    dispatch::Queue::main()->async([weak, path] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (self->pelmar_) {
            if (auto handler = self->pelmar_->uploadingHandler()) {
                handler->upload(Media_Type::Audio, path, self->pelmar_->uploadingConfig(), nullptr,
                                nullptr, nullptr);
            }
        }
        self->dismiss(true);
    });
}

void PelmarAudioRecorder::timeChanged() {
    auto slider = timeSlider.lock();
    if (!slider) {
        return;
    }
    currentTime_ = static_cast<int64_t>(static_cast<double>(slider->value())
                                        * static_cast<double>(duration_));
    viewModel_->setCurrentTime(static_cast<double>(currentTime_));
    updateCurrentTimeText();
}

void PelmarAudioRecorder::updateCurrentTimeText() {
    setText(timeLabel, getTimeString(currentTime_));
    if (auto slider = timeSlider.lock()) {
        slider->setValue(duration_ != 0
                                 ? static_cast<float>(currentTime_) / static_cast<float>(duration_)
                                 : 0.0f);
    }
}

void PelmarAudioRecorder::stopTimer() {
    if (playTimer_) {
        playTimer_->invalidate();
        playTimer_.reset();
    }
}

}  // namespace pelmar
