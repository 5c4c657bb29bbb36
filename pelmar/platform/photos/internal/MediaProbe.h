#pragma once

#include <filesystem>
#include <optional>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/photos/PhotosTypes.h"

namespace pelmar::photos::internal {

struct MediaFacts {
    AssetMediaType mediaType = AssetMediaType::Unknown;
    int pixelWidth = 0;
    int pixelHeight = 0;
    double duration = 0;
};

// What a file is: a picture the image decoders read (size from its header, upright by its EXIF
// orientation) or a movie FFmpeg opens with a video stream (size and duration). Anything else,
// or a missing file, is an error of kPhotosErrorInvalidResource.
struct MediaProbeResult {
    MediaFacts facts;
    std::optional<Error> error;
};

MediaProbeResult probeMedia(const std::filesystem::path& file);

}  // namespace pelmar::photos::internal
