#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "pelmar/platform/foundation/Console.h"
#include "testing/App.h"

namespace pelmar::test {

// AudioTestApp: the screen harness with the audio pieces back to their first state: the audio
// managers and engine, the audio session, recorder and player faults and the now-playing
// information; a microphone (a 440 Hz tone) whose permission is granted or denied; the console
// captured.
// Ownership: RAII like App, one at a time.
// Threads: main thread only.
// Errors: helpers report failures to GoogleTest.
class AudioTestApp : public App {
public:
    explicit AudioTestApp(bool microphoneAllowed = true);
    ~AudioTestApp();

    std::filesystem::path documents() const;

    // Puts a plain file where the Documents folder should be, so that it cannot be used.
    bool breakDocuments() const;

    // Starts the recorder manager (0.05 s metering) and waits for its completion; true with a
    // file.
    bool startRecording();

    bool logsConsole(const std::string& text) const { return console_.contains(text); }

    const foundation::Console::Capture& console() const { return console_; }

private:
    static void resetAudio();
    foundation::Console::Capture console_;
};

}  // namespace pelmar::test
