#include "pelmar/audio/AudioErrorType.h"

namespace pelmar {

const char* description(AudioErrorType type) {
    switch (type) {
        case AudioErrorType::alreadyRecording:
            return "The application is currently recording sounds";
        case AudioErrorType::alreadyPlaying:
            return "The application is already playing a sound";
        case AudioErrorType::notCurrentlyPlaying:
            return "The application is not currently playing";
        case AudioErrorType::audioFileWrongPath:
            return "Invalid path for audio file";
        case AudioErrorType::recordFailed:
            return "Unable to record sound at the moment, please try again";
        case AudioErrorType::playFailed:
            return "Unable to play sound at the moment, please try again";
        case AudioErrorType::recordPermissionNotGranted:
            return "Unable to record sound because the permission has not been granted. This "
                   "can be changed in your settings.";
        case AudioErrorType::internalError:
            return "An error occured while trying to process audio command, please try again";
    }
    return "";
}

}  // namespace pelmar
