#include "pelmar/editor/internal/EditorNibs.h"

#include <memory>
#include <mutex>

#include "pelmar/editor/CoverSelector.h"
#include "pelmar/editor/CoverSelectorTableCell.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/TableView.h"

namespace pelmar::internal {

namespace {

// The frames fill the screen above a bar with the default-cover button.
std::shared_ptr<ui::View> buildCoverSelector(ui::ViewController& owner) {
    auto& selector = dynamic_cast<CoverSelector&>(owner);
    std::weak_ptr<CoverSelector> weak =
            std::static_pointer_cast<CoverSelector>(selector.shared_from_this());
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    root->layer()->setBackgroundColor(ui::Color::black());
    auto table = std::make_shared<ui::TableView>(ui::Rect{0, 0, 390, 764});
    auto useDefault = std::make_shared<ui::Button>(ui::Rect{20, 774, 350, 50});
    useDefault->setTitle("Use default cover");
    useDefault->layer()->setBackgroundColor(ui::Color{1, 1, 1, 0.9});
    useDefault->layer()->setCornerRadius(8);
    useDefault->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
        if (auto self = weak.lock()) {
            self->useDefaultCover();
        }
    });
    root->addSubview(table);
    root->addSubview(useDefault);
    selector.tableView = table;
    return root;
}

std::shared_ptr<ui::View> buildCoverCell(CoverSelectorTableCell& cell) {
    auto cover = std::make_shared<ui::ImageView>(ui::Rect{0, 0, 390, 200});
    cover->setContentMode(ui::ContentMode::ScaleAspectFit);
    cell.addSubview(cover);
    cell.coverView = cover;
    return cover;
}

}  // namespace

void registerEditorNibs() {
    static std::once_flag once;
    std::call_once(once, [] {
        ui::Nib::registerBuilder<ui::ViewController>(
                "CoverSelectorController", buildCoverSelector,
                {{"tableView", [](const ui::ViewController& c) {
                      return !dynamic_cast<const CoverSelector&>(c).tableView.expired();
                  }}});
        ui::Nib::registerBuilder<CoverSelectorTableCell>(
                "CoverSelectorTableCell", buildCoverCell,
                {{"coverView", [](const CoverSelectorTableCell& c) {
                      return !c.coverView.expired();
                  }}});
    });
}

}  // namespace pelmar::internal
