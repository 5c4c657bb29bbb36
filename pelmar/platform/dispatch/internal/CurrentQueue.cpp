#include "pelmar/platform/dispatch/internal/CurrentQueue.h"

#include <algorithm>
#include <vector>

namespace pelmar::dispatch::internal {

namespace {

thread_local std::vector<Queue*> tStack;

}  // namespace

CurrentQueue::CurrentQueue(Queue* queue) {
    tStack.push_back(queue);
}

CurrentQueue::~CurrentQueue() {
    tStack.pop_back();
}

bool CurrentQueue::contains(const Queue* queue) {
    return std::find(tStack.begin(), tStack.end(), queue) != tStack.end();
}

Queue* CurrentQueue::innermost() {
    return tStack.empty() ? nullptr : tStack.back();
}

}  // namespace pelmar::dispatch::internal
