#include "pelmar/audio/testing/AudioTestApp.h"

#include <cstdio>
#include <optional>

#include "pelmar/audio/AudioPlayerManager.h"
#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/audio/PelmarAudioEngine.h"
#include "pelmar/platform/av/AudioPlayer.h"
#include "pelmar/platform/av/AudioRecorder.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/mediaplayer/NowPlayingInfoCenter.h"

namespace pelmar::test {

void AudioTestApp::resetAudio() {
    AudioRecorderManager::resetShared();
    AudioPlayerManager::resetShared();
    PelmarAudioEngine::resetShared();
    av::AudioSession::shared().reset();
    av::AudioRecorder::setFaults({});
    av::AudioPlayer::setFaults({});
    mediaplayer::NowPlayingInfoCenter::defaultCenter().reset();
}

AudioTestApp::AudioTestApp(bool microphoneAllowed) {
    resetAudio();
    devices().addMicrophone();
    if (microphoneAllowed) {
        permissions().grant(av::MediaType::Audio);
    } else {
        permissions().deny(av::MediaType::Audio);
    }
    std::filesystem::create_directories(documents());
}

AudioTestApp::~AudioTestApp() {
    resetAudio();
    settle();
}

std::filesystem::path AudioTestApp::documents() const {
    return foundation::Sandbox::documentsDirectory();
}

bool AudioTestApp::breakDocuments() const {
    const auto folder = documents();
    std::filesystem::remove_all(folder);
    FILE* file = std::fopen(folder.c_str(), "w");
    return file != nullptr && std::fclose(file) == 0;
}

bool AudioTestApp::startRecording() {
    bool done = false;
    bool ok = false;
    AudioRecorderManager::shared()->startRecording(
            0.05, [&](std::optional<std::filesystem::path> url, std::exception_ptr) {
                done = true;
                ok = url.has_value();
            });
    runUntil([&] { return done; });
    return ok;
}

}  // namespace pelmar::test
