#include "pelmar/platform/av/CaptureEnvironment.h"

#include <string>
#include <utility>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::av {

CaptureEnvironment& CaptureEnvironment::shared() {
    static auto* environment = new CaptureEnvironment();  // never destroyed
    return *environment;
}

void CaptureEnvironment::reset() {
    MutexLock lock(mutex_);
    resetLocked();
}

void CaptureEnvironment::resetLocked() {
    devices_.clear();
    status_.clear();
    answers_.clear();
    requests_.clear();
    answerDelay_ = 0;
    mediaAnswerDelays_.clear();
    frameRate_ = 30;
    sampleRate_ = 44100;
    channels_ = 1;
    brightness_ = 2.0;
    faces_.clear();
    cameraImage_.reset();
    manualFeed_ = false;
    microphoneSignal_ = MicrophoneSignal{};
    failInput_.clear();
    refuseInput_.clear();
    refuseDevice_.clear();
    refuseOutput_.clear();
    failStart_ = false;
    failLock_ = false;
}

CaptureEnvironment& CaptureEnvironment::addDevice(CaptureDeviceType type,
                                                  MediaType media,
                                                  CaptureDevicePosition position,
                                                  const char* name) {
    MutexLock lock(mutex_);
    const std::string id = "synthetic-" + std::to_string(nextDeviceId_++);
    devices_.push_back(CaptureDevice::make(id, name, type, media, position));
    return *this;
}

CaptureEnvironment& CaptureEnvironment::addBackCamera() {
    return addDevice(CaptureDeviceType::BuiltInWideAngleCamera, MediaType::Video,
                     CaptureDevicePosition::Back, "Back Camera");
}

CaptureEnvironment& CaptureEnvironment::addFrontCamera() {
    return addDevice(CaptureDeviceType::BuiltInWideAngleCamera, MediaType::Video,
                     CaptureDevicePosition::Front, "Front Camera");
}

CaptureEnvironment& CaptureEnvironment::addDualCamera(CaptureDevicePosition position) {
    return addDevice(CaptureDeviceType::BuiltInDualCamera, MediaType::Video, position,
                     "Dual Camera");
}

CaptureEnvironment& CaptureEnvironment::addDualWideCamera(CaptureDevicePosition position) {
    return addDevice(CaptureDeviceType::BuiltInDualWideCamera, MediaType::Video, position,
                     "Dual Wide Camera");
}

