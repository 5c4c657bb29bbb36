#pragma once

#include <functional>
#include <utility>

#include "pelmar/live/IReceiver.h"

// MediaCallback: the last stage of a chain; hands every frame to a function.
// Ownership: owns the function (and whatever it captures).
// Threads: thread-compatible; the function runs on the thread that calls PutFrame.
// Errors: what the function throws propagates out of PutFrame.

namespace pelmar::live {

template <typename T>
class MediaCallback : public IReceiver<T> {
public:
    // An empty function drops every frame.
    explicit MediaCallback(std::function<void(T)> function) : function_(std::move(function)) {}

protected:
    void PutFrameImpl(T frame) override {
        if (function_) {
            function_(frame);
        }
    }

    void CloseImpl() override {}

private:
    std::function<void(T)> function_;
};

}  // namespace pelmar::live
