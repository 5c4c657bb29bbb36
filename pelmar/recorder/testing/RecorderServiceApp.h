#pragma once

#include <memory>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/testing/RecordingUploadingDelegate.h"
#include "pelmar/recorder/testing/RecorderApp.h"
#include "testing/ServiceEmulator.h"

namespace pelmar::test {

// RecorderServiceApp: a RecorderApp whose recorders upload to the service emulator on loopback:
// `facade` (app token "app-1") points at it and has the App's recorder and sensor listener and a
// recording uploading delegate. makeRecorder() and present() use `facade`.
// Ownership: owns the emulator and the facade; stops the recorder's session and lets queued work
// finish before the emulator stops.
// Threads: main thread only.
// Errors: the constructor fails the test when the emulator cannot start.
class RecorderServiceApp : public RecorderApp {
public:
    RecorderServiceApp();
    ~RecorderServiceApp();

    std::shared_ptr<PelmarRecorder> makeServiceRecorder() { return makeRecorder(facade); }

    ServiceEmulator emulator;
    std::shared_ptr<Pelmar> facade;
    std::shared_ptr<RecordingUploadingDelegate> uploads =
            std::make_shared<RecordingUploadingDelegate>();
};

}  // namespace pelmar::test
