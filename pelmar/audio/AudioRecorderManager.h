#pragma once

#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/audio/AudioErrorType.h"
#include "pelmar/platform/av/AudioRecorder.h"

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar {

// The description of a failure handed over as an exception_ptr (what() of the exception).
std::string errorDescription(const std::exception_ptr& error);

// AudioRecorderManager: records the one voice file "Recorded_Audio" in Documents (Apple Lossless,
// 2 channels, 44.1 kHz) and posts its input level every metering interval while recording, its
// finish and its failure as notifications (AudioNotifications.h). Prints one console line per
// step.
// Ownership: one process-wide instance (shared()); owns its platform recorder and metering timer,
//     which refers to it weakly.
// Threads: shared() and resetShared() are thread-safe (one instance however many threads ask
//     first); the rest is main thread only. A start that waits for the permission answer continues
//     on the main queue, so its completion and metering timer are on the main thread too.
// Errors: the operations throw AudioException, or the platform's av::AudioError for the audio
//     session and recorder creation; startRecording() hands the error to its completion instead.
class AudioRecorderManager : public std::enable_shared_from_this<AudioRecorderManager>,
                             public av::AudioRecorderDelegate {
public:
    using StartCompletion =
            std::function<void(std::optional<std::filesystem::path> url, std::exception_ptr error)>;

    static std::shared_ptr<AudioRecorderManager> shared();
    // Drops the shared instance (stopping what it records); the next shared() makes a new one.
    static void resetShared();

    ~AudioRecorderManager() override;

    const std::string audioFileNamePrefix = "Recorded_Audio";
    const int encoderBitRate = 320000;
    const int numberOfChannels = 2;
    const double sampleRate = 44100.0;

    double audioVisualizationTimeInterval() const { return interval_; }

    bool isPermissionGranted() const { return permissionGranted_; }

    const std::optional<std::filesystem::path>& currentRecordPath() const { return currentPath_; }

    const std::shared_ptr<av::AudioRecorder>& recorder() const { return recorder_; }

    bool hasMeteringTimer() const;

    // A recorder exists and is recording (a paused one is not running).
    bool isRunning() const;

    // The completion runs on the main queue with the answer.
    void askPermission(std::function<void(bool granted)> completion);
    // `interval`: the metering interval in seconds. A denied permission completes with
    // recordPermissionNotGranted.
    void startRecording(double interval, StartCompletion completion);
    void stopRecording();
    void pauseRecording();
    void resumeRecording();
    // Deletes the recording; refused while recording.
    void reset();

    // One metering tick.
    void timerDidUpdateMeter();

    void audioRecorderDidFinishRecording(av::AudioRecorder& recorder, bool ok) override;
    void audioRecorderEncodeErrorDidOccur(av::AudioRecorder& recorder, const Error& error) override;

private:
    AudioRecorderManager() = default;

    std::filesystem::path internalStartRecording();
    void scheduleMeteringTimer();
    void invalidateMeteringTimer();
    void post(std::string_view name);

    double interval_ = 0.05;
    std::atomic<bool> permissionGranted_{false};
    std::optional<std::filesystem::path> currentPath_;
    std::shared_ptr<av::AudioRecorder> recorder_;
    std::shared_ptr<dispatch::Timer> meteringTimer_;
};

}  // namespace pelmar
