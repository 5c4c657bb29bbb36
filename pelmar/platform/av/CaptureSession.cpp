#include "pelmar/platform/av/CaptureSession.h"

#include <algorithm>
#include <string>
#include <utility>

#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/internal/SyntheticCapture.h"

namespace pelmar::av {

std::shared_ptr<CaptureSession> CaptureSession::create() {
    return std::shared_ptr<CaptureSession>(new CaptureSession());
}

CaptureSession::CaptureSession() : center_(foundation::NotificationCenter::create()) {}

CaptureSession::~CaptureSession() {
    std::shared_ptr<internal::SyntheticCapture> capture;
    {
        MutexLock lock(mutex_);
        capture = std::move(capture_);
    }
    if (capture) {
        capture->stop();
    }
}

SessionPreset CaptureSession::sessionPreset() const {
    MutexLock lock(mutex_);
    return preset_;
}

void CaptureSession::setSessionPreset(SessionPreset preset) {
    MutexLock lock(mutex_);
    preset_ = preset;
}

void CaptureSession::beginConfiguration() {
    MutexLock lock(mutex_);
    ++configurationDepth_;
}

void CaptureSession::commitConfiguration() {
    MutexLock lock(mutex_);
    if (configurationDepth_ > 0) {
        --configurationDepth_;
    }
}

int CaptureSession::configurationDepth() const {
    MutexLock lock(mutex_);
    return configurationDepth_;
}

bool CaptureSession::canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const {
    if (!input || !input->device()) {
        return false;
    }
    const MediaType media = input->device()->mediaType();
    if (CaptureEnvironment::shared().inputRefused(media)
        || CaptureEnvironment::shared().deviceRefused(input->device()->uniqueID())) {
        return false;
    }
    MutexLock lock(mutex_);
    return std::none_of(inputs_.begin(), inputs_.end(), [&](const auto& existing) {
        return existing == input || existing->device()->mediaType() == media;
    });
}

bool CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput>& input) {
    if (!canAddInput(input)) {
        return false;
    }
    MutexLock lock(mutex_);
    inputs_.push_back(input);
    mirrorFollowersLocked();
    return true;
}

void CaptureSession::removeInput(const std::shared_ptr<CaptureDeviceInput>& input) {
    MutexLock lock(mutex_);
    inputs_.erase(std::remove(inputs_.begin(), inputs_.end(), input), inputs_.end());
    mirrorFollowersLocked();
}

void CaptureSession::addCameraFollowingConnection(
        const std::shared_ptr<CaptureConnection>& connection) {
    if (!connection) {
        return;
    }
    MutexLock lock(mutex_);
    removeCameraFollowingConnectionLocked(connection.get());
    followers_.push_back(connection);
    mirrorFollowersLocked();
}

void CaptureSession::removeCameraFollowingConnection(
        const std::shared_ptr<CaptureConnection>& connection) {
    MutexLock lock(mutex_);
    removeCameraFollowingConnectionLocked(connection.get());
}

void CaptureSession::removeCameraFollowingConnectionLocked(const CaptureConnection* connection) {
    // Connections already gone go too.
    std::erase_if(followers_, [connection](const std::weak_ptr<CaptureConnection>& follower) {
        auto alive = follower.lock();
        return !alive || alive.get() == connection;
    });
}

void CaptureSession::mirrorFollowersLocked() {
    auto camera = videoDeviceLocked();
    // Like the system's preview, which adjusts its mirroring to the camera by itself.
    const bool front = camera && camera->position() == CaptureDevicePosition::Front;
    for (const auto& follower : followers_) {
        if (auto connection = follower.lock()) {
            connection->setVideoMirrored(front);
        }
    }
}

std::vector<std::shared_ptr<CaptureDeviceInput>> CaptureSession::inputs() const {
    MutexLock lock(mutex_);
    return inputs_;
}

std::shared_ptr<CaptureDevice> CaptureSession::videoDevice() const {
    MutexLock lock(mutex_);
    return videoDeviceLocked();
}

