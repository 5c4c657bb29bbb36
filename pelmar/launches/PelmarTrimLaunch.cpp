#include <memory>
#include <string>

#include "pelmar/core/Pelmar.h"
#include "pelmar/editor/PelmarVideoEditor.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"

namespace pelmar {

void Pelmar::trimVideo(const std::string& path) {
    auto parent = getParentViewController();
    if (path.find("http://") != std::string::npos || path.find("https://") != std::string::npos) {
        auto alert = std::make_shared<ui::AlertController>("", "Pelmar can trim only local video.");
        alert->addAction(ui::AlertAction{"OK", ui::AlertAction::Style::Default, nullptr});
        if (parent) {
            parent->present(alert, true);
        }
        return;
    }
    const auto [destination, error] = copyToDocumentsMovie(path);
    if (error) {
        // Opening the editor now would show whatever video an earlier call left there.
        logError("trimVideo: cannot copy " + path + ": " + error->description());
        return;
    }
    auto editor = PelmarVideoEditor::create(shared_from_this(), destination.string());
    editor->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (parent) {
        parent->present(editor, true);
    }
}

}  // namespace pelmar
