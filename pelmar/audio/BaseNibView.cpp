#include "pelmar/audio/BaseNibView.h"

#include "pelmar/platform/ui/Nib.h"

namespace pelmar {

// A view made in code has no contentView yet, so there is nothing of a file to load here.
BaseNibView::BaseNibView(ui::Rect frame) : ui::View(frame) {}

void BaseNibView::awakeFromNib() {
    shouldAwakeFromNib_ = false;
    createFromNib();
}

void BaseNibView::createFromNib() {
    if (!contentView) {
        return;
    }
    ui::Nib::instantiate<BaseNibView>(nibName(), *this);
    addSubview(contentView);
    contentView->setFrame(ui::Rect::of({}, bounds().size()));
}

void BaseNibView::layoutSubviews() {
    // contentView is pinned to all four edges.
    if (contentView && contentView->superview().get() == this) {
        contentView->setFrame(ui::Rect::of({}, bounds().size()));
    }
}

}  // namespace pelmar