std::shared_ptr<CaptureDevice> CaptureSession::videoDeviceLocked() const {
    for (const auto& input : inputs_) {
        if (input->device()->mediaType() == MediaType::Video) {
            return input->device();
        }
    }
    return nullptr;
}

bool CaptureSession::canAddOutput(const std::shared_ptr<CaptureOutput>& output) const {
    if (!output || output->session()
        || CaptureEnvironment::shared().outputRefused(output->kind())) {
        return false;
    }
    MutexLock lock(mutex_);
    return std::none_of(outputs_.begin(), outputs_.end(),
                        [&](const auto& existing) { return existing->kind() == output->kind(); });
}

bool CaptureSession::addOutput(const std::shared_ptr<CaptureOutput>& output) {
    if (!canAddOutput(output)) {
        return false;
    }
    {
        MutexLock lock(mutex_);
        outputs_.push_back(output);
    }
    output->attach(shared_from_this());
    return true;
}

void CaptureSession::removeOutput(const std::shared_ptr<CaptureOutput>& output) {
    {
        MutexLock lock(mutex_);
        auto it = std::find(outputs_.begin(), outputs_.end(), output);
        if (it == outputs_.end()) {
            return;
        }
        outputs_.erase(it);
    }
    output->detach();
}

std::vector<std::shared_ptr<CaptureOutput>> CaptureSession::outputs() const {
    MutexLock lock(mutex_);
    return outputs_;
}

void CaptureSession::startRunning() {
    MutexLock run(runMutex_);
    if (isRunning() || CaptureEnvironment::shared().startRunningFails()) {
        return;
    }
    auto capture = std::make_shared<internal::SyntheticCapture>(weak_from_this());
    {
        MutexLock lock(mutex_);
        capture_ = capture;
    }
    if (!CaptureEnvironment::shared().manualFeed()) {
        capture->start();
    }
    setRunning(true);
}

void CaptureSession::stopRunning() {
    MutexLock run(runMutex_);
    std::shared_ptr<internal::SyntheticCapture> capture;
    {
        MutexLock lock(mutex_);
        if (!running_) {
            return;
        }
        capture = std::move(capture_);
    }
    if (capture) {
        capture->stop();
    }
    setRunning(false);
}

void CaptureSession::setRunning(bool running) {
    std::vector<std::shared_ptr<RunningObserver>> observers;
    {
        MutexLock lock(mutex_);
        running_ = running;
        for (const auto& [id, observer] : observers_) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        (*observer)(running);
    }
}

bool CaptureSession::isRunning() const {
    MutexLock lock(mutex_);
    return running_;
}

bool CaptureSession::isInterrupted() const {
    MutexLock lock(mutex_);
    return interrupted_;
}

uint64_t CaptureSession::addRunningObserver(RunningObserver observer) {
    MutexLock lock(mutex_);
    const uint64_t id = nextObserverId_++;
    observers_[id] = std::make_shared<RunningObserver>(std::move(observer));
    return id;
}

void CaptureSession::removeRunningObserver(uint64_t id) {
    MutexLock lock(mutex_);
    observers_.erase(id);
}

void CaptureSession::simulateRuntimeError(long code, std::string message) {
    stopRunning();
    Json error = {{"domain", std::string(kCaptureErrorDomain)},
                  {"code", code},
                  {"message", std::move(message)}};
    center_->post(kRuntimeErrorNotification, Json{{"error", std::move(error)}});
}

void CaptureSession::simulateInterruption(InterruptionReason reason) {
    {
        MutexLock lock(mutex_);
        interrupted_ = true;
    }
    center_->post(kWasInterruptedNotification, Json{{"reason", static_cast<int>(reason)}});
}

void CaptureSession::pumpDevices() {
    std::shared_ptr<internal::SyntheticCapture> capture;
    {
        MutexLock lock(mutex_);
        if (running_) {
            capture = capture_;
        }
    }
    if (capture) {
        capture->pump();
    }
}

void CaptureSession::simulateInterruptionEnded() {
    {
        MutexLock lock(mutex_);
        interrupted_ = false;
    }
    center_->post(kInterruptionEndedNotification);
}

}  // namespace pelmar::av
