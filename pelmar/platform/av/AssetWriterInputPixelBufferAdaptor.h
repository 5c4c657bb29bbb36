#pragma once

#include <memory>

#include "pelmar/platform/av/AssetWriterInput.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/Time.h"

namespace pelmar::av {

// AssetWriterInputPixelBufferAdaptor: appends bare pictures with a presentation time to a video
// input. The source format attribute is advisory: BGRA and ARGB pictures are both taken.
// Ownership: made with create(); holds its input.
// Threads: thread-safe.
// Errors: append() fails as AssetWriterInput::append does, and for a null picture.
class AssetWriterInputPixelBufferAdaptor {
public:
    static std::shared_ptr<AssetWriterInputPixelBufferAdaptor> create(
            std::shared_ptr<AssetWriterInput> input, media::PixelFormat sourceFormat);

    const std::shared_ptr<AssetWriterInput>& assetWriterInput() const { return input_; }

    media::PixelFormat sourcePixelFormat() const { return format_; }

    bool append(const std::shared_ptr<media::PixelBuffer>& picture, media::Time presentationTime);

private:
    AssetWriterInputPixelBufferAdaptor(std::shared_ptr<AssetWriterInput> input,
                                       media::PixelFormat format)
        : input_(std::move(input)), format_(format) {}

    const std::shared_ptr<AssetWriterInput> input_;
    const media::PixelFormat format_;
};

}  // namespace pelmar::av
