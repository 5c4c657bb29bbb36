#include "pelmar/platform/av/AssetWriterInput.h"

#include "pelmar/platform/av/AssetWriter.h"

namespace pelmar::av {

std::shared_ptr<AssetWriterInput> AssetWriterInput::createVideo(VideoSettings settings) {
    return std::shared_ptr<AssetWriterInput>(
            new AssetWriterInput(MediaType::Video, settings, std::nullopt));
}

std::shared_ptr<AssetWriterInput> AssetWriterInput::createAudio(AudioSettings settings) {
    return std::shared_ptr<AssetWriterInput>(
            new AssetWriterInput(MediaType::Audio, std::nullopt, settings));
}

std::shared_ptr<AssetWriter> AssetWriterInput::writer() const {
    MutexLock lock(mutex_);
    return writer_.lock();
}

void AssetWriterInput::attach(const std::shared_ptr<AssetWriter>& writer) {
    MutexLock lock(mutex_);
    writer_ = writer;
}

bool AssetWriterInput::isReadyForMoreMediaData() const {
    auto w = writer();
    return w && !finished_.load() && w->isReady(media_, forcedNotReady_.load());
}

bool AssetWriterInput::append(const std::shared_ptr<const media::SampleBuffer>& sample) {
    auto w = writer();
    if (!w || !sample || sample->mediaType() != media_ || finished_.load()) {
        return false;
    }
    if (media_ == MediaType::Video) {
        return w->appendPicture(sample->imageBuffer(), sample->presentationTimeStamp(),
                                sample->duration());
    }
    return w->appendSound(sample);
}

}  // namespace pelmar::av
