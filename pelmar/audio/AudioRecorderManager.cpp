#include "pelmar/audio/AudioRecorderManager.h"

#include <utility>

#include "pelmar/audio/AudioFileURL.h"
#include "pelmar/audio/AudioNotifications.h"
#include "pelmar/audio/internal/SharedInstance.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar {

using foundation::Console;

std::string errorDescription(const std::exception_ptr& error) {
    if (!error) {
        return "";
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

namespace {
audio::internal::SharedInstance<AudioRecorderManager>& sharedRecorderManager() {
    static audio::internal::SharedInstance<AudioRecorderManager> slot;
    return slot;
}
}  // namespace

std::shared_ptr<AudioRecorderManager> AudioRecorderManager::shared() {
    return sharedRecorderManager().get(
            [] { return std::shared_ptr<AudioRecorderManager>(new AudioRecorderManager()); });
}

void AudioRecorderManager::resetShared() {
    // Torn down outside the slot's lock: stopping tells the delegate, which may ask for shared().
    auto instance = sharedRecorderManager().take();
    if (instance) {
        instance->invalidateMeteringTimer();
        if (instance->recorder_ && instance->recorder_->isRecording()) {
            instance->recorder_->stop();
        }
    }
}

AudioRecorderManager::~AudioRecorderManager() {
    invalidateMeteringTimer();
}

bool AudioRecorderManager::hasMeteringTimer() const {
    return meteringTimer_ && meteringTimer_->isValid();
}

bool AudioRecorderManager::isRunning() const {
    return recorder_ && recorder_->isRecording();
}

void AudioRecorderManager::askPermission(std::function<void(bool granted)> completion) {
    std::weak_ptr<AudioRecorderManager> weak = weak_from_this();
    av::AudioSession::shared().requestRecordPermission(
            [weak, completion = std::move(completion)](bool granted) {
                dispatch::Queue::main()->async([weak, completion, granted] {
                    if (auto self = weak.lock()) {
                        self->permissionGranted_ = granted;
                    }
                    if (completion) {
                        completion(granted);
                    }
                });
            });
}

void AudioRecorderManager::startRecording(double interval, StartCompletion completion) {
    interval_ = interval;
    auto run = [this, completion] {
        try {
            auto url = internalStartRecording();
            if (completion) {
                completion(url, nullptr);
            }
        } catch (...) {
            if (completion) {
                completion(std::nullopt, std::current_exception());
            }
        }
    };
    if (permissionGranted_) {
        run();
        return;
    }
    std::weak_ptr<AudioRecorderManager> weak = weak_from_this();
    askPermission([weak, completion](bool granted) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (!granted) {
            // Recording without the permission would only capture silence.
            if (completion) {
                completion(std::nullopt, std::make_exception_ptr(AudioException(
                                                 AudioErrorType::recordPermissionNotGranted)));
            }
            return;
        }
        self->startRecording(self->interval_, completion);
    });
}

std::filesystem::path AudioRecorderManager::internalStartRecording() {
    if (recorder_ && recorder_->isRecording()) {
        throw AudioException(AudioErrorType::alreadyRecording);
    }
    av::AudioRecorderSettings settings;
    settings.formatID = av::kAudioFormatAppleLossless;
    settings.quality = 127;
    settings.bitRate = 320000;
    settings.channels = 2;
    settings.sampleRate = 44100.0;
    const auto url = AudioFileURL::documentsPath(audioFileNamePrefix);
    if (!url) {
        Console::print("Incorrect path for new audio file");
        throw AudioException(AudioErrorType::audioFileWrongPath);
    }
    auto& session = av::AudioSession::shared();
    session.setCategory(av::AudioSessionCategory::playAndRecord, av::AudioSessionMode::defaultMode,
                        av::kAudioSessionDefaultToSpeaker);
    session.setActive(true);
    // The previous recorder (paused or stopped) writes the same file: finish it and let it go
    // before the new one opens the path.
    if (recorder_) {
        recorder_->setDelegate({});
        recorder_->stop();
        recorder_.reset();
    }
    recorder_ = av::AudioRecorder::create(url->string(), settings);
    recorder_->setDelegate(std::static_pointer_cast<AudioRecorderDelegate>(shared_from_this()));
    recorder_->setMeteringEnabled(true);
    if (!recorder_->prepareToRecord()) {
        Console::print("Audio Recorder prepare failed");
        throw AudioException(AudioErrorType::recordFailed);
    }
    if (!recorder_->record()) {
        Console::print("Audio Recorder start failed");
        throw AudioException(AudioErrorType::recordFailed);
    }
    scheduleMeteringTimer();
    Console::print("Audio Recorder did start - creating file at index: "
                   + AudioFileURL::absoluteString(*url));
    currentPath_ = url;
    return *url;
}

void AudioRecorderManager::scheduleMeteringTimer() {
    invalidateMeteringTimer();
    std::weak_ptr<AudioRecorderManager> weak = weak_from_this();
    meteringTimer_ = dispatch::Timer::scheduled(interval_, true, [weak] {
        if (auto self = weak.lock()) {
            self->timerDidUpdateMeter();
        }
    });
}

void AudioRecorderManager::invalidateMeteringTimer() {
    if (meteringTimer_) {
        meteringTimer_->invalidate();
        meteringTimer_.reset();
    }
}

void AudioRecorderManager::stopRecording() {
    invalidateMeteringTimer();
    if (recorder_ && recorder_->isRecording()) {
        recorder_->stop();
        Console::print("Audio Recorder did stop successfully");
        return;
    }
    Console::print("Audio Recorder did fail to stop");
    throw AudioException(AudioErrorType::notCurrentlyPlaying);
}

void AudioRecorderManager::pauseRecording() {
    invalidateMeteringTimer();
    if (recorder_ && recorder_->isRecording()) {
        recorder_->pause();
        Console::print("Audio Recorder did pause successfully");
        return;
    }
    Console::print("Audio Recorder did fail to pause");
    throw AudioException(AudioErrorType::notCurrentlyPlaying);
}

void AudioRecorderManager::resumeRecording() {
    if (!recorder_) {
        Console::print("Audio Recorder did fail to resume");
        throw AudioException(AudioErrorType::internalError);
    }
    scheduleMeteringTimer();
    if (recorder_->isRecording()) {
        Console::print("Audio Recorder did fail to resume");
        throw AudioException(AudioErrorType::alreadyRecording);
    }
    recorder_->record();
    Console::print("Audio Recorder did resume successfully");
}

void AudioRecorderManager::reset() {
    if (recorder_ && recorder_->isRecording()) {
        Console::print("Audio Recorder tried to remove recording before stopping it");
        throw AudioException(AudioErrorType::alreadyRecording);
    }
    if (recorder_) {
        recorder_->setDelegate({});
        recorder_->deleteRecording();
    }
    recorder_.reset();
    currentPath_.reset();
    Console::print("Audio Recorder did remove current record successfully");
}

void AudioRecorderManager::timerDidUpdateMeter() {
    if (!recorder_ || !recorder_->isRecording()) {
        return;
    }
    recorder_->updateMeters();
    const float level = meteringLevel(recorder_->averagePower(0));
    foundation::NotificationCenter::defaultCenter().post(
            kAudioRecorderManagerMeteringLevelDidUpdateNotification, shared_from_this(),
            Json{{std::string(kAudioPercentageUserInfoKey), level}});
}

void AudioRecorderManager::post(std::string_view name) {
    foundation::NotificationCenter::defaultCenter().post(name, shared_from_this());
}

void AudioRecorderManager::audioRecorderDidFinishRecording(av::AudioRecorder&, bool ok) {
    if (!ok) {
        // A file that could not be finished is no recording.
        post(kAudioRecorderManagerMeteringLevelDidFailNotification);
        Console::print("Audio Recorder error");
        return;
    }
    post(kAudioRecorderManagerMeteringLevelDidFinishNotification);
    Console::print("Audio Recorder finished successfully");
}

void AudioRecorderManager::audioRecorderEncodeErrorDidOccur(av::AudioRecorder&, const Error&) {
    invalidateMeteringTimer();
    post(kAudioRecorderManagerMeteringLevelDidFailNotification);
    Console::print("Audio Recorder error");
}

}  // namespace pelmar
