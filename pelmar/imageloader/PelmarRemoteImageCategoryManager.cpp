#include "pelmar/imageloader/PelmarRemoteImageCategoryManager.h"

#include <map>
#include <mutex>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

namespace {

// What is attached to a view: its current download and whether progressive renders show.
struct Attachment {
    std::weak_ptr<ui::View> view;
    std::optional<std::string> uuid;
    bool updateWithProgress = false;
};

class Attachments {
public:
    template <class F>
    auto with(const PelmarRemoteImageCategory& target, F&& f) {
        MutexLock lock(mutex_);
        auto view = target.view();
        Attachment scratch;
        if (!view) {
            return f(scratch);  // a view that is gone keeps nothing
        }
        purge();
        auto& slot = entries_[view.get()];
        if (slot.view.expired() || slot.view.lock() != view) {
            slot = Attachment{view, std::nullopt,
                              false};  // a new view at an old address starts empty
        }
        return f(slot);
    }

private:
    void purge() PELMAR_REQUIRES(mutex_) {
        if (++calls_ % 64 != 0) {
            return;
        }
        for (auto it = entries_.begin(); it != entries_.end();) {
            it = it->second.view.expired() ? entries_.erase(it) : std::next(it);
        }
    }

    Mutex mutex_;
    std::map<const ui::View*, Attachment> entries_ PELMAR_GUARDED_BY(mutex_);
    uint64_t calls_ PELMAR_GUARDED_BY(mutex_) = 0;
};

Attachments& attachments() {
    static Attachments* instance = new Attachments();
    return *instance;
}

void onMain(std::function<void()> block) {
    if (dispatch::isMainThread()) {
        block();
    } else {
        dispatch::Queue::main()->async(std::move(block));
    }
}

// A result belongs to the view's current download when the UUIDs match or it has none.
bool belongsToView(const PelmarRemoteImageCategory& view, const PelmarImageResult& result) {
    if (!result || !result->UUID()) {
        return true;
    }
    return PelmarRemoteImageCategoryManager::downloadImageOperationUUIDOnView(view)
           == result->UUID();
}

}  // namespace

void PelmarRemoteImageCategoryManager::setImageOnView(const Target& view,
                                                      const std::optional<std::string>& url,
                                                      PelmarImage placeholder,
                                                      PelmarImageCompletion completion) {
    setImageOnView(view, url, std::move(placeholder), {}, nullptr, std::move(completion));
}

void PelmarRemoteImageCategoryManager::setImageOnView(const Target& view,
                                                      const std::optional<std::string>& url,
                                                      PelmarImage placeholder,
                                                      std::string processorKey,
                                                      PelmarImageProcessor processor,
                                                      PelmarImageCompletion completion) {
    std::optional<std::vector<std::string>> urls;
    if (url) {
        urls = std::vector<std::string>{*url};
    }
    setImageOnViewFromURLs(view, std::move(urls), std::move(placeholder), std::move(processorKey),
                           std::move(processor), std::move(completion));
}

void PelmarRemoteImageCategoryManager::setImageOnViewFromURLs(
        const Target& view,
        std::optional<std::vector<std::string>> urls,
        PelmarImage placeholder,
        std::string processorKey,
        PelmarImageProcessor processor,
        PelmarImageCompletion completion) {
    if (!view) {
        return;
    }
    if (!dispatch::isMainThread()) {
        dispatch::Queue::main()->async([=] {
            setImageOnViewFromURLs(view, urls, placeholder, processorKey, processor, completion);
        });
        return;
    }
    cancelImageDownloadOnView(*view);
    if (placeholder) {
        view->pelmar_setPlaceholderWithImage(placeholder);
    }
    if (!urls || urls->empty()) {
        if (!placeholder) {
            view->pelmar_clearImages();
        }
        return;
    }
    PelmarImageRequestOptions options = view->pelmar_defaultOptions().value_or(0);
    if (view->pelmar_ignoreGIFs()) {
        options |= kPelmarImageRequestOptionNoAlternateRepresentation;
    }
    PelmarImageCompletion progressImage;
    if (updateWithProgressOnView(*view) && !processor && processorKey.empty()) {
        progressImage = [view](const PelmarImageResult& result) {
            onMain([view, result] {
                if (belongsToView(*view, result) && result && result->image()) {
                    view->pelmar_updateUIWithRemoteImageManagerResult(result);
                }
            });
        };
    }
    PelmarImageCompletion finished = [view, completion](const PelmarImageResult& result) {
        onMain([view, completion, result] {
            if (!belongsToView(*view, result)) {
                return;  // a replaced download
            }
            setDownloadImageOperationUUID(std::nullopt, *view);
            if (result && !result->error()) {
                view->pelmar_updateUIWithRemoteImageManagerResult(result);
            }
            if (completion) {
                completion(result);
            }
        });
    };
    const auto manager = PelmarRemoteImageManager::sharedImageManager();
    std::optional<std::string> uuid;
    if (urls->size() < 2) {
        if (processor && !processorKey.empty()) {
            uuid = manager->downloadImageWithURL(urls->front(), options, processorKey,
                                                 std::move(processor), std::move(finished));
        } else {
            uuid = manager->downloadImageWithURL(
                    urls->front(), options, kPelmarRemoteImageManagerPriorityDefault,
                    std::move(progressImage), nullptr, std::move(finished));
        }
    } else {
        uuid = manager->downloadImageWithURLs(*urls, options, std::move(progressImage), nullptr,
                                              std::move(finished));
    }
    setDownloadImageOperationUUID(std::move(uuid), *view);
}

std::optional<std::string> PelmarRemoteImageCategoryManager::downloadImageOperationUUIDOnView(
        const PelmarRemoteImageCategory& view) {
    return attachments().with(view, [](Attachment& a) { return a.uuid; });
}

void PelmarRemoteImageCategoryManager::setDownloadImageOperationUUID(
        std::optional<std::string> uuid, const PelmarRemoteImageCategory& view) {
    attachments().with(view, [&](Attachment& a) { a.uuid = std::move(uuid); });
}

bool PelmarRemoteImageCategoryManager::updateWithProgressOnView(
        const PelmarRemoteImageCategory& view) {
    return attachments().with(view, [](Attachment& a) { return a.updateWithProgress; });
}

void PelmarRemoteImageCategoryManager::setUpdateWithProgressOnView(
        bool updateWithProgress, const PelmarRemoteImageCategory& view) {
    attachments().with(view, [&](Attachment& a) { a.updateWithProgress = updateWithProgress; });
}

void PelmarRemoteImageCategoryManager::cancelImageDownloadOnView(
        const PelmarRemoteImageCategory& view) {
    const auto uuid = downloadImageOperationUUIDOnView(view);
    if (!uuid) {
        return;
    }
    PelmarRemoteImageManager::sharedImageManager()->cancelTaskWithUUID(*uuid);
    setDownloadImageOperationUUID(std::nullopt, view);
}

}  // namespace pelmar
