#pragma once

#include <memory>

#include "pelmar/platform/av/CaptureOutput.h"

namespace pelmar::av {

// CaptureMovieFileOutput: an output that would record to a movie file; the stand-in records nothing
// (writing goes through AssetWriter), it only takes part in the session's checks.
// Ownership: see CaptureOutput.
// Threads: thread-safe.
// Errors: none.
class CaptureMovieFileOutput : public CaptureOutput {
public:
    static std::shared_ptr<CaptureMovieFileOutput> create() {
        return std::shared_ptr<CaptureMovieFileOutput>(new CaptureMovieFileOutput());
    }

    CaptureOutputKind kind() const override { return CaptureOutputKind::MovieFile; }

protected:
    MediaType connectionMediaType() const override { return MediaType::Video; }

private:
    CaptureMovieFileOutput() = default;
};

}  // namespace pelmar::av
