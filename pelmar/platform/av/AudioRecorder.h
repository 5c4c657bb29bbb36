#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/av/AudioError.h"
#include "pelmar/platform/av/MicrophoneSignal.h"

namespace pelmar::av {

class AudioRecorder;

// The recorder's delegate. Both calls arrive on the main queue.
class AudioRecorderDelegate {
public:
    virtual ~AudioRecorderDelegate() = default;

    virtual void audioRecorderDidFinishRecording(AudioRecorder& /*recorder*/, bool /*ok*/) {}

    virtual void audioRecorderEncodeErrorDidOccur(AudioRecorder& /*recorder*/,
                                                  const Error& /*error*/) {}
};

// Four-character format codes.
inline constexpr uint32_t kAudioFormatAppleLossless = 0x616c6163;  // 'alac'
inline constexpr uint32_t kAudioFormatLinearPCM = 0x6c70636d;      // 'lpcm'

struct AudioRecorderSettings {
    uint32_t formatID = kAudioFormatAppleLossless;
    int quality = 127;
    int bitRate = 320000;
    int channels = 2;
    double sampleRate = 44100;
};

// AudioRecorder: records the synthetic microphone (CaptureEnvironment's signal; silence without
// record permission) into a QuickTime audio file (Apple Lossless or 16-bit PCM) through
// libavformat. Sound is taken on the installed clock: what the microphone produced since the last
// look is encoded whenever the recorder is looked at (updateMeters, currentTime, pause, stop),
// nothing while paused. Metering reports the average and peak power of channel 0 in dBFS (floor
// -160) since the last updateMeters(). stop() finishes the file and then tells the delegate on the
// main queue. Ownership: made with create(), held by shared_ptr; refers to its delegate weakly.
// Threads: main thread only.
// Errors: create() throws AudioError (recorderCreationFailed) for an unsupported format or an
//     injected fault; prepareToRecord() and record() return false; an encoding failure during
//     recording stops the recording and reaches the delegate's encode-error call.
class AudioRecorder : public std::enable_shared_from_this<AudioRecorder> {
public:
    // Injected failures, process-wide; a test sets them and resets them with {}.
    struct Faults {
        bool failCreate = false;
        bool failPrepare = false;
        bool failRecord = false;
        // An encoding error once this many seconds have been recorded.
        std::optional<double> encodeErrorAfterSeconds;
        // The finish call reports failure.
        bool finishUnsuccessfully = false;
    };

    static void setFaults(Faults faults);
    static Faults faults();

    static std::shared_ptr<AudioRecorder> create(std::string path, AudioRecorderSettings settings);

    ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    const std::string& url() const { return path_; }

    const AudioRecorderSettings& settings() const { return settings_; }

    void setDelegate(std::weak_ptr<AudioRecorderDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    bool isMeteringEnabled() const { return metering_; }

    void setMeteringEnabled(bool enabled) { metering_ = enabled; }

    // Creates the file (replacing one at the path); false when it cannot be written.
    bool prepareToRecord();
    // Starts or resumes; prepares first when needed.
    bool record();
    void pause();
    // Finishes the file. The delegate hears of it on the main queue.
    void stop();
    // Removes the file; false while recording or when it cannot be removed.
    bool deleteRecording();

    bool isRecording() const { return recording_; }

    // Seconds recorded (pauses excluded).
    double currentTime();

    void updateMeters();
    float averagePower(int channel) const;
    float peakPower(int channel) const;

private:
    struct Encoder;
    AudioRecorder(std::string path, AudioRecorderSettings settings);

    // Encodes what the microphone produced up to now.
    void pull();
    void fail(const std::string& message);
    void finish(bool ok);

    const std::string path_;
    const AudioRecorderSettings settings_;
    std::weak_ptr<AudioRecorderDelegate> delegate_;
    std::unique_ptr<Encoder> encoder_;
    std::unique_ptr<MicrophoneRenderer> microphone_;
    bool metering_ = false;
    bool recording_ = false;
    bool finished_ = false;
    double segmentStart_ = 0;    // clock time of the last record()
    int64_t segmentFrames_ = 0;  // frames written before it
    int64_t frames_ = 0;         // frames written in all
    double sumSquares_ = 0;      // channel 0 since the last updateMeters()
    int64_t meterFrames_ = 0;
    double meterPeak_ = 0;
    float average_ = -160;
    float peak_ = -160;
};

}  // namespace pelmar::av
