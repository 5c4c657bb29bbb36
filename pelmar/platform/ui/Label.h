#pragma once

#include <string>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// Label: a view that shows one line of text.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only; in debug builds setText aborts with a message off it.
// Errors: none.
class Label : public View {
public:
    using View::View;

    const std::string& text() const { return text_; }

    void setText(std::string text);

protected:
    std::string className() const override { return "Label"; }

private:
    std::string text_;
};

}  // namespace pelmar::ui
