#pragma once

#include <memory>

#include "pelmar/audio/testing/AudioTestApp.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/testing/RecordingUploadingDelegate.h"
#include "testing/ServiceEmulator.h"

namespace pelmar::test {

// AudioServiceApp: an AudioTestApp with the service emulator on loopback and `facade` (app token
// "app-1") pointing at it, with a recording uploading delegate.
// Ownership: owns the emulator and the facade; the facade goes first.
// Threads: main thread only.
// Errors: the constructor fails the test when the emulator cannot start.
class AudioServiceApp : public AudioTestApp {
public:
    AudioServiceApp();
    ~AudioServiceApp();

    ServiceEmulator emulator;
    std::shared_ptr<RecordingUploadingDelegate> uploads =
            std::make_shared<RecordingUploadingDelegate>();
    std::shared_ptr<Pelmar> facade;
};

}  // namespace pelmar::test
