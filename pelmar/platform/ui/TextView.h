#pragma once

#include <optional>
#include <string>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// TextView: a view that shows text in a colour of its own (black until one is set).
// Ownership: reference object made with std::make_shared.
// Threads: main thread only; in debug builds the setters abort with a message off it.
// Errors: none.
class TextView : public View {
public:
    using View::View;

    const std::string& text() const { return text_; }

    void setText(std::string text);

    std::optional<Color> textColor() const { return textColor_; }

    void setTextColor(std::optional<Color> color);

    void draw(GraphicsContext& context) override;

protected:
    std::string className() const override { return "TextView"; }

private:
    std::string text_;
    std::optional<Color> textColor_;
};

}  // namespace pelmar::ui
