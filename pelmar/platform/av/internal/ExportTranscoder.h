#pragma once

#include <functional>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"

struct AVFormatContext;

namespace pelmar::av::internal {

// ExportTranscoder: the libav work of an export: [startSeconds, endSeconds) of the best video and
// audio streams of `source` into a new MPEG-4 file, either copied packet for packet (only when
// the range starts at 0) or decoded and re-encoded (H.264 + AAC through the writer's
// MovieEncoder) with the picture scaled to fit `longestSide` (0: the source size). The picture
// showing at startSeconds opens the movie at time 0, and sound is cut to the sample.
// Ownership: a plain description of one job; run() owns every libav object it makes.
// Threads: thread-compatible; `stop` and `progress` are called on the running thread.
// Errors: run() returns an Error in kAssetExportErrorDomain; the caller removes the partial file.
struct ExportTranscoder {
    std::string source;
    bool remote = false;
    double startSeconds = 0;
    double endSeconds = 0;  // +infinity: to the end
    int longestSide = 0;
    bool copyStreams = false;
    bool fastStart = false;
    std::string output;
    std::function<bool()> stop;
    std::function<void(double)> progress;  // 0..1

    std::optional<Error> run() const;

private:
    std::optional<Error> reencode(AVFormatContext& input) const;
    std::optional<Error> copy(AVFormatContext& input) const;
};

}  // namespace pelmar::av::internal
