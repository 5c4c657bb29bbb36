#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pelmar/audio/AudioVisualizationView.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar::ui {
class Image;
class ImageView;
class Label;
class Slider;
class View;
}  // namespace pelmar::ui

namespace pelmar {

class Chronometer;
class Pelmar;
class ViewModel;

// PelmarAudioRecorder: the full-screen voice recorder (interface file "PelmarAudioRecorder"). The
// user records with a live waveform, pauses and resumes, stops, listens (with a time slider),
// records again or sends the file: onUpload hands "Recorded_Audio" to the facade's upload engine
// as an audio item and closes. Every step is told to the facade's recorder delegate; every entry
// into a state makes its delegate call, so a stop is heard as recorderStopped twice (the stop
// itself and the recorder's finish) and every end of a playback once more.
// Ownership: made with create(); holds the facade strongly and its view model; outlets are weak
//     (the view tree owns the views); its timers and the view model's closures refer to it weakly.
// Threads: main thread only; the upload and dismissal after onUpload, and alerts, come on a
//     later main-queue turn.
// Errors: failures of the recorder (start, stop, rerecord) and of pausing a playback are shown
//     in an alert ("Error", the failure's description, "OK"); a failed stop ends in `ready`; an
//     encoding failure during a recording also ends in `ready` with an alert. Failures of pausing
//     and resuming a recording are ignored. A screen without a facade makes no delegate calls and
//     starts no upload.
class PelmarAudioRecorder : public ui::ViewController {
public:
    enum class AudioRecorderState {
        ready,
        recording,
        recordingPaused,
        recorded,
        playing,
        playingPaused
    };

    // `application` may be null (no delegate calls, no upload).
    static std::shared_ptr<PelmarAudioRecorder> create(std::shared_ptr<Pelmar> application);

    ~PelmarAudioRecorder() override;

    const std::shared_ptr<Pelmar>& application() const { return pelmar_; }

    // Kept for hosts that read it; the screen sets the waveform's mode from its state.
    AudioVisualizationView::AudioVisualizationMode audioVisualizationMode =
            AudioVisualizationView::AudioVisualizationMode::read;

    AudioRecorderState currentState() const { return state_; }

    const std::shared_ptr<ViewModel>& viewModel() const { return viewModel_; }

    const std::shared_ptr<Chronometer>& chronometer() const { return chronometer_; }

    // Whole seconds shown, and the recorded file's whole seconds.
    int64_t currentTime() const { return currentTime_; }

    int64_t duration() const { return duration_; }

    bool hasPlayTimer() const;

    // Outlets, bound by the interface file.
    std::weak_ptr<ui::Label> statusLabel;
    std::weak_ptr<ui::Label> timeLabel;
    std::weak_ptr<AudioVisualizationView> audioVisualizationView;
    std::weak_ptr<ui::Slider> timeSlider;
    std::weak_ptr<ui::Label> durationLabel;
    std::weak_ptr<ui::View> reloadContainerView;
    std::weak_ptr<ui::ImageView> reloadImageView;
    std::weak_ptr<ui::View> resumeContainerView;
    std::weak_ptr<ui::ImageView> resumeImageview;
    std::weak_ptr<ui::View> recordContainerView;
    std::weak_ptr<ui::ImageView> recordImageView;
    std::weak_ptr<ui::View> uploadContainerView;
    std::weak_ptr<ui::ImageView> uploadImageView;

    // Actions.
    void onClose();
    void onRerecord();
    // The main button: start, stop, play or pause, by state.
    void onRecord();
    void onPauseOrResume();
    void onUpload();
    // The slider moved: seek the playback to its share of the duration.
    void timeChanged();

    void setCurrentState(AudioRecorderState state);
    void stopRecording();
    void stopTimer();
    void updateCurrentTimeText();

    // "%02d:%02d:%02d" of whole seconds: 3725 gives "01:02:05".
    static std::string getTimeString(int64_t seconds);

    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    // write while recording (ready, recording, recordingPaused), read afterwards.
    AudioVisualizationView::AudioVisualizationMode getAudioVisualizationMode() const;

    void viewDidLoad() override;

private:
    struct Key {};

public:
    PelmarAudioRecorder(Key, std::shared_ptr<Pelmar> application);

private:
    void setImage(const std::weak_ptr<ui::ImageView>& view, const std::string& name);
    void startPlayTimer(bool reportDuration);
    // Entering `recorded`: the file's duration; false when the file cannot be opened.
    bool readRecordedDuration();
    void recordingFailed();
    template <typename Call>
    void tellDelegate(Call call);

    std::shared_ptr<Pelmar> pelmar_;
    std::shared_ptr<Chronometer> chronometer_;
    AudioRecorderState state_ = AudioRecorderState::ready;
    std::shared_ptr<ViewModel> viewModel_;
    int64_t currentTime_ = 0;
    int64_t duration_ = 0;
    std::shared_ptr<dispatch::Timer> playTimer_;
};

}  // namespace pelmar
