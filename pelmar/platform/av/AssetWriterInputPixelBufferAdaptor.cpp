#include "pelmar/platform/av/AssetWriterInputPixelBufferAdaptor.h"

#include "pelmar/platform/av/AssetWriter.h"

namespace pelmar::av {

std::shared_ptr<AssetWriterInputPixelBufferAdaptor> AssetWriterInputPixelBufferAdaptor::create(
        std::shared_ptr<AssetWriterInput> input, media::PixelFormat sourceFormat) {
    if (!input || input->mediaType() != MediaType::Video) {
        return nullptr;
    }
    return std::shared_ptr<AssetWriterInputPixelBufferAdaptor>(
            new AssetWriterInputPixelBufferAdaptor(std::move(input), sourceFormat));
}

bool AssetWriterInputPixelBufferAdaptor::append(const std::shared_ptr<media::PixelBuffer>& picture,
                                                media::Time presentationTime) {
    auto writer = input_->writer();
    return writer && writer->appendPicture(picture, presentationTime, media::Time::invalid());
}

}  // namespace pelmar::av
