#pragma once

#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureConnection.h"
#include "pelmar/platform/av/CaptureTypes.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

class CaptureSession;

// CaptureOutput: where a session sends what its inputs capture. Subclasses: video and audio data
// outputs, the metadata output, the movie file output.
// Ownership: shared by shared_ptr; a session owns the outputs added to it, each output refers to
//     its session weakly and owns its connection.
// Threads: thread-safe.
// Errors: none.
class CaptureOutput : public std::enable_shared_from_this<CaptureOutput> {
public:
    virtual ~CaptureOutput();

    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    virtual CaptureOutputKind kind() const = 0;

    // The connection carrying `media` to this output; null until the output is in a session or
    // for a media type it does not take.
    std::shared_ptr<CaptureConnection> connection(MediaType media) const;

    std::shared_ptr<CaptureSession> session() const;

protected:
    CaptureOutput() = default;

    // The media type this output's connection carries.
    virtual MediaType connectionMediaType() const = 0;

private:
    friend class CaptureSession;

    void attach(const std::shared_ptr<CaptureSession>& session);
    void detach();

    mutable Mutex mutex_;
    std::weak_ptr<CaptureSession> session_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<CaptureConnection> connection_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
