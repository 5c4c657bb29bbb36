#include "pelmar/imageloader/PelmarRemoteImageTask.h"

namespace pelmar {

void PelmarRemoteImageTask::addCallbacks(const std::string& uuid,
                                         PelmarRemoteImageCallbacks callbacks) {
    PelmarRemoteLock::Hold lock(lock_);
    callbackBlocks_[uuid] = std::move(callbacks);
}

std::size_t PelmarRemoteImageTask::callbackCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return callbackBlocks_.size();
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

}  // namespace pelmar
