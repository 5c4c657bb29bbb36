#pragma once

#include <functional>
#include <map>
#include <string>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// Label: a view that shows text in one font and colour, on as many lines as numberOfLines allows
// (0: as many as the text needs; 1, the default: one line, cut by lineBreakMode).
// Ownership: reference object made with std::make_shared.
// Threads: main thread only; in debug builds setText aborts with a message off it.
// Errors: none.
class Label : public View {
public:
    using View::View;

    const std::string& text() const { return text_; }

    void setText(std::string text);

    const Font& font() const { return font_; }

    void setFont(Font font) { font_ = std::move(font); }

    Color textColor() const { return textColor_; }

    void setTextColor(Color color) { textColor_ = color; }

    TextAlignment textAlignment() const { return textAlignment_; }

    void setTextAlignment(TextAlignment alignment) { textAlignment_ = alignment; }

    int numberOfLines() const { return numberOfLines_; }

    void setNumberOfLines(int lines) { numberOfLines_ = lines < 0 ? 0 : lines; }

    LineBreakMode lineBreakMode() const { return lineBreakMode_; }

    void setLineBreakMode(LineBreakMode mode) { lineBreakMode_ = mode; }

    // Observers of the text: called after each change with the label and the old text, in the
    // order added. The token removes one.
    using TextObserver = std::function<void(Label& label, const std::string& oldText)>;
    int addTextObserver(TextObserver observer);
    void removeTextObserver(int token);

protected:
    std::string className() const override { return "Label"; }

private:
    std::string text_;
    Font font_;
    Color textColor_ = Color::black();
    TextAlignment textAlignment_ = TextAlignment::Natural;
    int numberOfLines_ = 1;
    LineBreakMode lineBreakMode_ = LineBreakMode::ByTruncatingTail;
    std::map<int, TextObserver> observers_;
    int nextObserver_ = 1;
};

}  // namespace pelmar::ui
