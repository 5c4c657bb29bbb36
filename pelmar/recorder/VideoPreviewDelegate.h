#pragma once

#include <filesystem>
#include <optional>

namespace pelmar {

// VideoPreviewDelegate: what a recorded-video preview asks of its recorder: discard the file and
// record again, or upload it.
// Ownership: held weakly by the preview.
// Threads: called on the main thread.
// Errors: none.
class VideoPreviewDelegate {
public:
    virtual ~VideoPreviewDelegate() = default;

    // Discard `url` (the previewed file, when there was one) and get ready to record again.
    virtual void retake(const std::optional<std::filesystem::path>& url) = 0;

    virtual void uploadVideo(const std::filesystem::path& url) = 0;
};

}  // namespace pelmar
