#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Size.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// Label: a view that shows text in one font and colour, on as many lines as numberOfLines allows
// (0: as many as the text needs; 1, the default: one line, cut by lineBreakMode). A label that
// adjusts its font size to fit the width draws a line too wide for it in a smaller font, down to
// minimumScaleFactor of its own (0: as small as it takes), and cuts it only below that.
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

    // The text in runs of their own fonts and colours; empty for plain text. Setting it sets
    // the text to the runs joined (observers hear it); setting the text drops the runs.
    const std::vector<TextRun>& attributedText() const { return runs_; }

    void setAttributedText(std::vector<TextRun> runs);

    LineBreakMode lineBreakMode() const { return lineBreakMode_; }

    void setLineBreakMode(LineBreakMode mode) { lineBreakMode_ = mode; }

    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }

    void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSize_ = adjusts; }

    double minimumScaleFactor() const { return minimumScaleFactor_; }

    // Clamped to [0, 1].
    void setMinimumScaleFactor(double factor);

    // How the text is laid out: the label's font, colour, alignment, lines, cut and runs.
    TextStyle textStyle() const;

    // Draws the text in `rect` as the label shows it, the font shrunk first when the label
    // adjusts its font size and the text is wider than `rect`.
    void drawText(GraphicsContext& context, Rect rect) const;

    // The size that just holds the text in its font, its lines no wider than `width` (0:
    // unbounded); zero without text.
    Size sizeThatFits(double width = 0) const;

    // Keeps the origin and takes sizeThatFits().
    void sizeToFit();

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
    bool adjustsFontSize_ = false;
    double minimumScaleFactor_ = 0;
    std::vector<TextRun> runs_;
    std::map<int, TextObserver> observers_;
    int nextObserver_ = 1;
};

}  // namespace pelmar::ui
