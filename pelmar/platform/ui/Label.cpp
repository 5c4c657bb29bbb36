#include "pelmar/platform/ui/Label.h"

#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

void Label::setText(std::string text) {
    internal::assertMainThread("Label::setText");
    text_ = std::move(text);
}

}  // namespace pelmar::ui
