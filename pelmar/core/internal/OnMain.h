#pragma once

#include <functional>
#include <memory>
#include <tuple>
#include <utility>

#include "pelmar/platform/dispatch/Queue.h"

// OnMain: wraps a callback so that each call is re-posted, with the same arguments, to the main
// queue (asynchronously, also when made on the main thread).
// Ownership: the wrapper owns the callback; arguments are copied into the posted block.
// Threads: the wrapper may be called from any thread.
// Errors: none; an empty callback stays empty.

namespace pelmar::core::internal {

template <class... Args>
std::function<void(Args...)> onMain(std::function<void(Args...)> callback) {
    if (!callback) {
        return {};
    }
    auto shared = std::make_shared<std::function<void(Args...)>>(std::move(callback));
    return [shared](Args... args) {
        dispatch::Queue::main()->async(
                [shared, arguments = std::make_tuple(std::move(args)...)]() mutable {
                    std::apply(*shared, std::move(arguments));
                });
    };
}

}  // namespace pelmar::core::internal
