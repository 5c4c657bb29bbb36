#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "pelmar/platform/foundation/Error.h"

namespace pelmar::av {

// Errors of the audio session, recorder and player.
inline constexpr std::string_view kAudioErrorDomain = "pelmar.av.audio";

enum class AudioErrorCode : long {
    sessionCategoryFailed = 1,
    sessionActivationFailed = 2,
    recorderCreationFailed = 3,
    playerCreationFailed = 4,
    encodeFailed = 5,
};

// AudioError: what the audio session, recorder and player throw; what() is the error's
// description.
// Ownership: a plain exception value.
// Threads: thread-compatible.
// Errors: none.
class AudioError : public std::runtime_error {
public:
    explicit AudioError(Error error)
        : std::runtime_error(error.description()), error_(std::move(error)) {}

    AudioError(AudioErrorCode code, std::string message)
        : AudioError(Error{std::string(kAudioErrorDomain), static_cast<long>(code),
                           std::move(message)}) {}

    const Error& error() const { return error_; }

private:
    Error error_;
};

}  // namespace pelmar::av
