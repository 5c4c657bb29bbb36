#include "pelmar/platform/ui/Label.h"

#include <utility>

#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

void Label::setAttributedText(std::vector<TextRun> runs) {
    std::string joined;
    for (const auto& run : runs) {
        joined += run.text;
    }
    setText(std::move(joined));
    runs_ = std::move(runs);
}

void Label::setText(std::string text) {
    internal::assertMainThread("Label::setText");
    runs_.clear();
    const std::string old = std::exchange(text_, std::move(text));
    if (old == text_) {
        return;
    }
    // A copy: an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto& [token, observer] : observers) {
        if (observers_.contains(token)) {
            observer(*this, old);
        }
    }
}

int Label::addTextObserver(TextObserver observer) {
    const int token = nextObserver_++;
    observers_.emplace(token, std::move(observer));
    return token;
}

void Label::removeTextObserver(int token) {
    observers_.erase(token);
}

}  // namespace pelmar::ui