CaptureEnvironment& CaptureEnvironment::addMicrophone() {
    return addDevice(CaptureDeviceType::BuiltInMicrophone, MediaType::Audio,
                     CaptureDevicePosition::Unspecified, "Microphone");
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureEnvironment::devices() const {
    MutexLock lock(mutex_);
    return devices_;
}

CaptureEnvironment& CaptureEnvironment::setAuthorizationStatus(MediaType media,
                                                               AuthorizationStatus status) {
    MutexLock lock(mutex_);
    status_[media] = status;
    return *this;
}

CaptureEnvironment& CaptureEnvironment::setRequestAnswer(MediaType media, bool granted) {
    MutexLock lock(mutex_);
    answers_[media] = granted;
    return *this;
}

CaptureEnvironment& CaptureEnvironment::setAnswerDelay(double seconds) {
    MutexLock lock(mutex_);
    answerDelay_ = seconds;
    return *this;
}

AuthorizationStatus CaptureEnvironment::authorizationStatus(MediaType media) const {
    MutexLock lock(mutex_);
    auto it = status_.find(media);
    return it == status_.end() ? AuthorizationStatus::NotDetermined : it->second;
}

bool CaptureEnvironment::requestAnswer(MediaType media) const {
    MutexLock lock(mutex_);
    auto it = answers_.find(media);
    return it == answers_.end() || it->second;
}

double CaptureEnvironment::answerDelay() const {
    MutexLock lock(mutex_);
    return answerDelay_;
}

CaptureEnvironment& CaptureEnvironment::setAnswerDelay(MediaType media, double seconds) {
    MutexLock lock(mutex_);
    mediaAnswerDelays_[media] = seconds;
    return *this;
}

double CaptureEnvironment::answerDelay(MediaType media) const {
    MutexLock lock(mutex_);
    auto it = mediaAnswerDelays_.find(media);
    return it == mediaAnswerDelays_.end() ? answerDelay_ : it->second;
}

int CaptureEnvironment::requestCount(MediaType media) const {
    MutexLock lock(mutex_);
    auto it = requests_.find(media);
    return it == requests_.end() ? 0 : it->second;
}

void CaptureEnvironment::countRequest(MediaType media) {
    MutexLock lock(mutex_);
    ++requests_[media];
}

CaptureEnvironment& CaptureEnvironment::setFrameRate(double framesPerSecond) {
    MutexLock lock(mutex_);
    if (framesPerSecond > 0 && framesPerSecond <= 240) {
        frameRate_ = framesPerSecond;
    }
    return *this;
}

CaptureEnvironment& CaptureEnvironment::setMicrophoneFormat(double sampleRate, int channels) {
    MutexLock lock(mutex_);
    if (sampleRate >= 8000 && sampleRate <= 192000 && channels >= 1 && channels <= 2) {
        sampleRate_ = sampleRate;
        channels_ = channels;
    }
    return *this;
}

CaptureEnvironment& CaptureEnvironment::setBrightness(std::optional<double> brightness) {
    MutexLock lock(mutex_);
    brightness_ = brightness;
    return *this;
}

CaptureEnvironment& CaptureEnvironment::setFaces(std::vector<MetadataFaceObject> faces) {
    MutexLock lock(mutex_);
    faces_ = std::move(faces);
    return *this;
}

CaptureEnvironment& CaptureEnvironment::setCameraImage(
        std::shared_ptr<const media::PixelBuffer> image) {
    MutexLock lock(mutex_);
    cameraImage_ = std::move(image);
    return *this;
}

std::shared_ptr<const media::PixelBuffer> CaptureEnvironment::cameraImage() const {
    MutexLock lock(mutex_);
    return cameraImage_;
}

CaptureEnvironment& CaptureEnvironment::setManualFeed(bool manual) {
    MutexLock lock(mutex_);
    manualFeed_ = manual;
    return *this;
}

double CaptureEnvironment::frameRate() const {
    MutexLock lock(mutex_);
    return frameRate_;
}

double CaptureEnvironment::microphoneSampleRate() const {
    MutexLock lock(mutex_);
    return sampleRate_;
}

int CaptureEnvironment::microphoneChannels() const {
    MutexLock lock(mutex_);
    return channels_;
}

std::optional<double> CaptureEnvironment::brightness() const {
    MutexLock lock(mutex_);
    return brightness_;
}

std::vector<MetadataFaceObject> CaptureEnvironment::faces() const {
    MutexLock lock(mutex_);
    return faces_;
}

bool CaptureEnvironment::manualFeed() const {
    MutexLock lock(mutex_);
    return manualFeed_;
}

CaptureEnvironment& CaptureEnvironment::setMicrophoneSignal(MicrophoneSignal signal) {
    MutexLock lock(mutex_);
    microphoneSignal_ = std::move(signal);
    return *this;
}

MicrophoneSignal CaptureEnvironment::microphoneSignal() const {
    MutexLock lock(mutex_);
    return microphoneSignal_;
}

namespace {

template <class Set, class Key>
void toggle(Set& set, const Key& key, bool on) {
    if (on) {
        set.insert(key);
    } else {
        set.erase(key);
    }
}

}  // namespace

CaptureEnvironment& CaptureEnvironment::failDeviceInput(MediaType media, bool fail) {
    MutexLock lock(mutex_);
    toggle(failInput_, media, fail);
    return *this;
}

CaptureEnvironment& CaptureEnvironment::refuseInput(MediaType media, bool refuse) {
    MutexLock lock(mutex_);
    toggle(refuseInput_, media, refuse);
    return *this;
}

CaptureEnvironment& CaptureEnvironment::refuseDevice(const std::string& uniqueID, bool refuse) {
    MutexLock lock(mutex_);
    toggle(refuseDevice_, uniqueID, refuse);
    return *this;
}

CaptureEnvironment& CaptureEnvironment::refuseOutput(CaptureOutputKind kind, bool refuse) {
    MutexLock lock(mutex_);
    toggle(refuseOutput_, kind, refuse);
    return *this;
}

CaptureEnvironment& CaptureEnvironment::failStartRunning(bool fail) {
    MutexLock lock(mutex_);
    failStart_ = fail;
    return *this;
}

CaptureEnvironment& CaptureEnvironment::failLockForConfiguration(bool fail) {
    MutexLock lock(mutex_);
    failLock_ = fail;
    return *this;
}

bool CaptureEnvironment::deviceInputFails(MediaType media) const {
    MutexLock lock(mutex_);
    return failInput_.count(media) != 0;
}

bool CaptureEnvironment::inputRefused(MediaType media) const {
    MutexLock lock(mutex_);
    return refuseInput_.count(media) != 0;
}

bool CaptureEnvironment::deviceRefused(const std::string& uniqueID) const {
    MutexLock lock(mutex_);
    return refuseDevice_.count(uniqueID) != 0;
}

bool CaptureEnvironment::outputRefused(CaptureOutputKind kind) const {
    MutexLock lock(mutex_);
    return refuseOutput_.count(kind) != 0;
}

bool CaptureEnvironment::startRunningFails() const {
    MutexLock lock(mutex_);
    return failStart_;
}

bool CaptureEnvironment::lockForConfigurationFails() const {
    MutexLock lock(mutex_);
    return failLock_;
}

}  // namespace pelmar::av
