#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureOutput.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

// The format of one still picture to take: its codec ("jpeg").
struct CapturePhotoSettings {
    std::string codec = "jpeg";

    friend bool operator==(const CapturePhotoSettings&, const CapturePhotoSettings&) = default;
};

// CapturePhotoOutput: the still-picture output of a session. It keeps the settings prepared for
// the pictures to come; taking pictures is not offered.
// Ownership: see CaptureOutput.
// Threads: thread-safe.
// Errors: none.
class CapturePhotoOutput : public CaptureOutput {
public:
    static constexpr const char* kJPEG = "jpeg";

    static std::shared_ptr<CapturePhotoOutput> create() {
        return std::shared_ptr<CapturePhotoOutput>(new CapturePhotoOutput());
    }

    CaptureOutputKind kind() const override { return CaptureOutputKind::Photo; }

    void setPreparedPhotoSettingsArray(std::vector<CapturePhotoSettings> settings);

    std::vector<CapturePhotoSettings> preparedPhotoSettingsArray() const;

protected:
    MediaType connectionMediaType() const override { return MediaType::Video; }

private:
    CapturePhotoOutput() = default;

    mutable Mutex mutex_;
    std::vector<CapturePhotoSettings> prepared_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
