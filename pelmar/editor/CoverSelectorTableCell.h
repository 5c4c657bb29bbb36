#pragma once

#include <memory>

#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/TableView.h"

// CoverSelectorTableCell: a row of the cover selector: one frame across the row. Its view comes
// from the interface file "CoverSelectorTableCell".
// Ownership: made by create(); owns its image view.
// Threads: main thread only.
// Errors: none.

namespace pelmar {

class CoverSelectorTableCell : public ui::TableViewCell {
public:
    // A cell with its interface file loaded.
    static std::shared_ptr<CoverSelectorTableCell> create();

    using ui::TableViewCell::TableViewCell;

    std::weak_ptr<ui::ImageView> coverView;

protected:
    std::string className() const override { return "CoverSelectorTableCell"; }
};

}  // namespace pelmar
