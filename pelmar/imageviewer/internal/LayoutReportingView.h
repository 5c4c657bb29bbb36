#pragma once

#include <functional>
#include <utility>

#include "pelmar/platform/ui/View.h"

namespace pelmar::imageviewer::internal {

// LayoutReportingView: the root view of a viewer screen; whenever it is laid out (its size
// changed: a presentation, a rotation) it tells its controller, which lays out its content
// again.
// Ownership: made with std::make_shared; `onLayout` should capture its controller weakly.
// Threads: main thread only.
// Errors: none.
class LayoutReportingView final : public ui::View {
public:
    explicit LayoutReportingView(std::function<void()> onLayout) : onLayout_(std::move(onLayout)) {}

protected:
    void layoutSubviews() override {
        if (onLayout_) {
            onLayout_();
        }
    }

private:
    std::function<void()> onLayout_;
};

}  // namespace pelmar::imageviewer::internal
