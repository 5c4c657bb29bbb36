#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureTypes.h"
#include "pelmar/platform/av/MetadataFaceObject.h"
#include "pelmar/platform/av/MicrophoneSignal.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::media {
class PixelBuffer;
}

namespace pelmar::av {

class CaptureDevice;

// CaptureEnvironment: the synthetic capture hardware of the process, configured by the host app or
// a test: which cameras and microphones exist, what the user answers to permission requests, what
// the devices produce (frame rate, microphone format, light level, faces), and which steps fail
// (fault injection). Capture devices, inputs, sessions and outputs consult it.
// Ownership: one process-wide instance (shared()), never destroyed; it owns the devices.
// Threads: thread-safe (one internal mutex, never held while calling out).
// Errors: none.
class CaptureEnvironment {
public:
    static CaptureEnvironment& shared();

    CaptureEnvironment(const CaptureEnvironment&) = delete;
    CaptureEnvironment& operator=(const CaptureEnvironment&) = delete;

    // No devices, permissions not determined (answers: granted), no faults, defaults below.
    void reset();

    // Devices, in the order added (devices(for:) lists them so).
    CaptureEnvironment& addBackCamera();
    CaptureEnvironment& addFrontCamera();
    CaptureEnvironment& addDualCamera(CaptureDevicePosition position);
    CaptureEnvironment& addDualWideCamera(CaptureDevicePosition position);
    CaptureEnvironment& addMicrophone();

    std::vector<std::shared_ptr<CaptureDevice>> devices() const;

    // Permissions: the current status, and the answer a request gets while NotDetermined
    // (delivered on a background thread after `answerDelaySeconds` on the installed clock).
    CaptureEnvironment& setAuthorizationStatus(MediaType media, AuthorizationStatus status);
    CaptureEnvironment& setRequestAnswer(MediaType media, bool granted);
    CaptureEnvironment& setAnswerDelay(double seconds);
    // The delay of `media`'s answers alone, in place of the common one.
    CaptureEnvironment& setAnswerDelay(MediaType media, double seconds);
    AuthorizationStatus authorizationStatus(MediaType media) const;
    bool requestAnswer(MediaType media) const;
    double answerDelay() const;
    double answerDelay(MediaType media) const;
    // How many access requests were made for `media`.
    int requestCount(MediaType media) const;
    void countRequest(MediaType media);

    // What the devices produce.
    CaptureEnvironment& setFrameRate(double framesPerSecond);
    CaptureEnvironment& setMicrophoneFormat(double sampleRate, int channels);
    // The EXIF brightness attached to camera frames; none leaves the attachment out.
    CaptureEnvironment& setBrightness(std::optional<double> brightness);
    // Faces reported with every camera frame while a metadata output asks for faces.
    CaptureEnvironment& setFaces(std::vector<MetadataFaceObject> faces);
    // What the cameras show: this picture (BGRA or ARGB) in every frame, at its own size, in
    // place of the moving test pattern; none goes back to the pattern. The picture must not be
    // changed once given.
    CaptureEnvironment& setCameraImage(std::shared_ptr<const media::PixelBuffer> image);
    std::shared_ptr<const media::PixelBuffer> cameraImage() const;
    // Manual feed: running sessions produce nothing; tests hand samples to the outputs.
    CaptureEnvironment& setManualFeed(bool manual);
    // What the microphones hear (by default a 440 Hz tone at a quarter of full scale).
    CaptureEnvironment& setMicrophoneSignal(MicrophoneSignal signal);
    MicrophoneSignal microphoneSignal() const;
    double frameRate() const;
    double microphoneSampleRate() const;
    int microphoneChannels() const;
    std::optional<double> brightness() const;
    std::vector<MetadataFaceObject> faces() const;
    bool manualFeed() const;

    // Faults.
    CaptureEnvironment& failDeviceInput(MediaType media, bool fail = true);
    CaptureEnvironment& refuseInput(MediaType media, bool refuse = true);
    // Sessions refuse inputs of this one device (by unique ID).
    CaptureEnvironment& refuseDevice(const std::string& uniqueID, bool refuse = true);
    CaptureEnvironment& refuseOutput(CaptureOutputKind kind, bool refuse = true);
    CaptureEnvironment& failStartRunning(bool fail = true);
    CaptureEnvironment& failLockForConfiguration(bool fail = true);
    bool deviceInputFails(MediaType media) const;
    bool inputRefused(MediaType media) const;
    bool deviceRefused(const std::string& uniqueID) const;
    bool outputRefused(CaptureOutputKind kind) const;
    bool startRunningFails() const;
    bool lockForConfigurationFails() const;

private:
    CaptureEnvironment() { reset(); }

    CaptureEnvironment& addDevice(CaptureDeviceType type,
                                  MediaType media,
                                  CaptureDevicePosition position,
                                  const char* name);
    void resetLocked() PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    std::vector<std::shared_ptr<CaptureDevice>> devices_ PELMAR_GUARDED_BY(mutex_);
    std::map<MediaType, AuthorizationStatus> status_ PELMAR_GUARDED_BY(mutex_);
    std::map<MediaType, bool> answers_ PELMAR_GUARDED_BY(mutex_);
    std::map<MediaType, int> requests_ PELMAR_GUARDED_BY(mutex_);
    double answerDelay_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::map<MediaType, double> mediaAnswerDelays_ PELMAR_GUARDED_BY(mutex_);
    double frameRate_ PELMAR_GUARDED_BY(mutex_) = 30;
    double sampleRate_ PELMAR_GUARDED_BY(mutex_) = 44100;
    int channels_ PELMAR_GUARDED_BY(mutex_) = 1;
    std::optional<double> brightness_ PELMAR_GUARDED_BY(mutex_);
    std::vector<MetadataFaceObject> faces_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<const media::PixelBuffer> cameraImage_ PELMAR_GUARDED_BY(mutex_);
    bool manualFeed_ PELMAR_GUARDED_BY(mutex_) = false;
    MicrophoneSignal microphoneSignal_ PELMAR_GUARDED_BY(mutex_);
    std::set<MediaType> failInput_ PELMAR_GUARDED_BY(mutex_);
    std::set<MediaType> refuseInput_ PELMAR_GUARDED_BY(mutex_);
    std::set<std::string> refuseDevice_ PELMAR_GUARDED_BY(mutex_);
    std::set<CaptureOutputKind> refuseOutput_ PELMAR_GUARDED_BY(mutex_);
    bool failStart_ PELMAR_GUARDED_BY(mutex_) = false;
    bool failLock_ PELMAR_GUARDED_BY(mutex_) = false;
    int nextDeviceId_ PELMAR_GUARDED_BY(mutex_) = 1;
};

}  // namespace pelmar::av
