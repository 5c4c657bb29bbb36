#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "pelmar/live/IReceiver.h"

// MediaTransformer: a stage that turns frames of one kind into frames of another and passes them
// to its output receiver. Transform reports per input whether the output frame is complete
// (kTransformComplete), still incomplete (kTransformIncomplete: the same output frame receives the
// next input) or complete with more to come from the same input (kTransformCompleteMore).
// Ownership: holds its output receiver through a std::shared_ptr (may be empty: outputs are then
//            dropped) and the output frame being built.
// Threads: thread-compatible.
// Errors: exceptions of CreateOutputFrame, Transform and the output receiver propagate out of
//         PutFrame; the stored status keeps its value from before a failing Transform.

namespace pelmar::live {

inline constexpr int kTransformComplete = 0;
inline constexpr int kTransformIncomplete = 1;
inline constexpr int kTransformCompleteMore = 2;

template <typename In, typename Out>
class MediaTransformer : public IReceiver<In> {
public:
    explicit MediaTransformer(std::shared_ptr<IReceiver<Out>> output)
        : output_(std::move(output)) {}

    // A fresh output frame for `frame`.
    virtual Out CreateOutputFrame(In frame) = 0;

    // Adds what `frame` gives to `output` and returns one of the kTransform* statuses. Handle
    // fields set on `output` reach the output receiver.
    virtual int Transform(In frame, Out& output) = 0;

protected:
    void PutFrameImpl(In frame) override {
        for (;;) {
            if (status_ == kTransformComplete || status_ == kTransformCompleteMore || !current_) {
                current_.emplace(CreateOutputFrame(frame));
            }
            status_ = Transform(frame, *current_);
            if (status_ != kTransformComplete && status_ != kTransformCompleteMore) {
                return;
            }
            if (output_) {
                output_->PutFrame(*current_);
            }
            if (status_ != kTransformCompleteMore) {
                // The next input gets a fresh frame anyway; letting go now frees the data early.
                current_.reset();
                return;
            }
        }
    }

    void CloseImpl() override {
        if (output_) {
            output_->Close();
        }
    }

    std::shared_ptr<IReceiver<Out>> output_;

    // Result of the last Transform.
    int status_ = kTransformComplete;

private:
    std::optional<Out> current_;
};

}  // namespace pelmar::live
