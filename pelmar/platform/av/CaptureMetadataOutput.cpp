#include "pelmar/platform/av/CaptureMetadataOutput.h"

#include <algorithm>
#include <utility>

namespace pelmar::av {

void CaptureMetadataOutput::setMetadataObjectsDelegate(
        std::weak_ptr<MetadataOutputObjectsDelegate> delegate,
        std::shared_ptr<dispatch::Queue> queue) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
}

std::vector<std::string> CaptureMetadataOutput::metadataObjectTypes() const {
    MutexLock lock(mutex_);
    return types_;
}

void CaptureMetadataOutput::setMetadataObjectTypes(std::vector<std::string> types) {
    const auto available = availableMetadataObjectTypes();
    types.erase(std::remove_if(types.begin(), types.end(),
                               [&](const std::string& t) {
                                   return std::find(available.begin(), available.end(), t)
                                          == available.end();
                               }),
                types.end());
    MutexLock lock(mutex_);
    types_ = std::move(types);
}

std::vector<std::string> CaptureMetadataOutput::availableMetadataObjectTypes() const {
    if (!session()) {
        return {};
    }
    return {kFace};
}

bool CaptureMetadataOutput::deliver(std::vector<MetadataFaceObject> faces) {
    std::weak_ptr<MetadataOutputObjectsDelegate> delegate;
    std::shared_ptr<dispatch::Queue> queue;
    {
        MutexLock lock(mutex_);
        if (std::find(types_.begin(), types_.end(), kFace) == types_.end()) {
            return false;
        }
        delegate = delegate_;
        queue = queue_;
    }
    auto link = connection(MediaType::Metadata);
    if (!queue || delegate.expired() || !link) {
        return false;
    }
    auto self = std::static_pointer_cast<CaptureMetadataOutput>(shared_from_this());
    queue->async([self, delegate = std::move(delegate), faces = std::move(faces),
                  link = std::move(link)] {
        if (auto d = delegate.lock()) {
            d->metadataOutput(self, faces, link);
        }
    });
    return true;
}

}  // namespace pelmar::av
