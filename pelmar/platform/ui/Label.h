#pragma once

#include <functional>
#include <map>
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

    // Observers of the text: called after each change with the label and the old text, in the
    // order added. The token removes one.
    using TextObserver = std::function<void(Label& label, const std::string& oldText)>;
    int addTextObserver(TextObserver observer);
    void removeTextObserver(int token);

protected:
    std::string className() const override { return "Label"; }

private:
    std::string text_;
    std::map<int, TextObserver> observers_;
    int nextObserver_ = 1;
};

}  // namespace pelmar::ui
