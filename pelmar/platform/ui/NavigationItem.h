#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/ui/BarButtonItem.h"

namespace pelmar::ui {

class View;

// NavigationItem: what a screen shows in the navigation bar while it is on top: a title, bar
// button items on either side, and what the back button reads on the screen pushed after it.
// A bar showing the item hears when its title, title view or items change, and shows them.
// Ownership: reference object made with std::make_shared; owned by its view controller; owns its
// bar button items.
// Threads: main thread only.
// Errors: none.
class NavigationItem {
public:
    explicit NavigationItem(std::string title = {}) : title_(std::move(title)) {}

    const std::string& title() const { return title_; }

    void setTitle(std::string title) {
        title_ = std::move(title);
        changed();
    }

    const std::vector<std::shared_ptr<BarButtonItem>>& leftBarButtonItems() const { return left_; }

    void setLeftBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
        left_ = std::move(items);
        changed();
    }

    const std::vector<std::shared_ptr<BarButtonItem>>& rightBarButtonItems() const {
        return right_;
    }

    void setRightBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
        right_ = std::move(items);
        changed();
    }

    // The back button's title on the next screen; empty: this item's title, or "Back".
    const std::string& backButtonTitle() const { return backTitle_; }

    void setBackButtonTitle(std::string title) { backTitle_ = std::move(title); }

    // A view the bar shows in the middle in place of the title (null: none).
    std::shared_ptr<View> titleView() const { return titleView_; }

    void setTitleView(std::shared_ptr<View> view) {
        titleView_ = std::move(view);
        changed();
    }

    // Called by the bar that shows this item (null: none).
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    bool hidesBackButton() const { return hidesBack_; }

    void setHidesBackButton(bool hides) { hidesBack_ = hides; }

private:
    void changed() {
        if (onChange_) {
            onChange_();
        }
    }

    std::function<void()> onChange_;
    std::shared_ptr<View> titleView_;
    std::string title_;
    std::vector<std::shared_ptr<BarButtonItem>> left_;
    std::vector<std::shared_ptr<BarButtonItem>> right_;
    std::string backTitle_;
    bool hidesBack_ = false;
};

}  // namespace pelmar::ui
