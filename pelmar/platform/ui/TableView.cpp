#include "pelmar/platform/ui/TableView.h"

#include <algorithm>

namespace pelmar::ui {

std::shared_ptr<Label> TableViewCell::textLabel() {
    if (!textLabel_) {
        textLabel_ = std::make_shared<Label>();
        // The row takes the touch, not its text.
        textLabel_->setUserInteractionEnabled(false);
        addSubview(textLabel_);
    }
    return textLabel_;
}

void TableViewCell::prepareForReuse() {
    ItemCell::prepareForReuse();
    if (textLabel_) {
        textLabel_->setText({});
    }
}

void TableViewCell::layoutSubviews() {
    if (textLabel_) {
        const Rect b = bounds();
        textLabel_->setFrame({16, 0, std::max(0.0, b.width - 32), b.height});
    }
}

int TableView::dataSourceSections() {
    auto source = dataSource_.lock();
    return source ? source->numberOfSections(*this) : 0;
}

int TableView::dataSourceItems(int section) {
    auto source = dataSource_.lock();
    return source ? source->numberOfRows(*this, section) : 0;
}

std::shared_ptr<ItemCell> TableView::dataSourceCell(IndexPath path) {
    auto source = dataSource_.lock();
    return source ? source->cellForRow(*this, path) : nullptr;
}

Rect TableView::itemFrame(IndexPath path) const {
    const auto s = static_cast<std::size_t>(path.section);
    if (s >= tops_.size() || path.item < 0
        || static_cast<std::size_t>(path.item) >= tops_[s].size()) {
        return {};
    }
    const auto i = static_cast<std::size_t>(path.item);
    return {0, tops_[s][i], bounds().width, heights_[s][i]};
}

Size TableView::contentSizeForItems() {
    auto delegate = tableDelegate_.lock();
    tops_.assign(counts().size(), {});
    heights_.assign(counts().size(), {});
    double y = 0;
    for (std::size_t s = 0; s < counts().size(); ++s) {
        for (int i = 0; i < counts()[s]; ++i) {
            double h = delegate ? delegate->heightForRow(*this, {static_cast<int>(s), i}) : -1;
            if (h < 0) {
                h = rowHeight_;
            }
            tops_[s].push_back(y);
            heights_[s].push_back(h);
            y += h;
        }
    }
    return {bounds().width, y};
}

void TableView::didSelect(IndexPath path) {
    if (auto d = tableDelegate_.lock()) {
        d->didSelectRow(*this, path);
    }
}

void TableView::didDeselect(IndexPath path) {
    if (auto d = tableDelegate_.lock()) {
        d->didDeselectRow(*this, path);
    }
}

void TableView::willDisplay(ItemCell& cell, IndexPath path) {
    if (auto d = tableDelegate_.lock()) {
        d->willDisplay(*this, cell, path);
    }
}

void TableView::didEndDisplaying(ItemCell& cell, IndexPath path) {
    if (auto d = tableDelegate_.lock()) {
        d->didEndDisplaying(*this, cell, path);
    }
}

}  // namespace pelmar::ui
