#include "pelmar/platform/av/QueuePlayer.h"

#include <algorithm>

namespace pelmar::av {

QueuePlayer::QueuePlayer(const std::vector<std::shared_ptr<PlayerItem>>& items) {
    setActionAtItemEnd(ActionAtItemEnd::Advance);
    for (const auto& item : items) {
        insertItem(item, nullptr);
    }
}

bool QueuePlayer::canInsert(const std::shared_ptr<PlayerItem>& item,
                            const std::shared_ptr<PlayerItem>&) const {
    if (!item) {
        return false;
    }
    const auto queued = queuedItems();
    return std::find(queued.begin(), queued.end(), item) == queued.end();
}

void QueuePlayer::insert(std::shared_ptr<PlayerItem> item,
                         const std::shared_ptr<PlayerItem>& after) {
    insertItem(std::move(item), after);
}

}  // namespace pelmar::av
