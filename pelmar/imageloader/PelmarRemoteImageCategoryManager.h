#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageCategory.h"

namespace pelmar {

// PelmarRemoteImageCategoryManager: loads remote images into views through the shared image
// manager: cancels the view's previous download, shows the placeholder, starts the download,
// remembers its UUID on the view, and applies on the main thread only the results of the view's
// current download (a result of a replaced download reaches neither the view nor the caller).
// Ownership: static functions; the per-view UUID and progress flag live as long as the view.
// Threads: the loading functions may be called from any thread: off the main thread they repeat
//     the call on the main queue and return. The view operations and completions run on the main
//     thread. The per-view values are guarded by a leaf mutex.
// Errors: completions receive the results, errors included; no URL calls no completion.
class PelmarRemoteImageCategoryManager {
public:
    using Target = std::shared_ptr<PelmarRemoteImageCategory>;

    PelmarRemoteImageCategoryManager() = delete;

    // One URL (none: nothing to load).
    static void setImageOnView(const Target& view,
                               const std::optional<std::string>& url,
                               PelmarImage placeholder = nullptr,
                               PelmarImageCompletion completion = nullptr);

    static void setImageOnView(const Target& view,
                               const std::optional<std::string>& url,
                               PelmarImage placeholder,
                               std::string processorKey,
                               PelmarImageProcessor processor,
                               PelmarImageCompletion completion);

    // The core. `urls` from lowest to highest quality; with two or more the manager picks one by
    // the measured network speed, and the processor is not used.
    static void setImageOnViewFromURLs(const Target& view,
                                       std::optional<std::vector<std::string>> urls,
                                       PelmarImage placeholder,
                                       std::string processorKey,
                                       PelmarImageProcessor processor,
                                       PelmarImageCompletion completion);

    static std::optional<std::string> downloadImageOperationUUIDOnView(
            const PelmarRemoteImageCategory& view);

    static void setDownloadImageOperationUUID(std::optional<std::string> uuid,
                                              const PelmarRemoteImageCategory& view);

    static bool updateWithProgressOnView(const PelmarRemoteImageCategory& view);

    static void setUpdateWithProgressOnView(bool updateWithProgress,
                                            const PelmarRemoteImageCategory& view);

    // Cancels the view's download with the shared manager and forgets its UUID.
    static void cancelImageDownloadOnView(const PelmarRemoteImageCategory& view);
};

}  // namespace pelmar
