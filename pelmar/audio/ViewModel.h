#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar {

// ViewModel: the audio recorder screen's link to the two audio managers: the current
// recording's file and level history, one call per user action, and the managers' level and
// finish notifications turned into two closures. Only notifications about its own activity
// reach it: recorder notifications while it has a recording of its own, player notifications
// once it has started a playback. A recorder's finish that comes once a playback has started
// (the recorder finishes its file after the stop) is not passed on: it would end that playback.
// A recorder failure reaches a third closure.
// Ownership: made with create(); its observers refer to it weakly and are removed with it.
// Threads: main thread only; the closures run on the thread that posts (the main thread).
// Errors: the recording operations throw what the recorder manager throws; playback errors are
//     swallowed by startPlaying() (result 0).
class ViewModel : public std::enable_shared_from_this<ViewModel> {
public:
    using StartCompletion = std::function<void(std::optional<std::filesystem::path> url,
                                               std::optional<std::vector<float>> levels,
                                               std::exception_ptr error)>;

    static std::shared_ptr<ViewModel> create();

    double audioVisualizationTimeInterval = 0.05;
    std::optional<std::filesystem::path> audioFilePathLocal;
    std::optional<std::vector<float>> meteringLevels;
    std::function<void(float)> audioMeteringLevelUpdate;
    std::function<void()> audioDidFinish;
    // Called when the recorder fails while writing this view model's recording.
    std::function<void()> audioDidFail;

    bool isPlaying() const { return isPlaying_; }

    void askAudioRecordingPermission(std::function<void(bool)> completion = nullptr);
    void startRecording(StartCompletion completion);
    void stopRecording();
    void pauseRecording();
    void resumeRecording();
    void resetRecording();
    // Seconds: the duration of a new playback, the time left of a resumed one, 0 when nothing
    // plays (no recording, or a playback error).
    double startPlaying();
    void setCurrentTime(double seconds);
    void pausePlaying();

    void didReceiveMeteringLevelUpdate(const foundation::Notification& notification);
    void didFinishRecordOrPlayAudio(const foundation::Notification& notification);
    void didFailRecording(const foundation::Notification& notification);

private:
    ViewModel() = default;
    bool ownsActivity(const foundation::Notification& notification) const;

    bool isPlaying_ = false;
    std::vector<foundation::NotificationCenter::Token> tokens_;
};

}  // namespace pelmar
