#include "pelmar/imageloader/PelmarRemoteImageTask.h"

#include <sstream>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/platform/dispatch/Clock.h"

namespace pelmar {

void PelmarRemoteImageTask::addCallbacks(const std::string& uuid,
                                         PelmarRemoteImageCallbacks callbacks) {
    callbacks.requestTime = dispatch::clock().now();
    PelmarRemoteLock::Hold lock(lock_);
    callbackBlocks_[uuid] = std::move(callbacks);
}

void PelmarRemoteImageTask::addCallbacksWithCompletionBlock(
        PelmarImageCompletion completion,
        PelmarImageCompletion progressImage,
        PelmarImageProgressDownload progressDownload,
        const std::string& uuid) {
    addCallbacks(uuid, PelmarRemoteImageCallbacks{std::move(completion), std::move(progressImage),
                                                  std::move(progressDownload)});
}

void PelmarRemoteImageTask::removeCallbackWithUUID(const std::string& uuid) {
    PelmarRemoteLock::Hold lock(lock_);
    l_removeCallbackWithUUID(uuid);
}

void PelmarRemoteImageTask::l_removeCallbackWithUUID(const std::string& uuid) {
    callbackBlocks_.erase(uuid);
}

std::map<std::string, PelmarRemoteImageCallbacks> PelmarRemoteImageTask::callbackBlocks() {
    PelmarRemoteLock::Hold lock(lock_);
    return callbackBlocks_;
}

std::size_t PelmarRemoteImageTask::callbackCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return callbackBlocks_.size();
}

void PelmarRemoteImageTask::setProgressImageBlock(const std::string& uuid,
                                                  PelmarImageCompletion progressImage) {
    PelmarRemoteLock::Hold lock(lock_);
    const auto found = callbackBlocks_.find(uuid);
    if (found != callbackBlocks_.end()) {
        found->second.progressImageBlock = std::move(progressImage);
    }
}

void PelmarRemoteImageTask::callCompletionsWithImage(
        const PelmarImage& image,
        const PelmarImageRepresentation& alternativeRepresentation,
        bool cached,
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        const std::optional<Error>& error,
        bool remove) {
    const PelmarImageResultType type = !image && !alternativeRepresentation
                                               ? PelmarImageResultType::None
                                       : cached ? PelmarImageResultType::CacheHit
                                                : PelmarImageResultType::Downloaded;
    for (const auto& [uuid, callbacks] : callbackBlocks()) {
        if (callbacks.completionBlock && callbackQueue_) {
            callbackQueue_->async([completion = callbacks.completionBlock,
                                   requestTime = callbacks.requestTime, uuid = uuid, image,
                                   alternativeRepresentation, type, response, error] {
                completion(PelmarRemoteImageManagerResult::imageResultWithImage(
                        image, alternativeRepresentation, dispatch::clock().now() - requestTime,
                        type, uuid, response, error));
            });
        }
        if (remove) {
            removeCallbackWithUUID(uuid);
        }
    }
}

bool PelmarRemoteImageTask::l_cancelWithUUID(const std::string& uuid) {
    callbackBlocks_.erase(uuid);
    return callbackBlocks_.empty();
}

bool PelmarRemoteImageTask::cancelWithUUID(const std::string& uuid,
                                           std::optional<PelmarResume>* /*resume*/) {
    PelmarRemoteLock::Hold lock(lock_);
    return l_cancelWithUUID(uuid);
}

std::string PelmarRemoteImageTask::description() {
    std::ostringstream text;
    text << "<" << className() << ": " << static_cast<const void*>(this)
         << "> completionBlocks: " << callbackCount();
    return text.str();
}

std::optional<std::string> PelmarRemoteImageProcessorTask::downloadTaskUUID() {
    PelmarRemoteLock::Hold lock(lock_);
    return downloadTaskUUID_;
}

void PelmarRemoteImageProcessorTask::setDownloadTaskUUID(std::optional<std::string> uuid) {
    PelmarRemoteLock::Hold lock(lock_);
    downloadTaskUUID_ = std::move(uuid);
}

bool PelmarRemoteImageProcessorTask::cancelWithUUID(const std::string& uuid,
                                                    std::optional<PelmarResume>* resume) {
    const bool noneLeft = PelmarRemoteImageTask::cancelWithUUID(uuid, resume);
    std::optional<std::string> inner;
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (callbackBlocks_.empty() && downloadTaskUUID_) {
            inner = std::move(downloadTaskUUID_);
            downloadTaskUUID_.reset();
        }
    }
    // cancelTaskWithUUID only schedules its work, so it may be called from anywhere.
    if (inner) {
        if (auto manager = this->manager()) {
            manager->cancelTaskWithUUID(*inner);
        }
    }
    return noneLeft;
}

}  // namespace pelmar
