#include "pelmar/platform/dispatch/Queue.h"

#include <cmath>
#include <stdexcept>

#include "pelmar/platform/dispatch/internal/ConcurrentQueue.h"
#include "pelmar/platform/dispatch/internal/CurrentQueue.h"
#include "pelmar/platform/dispatch/internal/MainQueue.h"
#include "pelmar/platform/dispatch/internal/SerialQueue.h"
#include "pelmar/platform/dispatch/internal/ThreadPool.h"
#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

Queue::Queue(std::string label) : label_(std::move(label)) {}

Queue::~Queue() = default;

std::shared_ptr<Queue> Queue::main() {
    return internal::MainQueue::shared();
}

std::shared_ptr<Queue> Queue::global() {
    // Never destroyed: blocks may still be posted to it while the process exits.
    static auto* queue = new std::shared_ptr<Queue>(
            std::make_shared<internal::ConcurrentQueue>("global", /*suspendable=*/false));
    return *queue;
}

std::shared_ptr<Queue> Queue::serial(std::string label) {
    return std::make_shared<internal::SerialQueue>(std::move(label));
}

std::shared_ptr<Queue> Queue::concurrent(std::string label) {
    return std::make_shared<internal::ConcurrentQueue>(std::move(label), /*suspendable=*/true);
}

std::shared_ptr<Queue> Queue::current() {
    if (auto* queue = internal::CurrentQueue::innermost()) {
        return queue->shared_from_this();
    }
    return isMainThread() ? main() : nullptr;
}

bool Queue::isCurrent() const {
    return internal::CurrentQueue::contains(this);
}

void Queue::asyncAfter(double seconds, Block block) {
    if (std::isnan(seconds)) {
        throw std::invalid_argument("Queue::asyncAfter: the delay is NaN");
    }
    internal::Timekeeper::instance().scheduleAfter(
            seconds, [self = shared_from_this(), block = std::move(block)] { self->async(block); },
            internal::Timekeeper::Target::Background);
}

bool isMainThread() {
    return internal::MainQueue::instance().isMainThread();
}

bool backgroundQueuesAreIdle() {
    return internal::ThreadPool::instance().isIdle();
}

}  // namespace pelmar::dispatch
