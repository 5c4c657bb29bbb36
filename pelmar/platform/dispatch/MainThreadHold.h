#pragma once

#include <memory>
#include <utility>

#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::dispatch {

// MainThreadHold: keeps an object alive while work on other threads still needs it, and lets it
// go on the main queue, so that a main-thread object (a screen) is never destroyed on a worker
// that happened to hold it last. Share it (make_shared) among the blocks that need the object.
// Ownership: holds one strong reference until it is destroyed, then hands it to a main-queue
//     block that drops it.
// Threads: may be made, read and destroyed on any thread.
// Errors: none.
template <class T>
class MainThreadHold {
public:
    explicit MainThreadHold(std::shared_ptr<T> object) : object_(std::move(object)) {}

    MainThreadHold(const MainThreadHold&) = delete;
    MainThreadHold& operator=(const MainThreadHold&) = delete;

    ~MainThreadHold() {
        if (object_) {
            Queue::main()->async([object = std::move(object_)] {});
        }
    }

    const std::shared_ptr<T>& get() const { return object_; }

private:
    std::shared_ptr<T> object_;
};

}  // namespace pelmar::dispatch
