#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/av/AudioError.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

enum class AudioSessionCategory { ambient, soloAmbient, playback, record, playAndRecord };

enum class AudioSessionMode { defaultMode, voiceChat, measurement, spokenAudio };

// Category option bits.
inline constexpr uint32_t kAudioSessionMixWithOthers = 1;
inline constexpr uint32_t kAudioSessionDuckOthers = 2;
inline constexpr uint32_t kAudioSessionAllowBluetooth = 4;
inline constexpr uint32_t kAudioSessionDefaultToSpeaker = 8;

enum class RecordPermission { undetermined, denied, granted };

// Port types of audio inputs.
inline constexpr std::string_view kAudioSessionPortBuiltInMic = "MicrophoneBuiltIn";
inline constexpr std::string_view kAudioSessionPortHeadsetMic = "MicrophoneWired";
inline constexpr std::string_view kAudioSessionPortBluetoothHFP = "BluetoothHFP";
inline constexpr std::string_view kAudioSessionPortLineIn = "LineIn";

// One audio input of the device.
struct AudioSessionPortDescription {
    std::string portType;  // one of the kAudioSessionPort... texts
    std::string portName;
    std::string uid;
};

// AudioSession: the process's audio configuration: category, mode, options and activation,
// record permission and the inputs. Record permission is the microphone permission of the
// synthetic capture environment (its answers, delay and thread); the inputs are its microphones
// (each a built-in microphone) unless a test scripts other inputs (a headset, none at all).
// Tests make the category and activation steps fail.
// Ownership: one process-wide instance (shared()), never destroyed.
// Threads: thread-safe. requestRecordPermission() answers on a background thread.
// Errors: setCategory() and setActive() throw AudioError (sessionCategoryFailed,
//     sessionActivationFailed) when made to fail; the session then keeps its previous state.
class AudioSession {
public:
    static AudioSession& shared();

    AudioSession(const AudioSession&) = delete;
    AudioSession& operator=(const AudioSession&) = delete;

    // Ambient, default mode, no options, inactive, no faults, counters at 0, no scripted inputs.
    void reset();

    void setCategory(AudioSessionCategory category,
                     AudioSessionMode mode = AudioSessionMode::defaultMode,
                     uint32_t options = 0);
    void setActive(bool active);

    AudioSessionCategory category() const;
    AudioSessionMode mode() const;
    uint32_t categoryOptions() const;
    bool isActive() const;

    RecordPermission recordPermission() const;
    // The completion runs once, on a background thread.
    void requestRecordPermission(std::function<void(bool granted)> completion);

    // The scripted inputs, else one built-in microphone per microphone of the capture environment.
    std::vector<AudioSessionPortDescription> availableInputs() const;

    // From now on availableInputs() gives `inputs` (an empty list: the device has no input);
    // std::nullopt goes back to the capture environment's microphones.
    void setAvailableInputs(std::optional<std::vector<AudioSessionPortDescription>> inputs);

    // Faults.
    void failSetCategory(bool fail = true);
    void failSetActive(bool fail = true);

private:
    AudioSession() = default;

    mutable Mutex mutex_;
    AudioSessionCategory category_ PELMAR_GUARDED_BY(mutex_) = AudioSessionCategory::ambient;
    AudioSessionMode mode_ PELMAR_GUARDED_BY(mutex_) = AudioSessionMode::defaultMode;
    uint32_t options_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool active_ PELMAR_GUARDED_BY(mutex_) = false;
    bool failCategory_ PELMAR_GUARDED_BY(mutex_) = false;
    bool failActive_ PELMAR_GUARDED_BY(mutex_) = false;
    std::optional<std::vector<AudioSessionPortDescription>> scriptedInputs_
            PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
