#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::photos::internal {

class DecodeBudget;

// The size a picture of `width` x `height` takes when fitted (or, with `fill`, made to cover)
// into `targetWidth` x `targetHeight`, never larger than the picture; at least 1 x 1.
std::pair<int, int> fittedSize(
        int width, int height, double targetWidth, double targetHeight, bool fill);

struct ScaledPicture {
    std::shared_ptr<image::Bitmap> bitmap;  // BGRA8, upright
    std::optional<Error> error;
};

// Decodes the picture in `file` at about the size fittedSize() gives (JPEGs scaled by the
// decoder), reduced with an area filter. The decode's memory is taken from `budget` first.
ScaledPicture decodePicture(const std::filesystem::path& file,
                            double targetWidth,
                            double targetHeight,
                            bool fill,
                            DecodeBudget& budget);

// The first picture of the movie in `file`, likewise reduced.
ScaledPicture decodeMovieFrame(const std::filesystem::path& file,
                               double targetWidth,
                               double targetHeight,
                               bool fill);

}  // namespace pelmar::photos::internal
