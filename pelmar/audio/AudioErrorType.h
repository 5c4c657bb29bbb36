#pragma once

#include <stdexcept>
#include <string>

namespace pelmar {

// The audio managers' failures, each with its fixed user-facing description.
enum class AudioErrorType {
    alreadyRecording,
    alreadyPlaying,
    notCurrentlyPlaying,
    audioFileWrongPath,
    recordFailed,
    playFailed,
    recordPermissionNotGranted,
    internalError,
};

// The description shown to the user, e.g. "Invalid path for audio file".
const char* description(AudioErrorType type);

// AudioException: an AudioErrorType thrown by the audio managers; what() is its description.
// Ownership: a plain exception value.
// Threads: thread-compatible.
// Errors: none.
class AudioException : public std::runtime_error {
public:
    explicit AudioException(AudioErrorType type)
        : std::runtime_error(description(type)), type_(type) {}

    AudioErrorType type() const { return type_; }

    bool operator==(const AudioException& other) const { return type_ == other.type_; }

private:
    AudioErrorType type_;
};

}  // namespace pelmar
