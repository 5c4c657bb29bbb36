#include "pelmar/imageloader/internal/ImageRequestRegistry.h"

namespace pelmar::imageloader::internal {

void ImageRequestRegistry::markPending(const std::string& uuid) {
    PelmarRemoteLock::Hold lock(lock_);
    pendingRegistrations_.insert(uuid);
}

ImageRequestRegistry::Task ImageRequestRegistry::taskForKey(const std::string& key) {
    PelmarRemoteLock::Hold lock(lock_);
    const auto found = tasks_.find(key);
    return found != tasks_.end() ? found->second : nullptr;
}

bool ImageRequestRegistry::holds(const std::string& key, const Task& task) {
    PelmarRemoteLock::Hold lock(lock_);
    const auto found = tasks_.find(key);
    return found != tasks_.end() && found->second == task;
}

void ImageRequestRegistry::setBeforeJoin(std::function<void(const std::string& uuid)> hook) {
    std::function<void(const std::string&)> previous;
    PelmarRemoteLock::Hold lock(lock_);
    previous = std::exchange(beforeJoin_, std::move(hook));
}

ImageRequestRegistry::Joined ImageRequestRegistry::join(
        const std::string& uuid,
        const std::string& key,
        const Task& made,
        const PelmarImageCompletion& completion,
        const PelmarImageCompletion& progressImage,
        const PelmarImageProgressDownload& progressDownload) {
    std::function<void(const std::string&)> beforeJoin;
    {
        PelmarRemoteLock::Hold lock(lock_);
        beforeJoin = beforeJoin_;
    }
    if (beforeJoin) {
        beforeJoin(uuid);
    }
    PelmarRemoteLock::Hold lock(lock_);
    if (canceledTasks_.erase(uuid) > 0) {
        pendingRegistrations_.erase(uuid);
        return {};
    }
    const auto found = tasks_.find(key);
    if (found == tasks_.end() && !made) {
        // Still pending: a cancel meanwhile is kept for the next join.
        return {nullptr, false, true};
    }
    pendingRegistrations_.erase(uuid);
    const bool isNew = found == tasks_.end();
    const Task task = isNew ? tasks_.emplace(key, made).first->second : found->second;
    task->addCallbacksWithCompletionBlock(completion, progressImage, progressDownload, uuid);
    UUIDToTask_[uuid] = task;
    return {task, isNew, false};
}

ImageRequestRegistry::Task ImageRequestRegistry::taskForUUID(const std::string& uuid) {
    PelmarRemoteLock::Hold lock(lock_);
    const auto found = UUIDToTask_.find(uuid);
    return found != UUIDToTask_.end() ? found->second.lock() : nullptr;
}

ImageRequestRegistry::Task ImageRequestRegistry::cancel(const std::string& uuid,
                                                        std::optional<PelmarResume>* resume) {
    PelmarRemoteLock::Hold lock(lock_);
    Task task;
    const auto found = UUIDToTask_.find(uuid);
    if (found != UUIDToTask_.end()) {
        task = found->second.lock();
    }
    if (!task) {
        // Only a registration still queued can be stopped ahead of time.
        if (pendingRegistrations_.contains(uuid)) {
            canceledTasks_.insert(uuid);
        }
        return nullptr;
    }
    const bool noneLeft = task->cancelWithUUID(uuid, resume);
    if (!task->callbackBlocks().contains(uuid)) {
        UUIDToTask_.erase(uuid);
    }
    if (noneLeft) {
        l_unregister(task->key(), task);
    }
    return task;
}

std::vector<std::string> ImageRequestRegistry::uuids() {
    PelmarRemoteLock::Hold lock(lock_);
    std::vector<std::string> all;
    all.reserve(UUIDToTask_.size());
    for (const auto& [uuid, task] : UUIDToTask_) {
        all.push_back(uuid);
    }
    return all;
}

void ImageRequestRegistry::callCompletions(
        const std::string& key,
        const PelmarImage& image,
        const PelmarImageRepresentation& alternativeRepresentation,
        bool cached,
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        const std::optional<Error>& error,
        bool finalized) {
    PelmarRemoteLock::Hold lock(lock_);
    const auto found = tasks_.find(key);
    if (found == tasks_.end()) {
        return;
    }
    const auto task = found->second;
    task->callCompletionsWithImage(image, alternativeRepresentation, cached, response, error,
                                   !finalized);
    if (finalized) {
        l_unregister(key, task);
    }
}

void ImageRequestRegistry::l_unregister(const std::string& key, const Task& task) {
    const auto found = tasks_.find(key);
    if (found == tasks_.end() || found->second != task) {
        return;  // the key already belongs to a newer task
    }
    tasks_.erase(found);
    std::erase_if(UUIDToTask_, [&task](const auto& entry) {
        const auto held = entry.second.lock();
        return !held || held == task;
    });
}

std::size_t ImageRequestRegistry::taskCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return tasks_.size();
}

std::size_t ImageRequestRegistry::uuidCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return UUIDToTask_.size();
}

std::size_t ImageRequestRegistry::waitingCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return canceledTasks_.size() + pendingRegistrations_.size();
}

}  // namespace pelmar::imageloader::internal
