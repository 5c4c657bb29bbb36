#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureOutput.h"
#include "pelmar/platform/av/MetadataFaceObject.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

class CaptureMetadataOutput;

// Receives the faces found in camera frames.
class MetadataOutputObjectsDelegate {
public:
    virtual ~MetadataOutputObjectsDelegate() = default;

    virtual void metadataOutput(const std::shared_ptr<CaptureMetadataOutput>& output,
                                const std::vector<MetadataFaceObject>& faces,
                                const std::shared_ptr<CaptureConnection>& connection) = 0;
};

// CaptureMetadataOutput: reports faces (the environment's scripted faces, with every camera frame)
// to its delegate on the delegate's queue, while its object types include "face".
// Ownership: see CaptureOutput; refers to its delegate weakly.
// Threads: thread-safe.
// Errors: none.
class CaptureMetadataOutput : public CaptureOutput {
public:
    static constexpr const char* kFace = "face";

    static std::shared_ptr<CaptureMetadataOutput> create() {
        return std::shared_ptr<CaptureMetadataOutput>(new CaptureMetadataOutput());
    }

    CaptureOutputKind kind() const override { return CaptureOutputKind::Metadata; }

    void setMetadataObjectsDelegate(std::weak_ptr<MetadataOutputObjectsDelegate> delegate,
                                    std::shared_ptr<dispatch::Queue> queue);

    std::vector<std::string> metadataObjectTypes() const;

    // Types not offered (see availableMetadataObjectTypes) are left out.
    void setMetadataObjectTypes(std::vector<std::string> types);

    // "face" once the output is in a session; nothing before.
    std::vector<std::string> availableMetadataObjectTypes() const;

    // Queues `faces` for the delegate; false when nobody listens for faces.
    bool deliver(std::vector<MetadataFaceObject> faces);

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
