#include "pelmar/editor/CoverSelectorTableCell.h"

#include "pelmar/editor/internal/EditorNibs.h"
#include "pelmar/platform/ui/Nib.h"

namespace pelmar {

std::shared_ptr<CoverSelectorTableCell> CoverSelectorTableCell::create() {
    editor::internal::registerEditorNibs();
    auto cell = std::make_shared<CoverSelectorTableCell>(ui::Rect{0, 0, 390, 200});
    ui::Nib::instantiate("CoverSelectorTableCell", *cell);
    return cell;
}

}  // namespace pelmar
