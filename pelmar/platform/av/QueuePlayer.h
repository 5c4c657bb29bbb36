#pragma once

#include <memory>
#include <vector>

#include "pelmar/platform/av/Player.h"

// QueuePlayer: a Player over a list of items: at the end of an item (or when it fails to load)
// it goes on with the next, and after the last its queue is empty, its current item null and
// its rate 0.
// Ownership: create with std::make_shared; holds its items.
// Threads: thread-safe (see Player).
// Errors: see Player.

namespace pelmar::av {

class QueuePlayer : public Player {
public:
    QueuePlayer() : QueuePlayer(std::vector<std::shared_ptr<PlayerItem>>{}) {}

    // Null items are skipped, and an item listed twice is queued once.
    explicit QueuePlayer(const std::vector<std::shared_ptr<PlayerItem>>& items);

    // The queue, current item first.
    std::vector<std::shared_ptr<PlayerItem>> items() const { return queuedItems(); }

    void advanceToNextItem() { advanceToNext(); }

    // False for a null item or one already queued.
    bool canInsert(const std::shared_ptr<PlayerItem>& item,
                   const std::shared_ptr<PlayerItem>& after) const;

    // After `after` (at the end when null); does nothing when canInsert() is false.
    void insert(std::shared_ptr<PlayerItem> item, const std::shared_ptr<PlayerItem>& after);

    void remove(const std::shared_ptr<PlayerItem>& item) { removeItem(item); }

    void removeAllItems() { Player::removeAllItems(); }
};

}  // namespace pelmar::av
