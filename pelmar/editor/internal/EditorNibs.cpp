#include "pelmar/editor/internal/EditorNibs.h"

#include <memory>
#include <mutex>

#include "pelmar/editor/CoverSelector.h"
#include "pelmar/editor/CoverSelectorTableCell.h"
#include "pelmar/editor/PelmarVideoEditor.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/TableView.h"

namespace pelmar::editor::internal {

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
    useDefault->setTitleColor(ui::Color::black(), ui::ControlState::Normal);
    useDefault->setTitleFont(ui::Font::systemFont(17, ui::FontWeight::Medium));
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

// The video on top, the frame strip with the slider over it, the crop button below and a close
// button in the corner.
std::shared_ptr<ui::View> buildVideoEditor(ui::ViewController& owner) {
    auto& editor = dynamic_cast<PelmarVideoEditor&>(owner);
    std::weak_ptr<PelmarVideoEditor> weak =
            std::static_pointer_cast<PelmarVideoEditor>(editor.shared_from_this());
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    root->layer()->setBackgroundColor(ui::Color::black());
    auto video = std::make_shared<ui::View>(ui::Rect{0, 100, 390, 480});
    auto strip = std::make_shared<ui::View>(ui::Rect{15, 610, 360, 60});
    auto container = std::make_shared<ui::View>(ui::Rect{15, 610, 360, 60});
    auto crop = std::make_shared<ui::Button>(ui::Rect{120, 710, 150, 44});
    crop->setTitle("Crop");
    crop->setTitleFont(ui::Font::systemFont(17, ui::FontWeight::Semibold));
    crop->layer()->setBackgroundColor(ui::Color{0.2, 0.5, 1, 1});
    auto close = std::make_shared<ui::Button>(ui::Rect{16, 50, 44, 44});
    close->setTitle("Close");
    close->setTitleFont(ui::Font::systemFont(12, ui::FontWeight::Medium));
    close->layer()->setBorderColor(ui::Color::white());
    close->layer()->setBorderWidth(2);
    close->layer()->setCornerRadius(22);
    for (const auto& view :
         std::initializer_list<std::shared_ptr<ui::View>>{video, strip, container, crop, close}) {
        root->addSubview(view);
    }
    crop->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
        if (auto self = weak.lock()) {
            self->cropVideo();
        }
    });
    close->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
        if (auto self = weak.lock()) {
            self->onClose();
        }
    });
    editor.videoLayer = video;
    editor.imageFrameView = strip;
    editor.frameContainerView = container;
    editor.cropButton = crop;
    return root;
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
        ui::Nib::registerBuilder<ui::ViewController>(
                "PelmarVideoEditor", buildVideoEditor,
                {{"videoLayer",
                  [](const ui::ViewController& c) {
                      return !dynamic_cast<const PelmarVideoEditor&>(c).videoLayer.expired();
                  }},
                 {"cropButton",
                  [](const ui::ViewController& c) {
                      return !dynamic_cast<const PelmarVideoEditor&>(c).cropButton.expired();
                  }},
                 {"frameContainerView",
                  [](const ui::ViewController& c) {
                      return !dynamic_cast<const PelmarVideoEditor&>(c)
                                      .frameContainerView.expired();
                  }},
                 {"imageFrameView", [](const ui::ViewController& c) {
                      return !dynamic_cast<const PelmarVideoEditor&>(c).imageFrameView.expired();
                  }}});
        ui::Nib::registerBuilder<CoverSelectorTableCell>(
                "CoverSelectorTableCell", buildCoverCell,
                {{"coverView",
                  [](const CoverSelectorTableCell& c) { return !c.coverView.expired(); }}});
    });
}

}  // namespace pelmar::editor::internal
