#pragma once

#include <functional>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::av::internal {

// LibavInput: opens a local path or an http(s) URL with libavformat for the asset layer: network
// time-outs, a bounded probe, a stop check polled while blocked, and the Error (kAssetErrorDomain)
// that explains a failure.
// Ownership: the caller owns the returned demuxer; `stop` must outlive it.
// Threads: thread-compatible.
// Errors: see URLAsset.h for the codes.
struct LibavInput {
    // Opens and probes `location`. `stop` returning true makes blocked reads give up. With
    // `io`, the bytes come from it (it must outlive the demuxer) and `location` only names them.
    static libav::InputFormatPtr open(const std::string& location,
                                      bool remote,
                                      const std::function<bool()>* stop,
                                      std::optional<Error>& error,
                                      AVIOContext* io = nullptr);

    // The Error for an AVERROR code met while opening or reading `location`.
    static Error errorFor(int averr, const std::string& location);

    // Clockwise quarter turns (0..3) that show the stream's pictures upright, from its display
    // matrix (snapped to the nearest quarter turn; 0 without one).
    static int quarterTurns(const AVStream& stream);
};

}  // namespace pelmar::av::internal
