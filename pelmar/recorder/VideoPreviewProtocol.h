#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "pelmar/recorder/VideoPreviewDelegate.h"

namespace pelmar {

// VideoPreviewProtocol: what a recorder needs of its preview screen: the file to play, set before
// presenting it, and who hears retake and upload.
// Ownership: implemented by a view controller the recorder keeps; the delegate is held weakly,
// so that recorder and preview do not keep each other alive.
// Threads: main thread only.
// Errors: none.
class VideoPreviewProtocol {
public:
    virtual ~VideoPreviewProtocol() = default;

    virtual std::optional<std::filesystem::path> videoURL() const = 0;

    virtual void setVideoURL(std::optional<std::filesystem::path> url) = 0;

    virtual std::shared_ptr<VideoPreviewDelegate> previewDelegate() const = 0;

    virtual void setPreviewDelegate(std::weak_ptr<VideoPreviewDelegate> delegate) = 0;
};

}  // namespace pelmar
