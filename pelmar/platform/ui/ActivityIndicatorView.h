#pragma once

#include <string>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// ActivityIndicatorView: the spinning mark that says "busy". It only records whether it spins;
// it paints a ring broken at the top.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: none.
class ActivityIndicatorView : public View {
public:
    using View::View;

    bool isAnimating() const { return animating_; }

    void startAnimating() { animating_ = true; }

    void stopAnimating() { animating_ = false; }

    void draw(GraphicsContext& context) override;

protected:
    std::string className() const override { return "ActivityIndicatorView"; }

private:
    bool animating_ = false;
};

}  // namespace pelmar::ui
