#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureOutput.h"
#include "pelmar/platform/av/MetadataFaceObject.h"
#include "pelmar/platform/av/MetadataObject.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

class CaptureMetadataOutput;

// Receives what a metadata output finds in camera frames. Each method has an empty default.
class MetadataOutputObjectsDelegate {
public:
    virtual ~MetadataOutputObjectsDelegate() = default;

    // The faces of one frame.
    virtual void metadataOutput(const std::shared_ptr<CaptureMetadataOutput>& /*output*/,
                                const std::vector<MetadataFaceObject>& /*faces*/,
                                const std::shared_ptr<CaptureConnection>& /*connection*/) {}

    // The machine-readable codes (and injected objects) of one frame, in the order the decoder
    // found them. Never empty.
    virtual void metadataOutputObjects(const std::shared_ptr<CaptureMetadataOutput>& /*output*/,
                                       const std::vector<MetadataObject>& /*objects*/,
                                       const std::shared_ptr<CaptureConnection>& /*connection*/) {}
};

// CaptureMetadataOutput: reports faces (the environment's scripted faces, with every camera frame)
// and machine-readable codes (decoded from every camera frame with zxing-cpp, straight from the
// frame's pixels) to its delegate on the delegate's queue, for the object types it was asked for.
// Ownership: see CaptureOutput; refers to its delegate weakly.
// Threads: thread-safe. Frames are decoded on the thread that hands them over (the camera's).
// Errors: none; a frame in which nothing is found is not reported.
class CaptureMetadataOutput : public CaptureOutput {
public:
    static constexpr const char* kFace = "face";
    // Machine-readable code types.
    static constexpr const char* kQRCode = "qr";
    static constexpr const char* kMicroQRCode = "microQR";
    static constexpr const char* kAztec = "aztec";
    static constexpr const char* kDataMatrix = "dataMatrix";
    static constexpr const char* kPDF417 = "pdf417";
    static constexpr const char* kEAN13 = "ean13";
    static constexpr const char* kEAN8 = "ean8";
    static constexpr const char* kUPCE = "upce";
    static constexpr const char* kCode128 = "code128";
    static constexpr const char* kCode39 = "code39";
    static constexpr const char* kCode93 = "code93";
    static constexpr const char* kITF = "itf";
    static constexpr const char* kCodabar = "codabar";

    // The code types in the order availableMetadataObjectTypes() lists them (after "face").
    static std::vector<std::string> codeTypes();

    static std::shared_ptr<CaptureMetadataOutput> create() {
        return std::shared_ptr<CaptureMetadataOutput>(new CaptureMetadataOutput());
    }

    CaptureOutputKind kind() const override { return CaptureOutputKind::Metadata; }

    void setMetadataObjectsDelegate(std::weak_ptr<MetadataOutputObjectsDelegate> delegate,
                                    std::shared_ptr<dispatch::Queue> queue);

    std::vector<std::string> metadataObjectTypes() const;

    // Types not offered (see availableMetadataObjectTypes) are left out.
    void setMetadataObjectTypes(std::vector<std::string> types);

    // "face" and every code type once the output is in a session; nothing before.
    std::vector<std::string> availableMetadataObjectTypes() const;

    // Queues `faces` for the delegate; false when nobody listens for faces.
    bool deliver(std::vector<MetadataFaceObject> faces);

    // Whether any code type is asked for (the camera then hands its frames to decodeFrame).
    bool wantsCodes() const;

    // Decodes the codes of the asked-for types in `frame` (BGRA or ARGB) without copying it and
    // queues them for the delegate. Returns the number of objects queued.
    std::size_t decodeFrame(const media::PixelBuffer& frame);

    // Queues `objects` for the delegate as one delivery, keeping only the asked-for types (tests
    // inject lists this way). False when nothing is left or nobody listens.
    bool deliverObjects(std::vector<MetadataObject> objects);

protected:
    MediaType connectionMediaType() const override { return MediaType::Metadata; }

private:
    CaptureMetadataOutput() = default;

    mutable Mutex mutex_;
    std::weak_ptr<MetadataOutputObjectsDelegate> delegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<dispatch::Queue> queue_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::string> types_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
