#pragma once

#include <string>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// ItemCell: a view that shows one item of a table or collection view and is reused for other
// items once it scrolls away: the view calls prepareForReuse() before handing it out again.
// Ownership: reference object made with std::make_shared; held by its table or collection view
// while visible or waiting for reuse.
// Threads: main thread only.
// Errors: none.
class ItemCell : public View {
public:
    using View::View;

    const std::string& reuseIdentifier() const { return reuseIdentifier_; }

    bool isSelected() const { return selected_; }

    virtual void setSelected(bool selected) { selected_ = selected; }

    // Clears what the last item left; overrides call the base.
    virtual void prepareForReuse() { selected_ = false; }

protected:
    std::string className() const override { return "ItemCell"; }

private:
    friend class ItemsView;

    std::string reuseIdentifier_;
    bool selected_ = false;
};

}  // namespace pelmar::ui
