#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "pelmar/core/Pelmar.h"
#include "pelmar/editor/PelmarVideoEditor.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Sandbox.h"
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
    const std::filesystem::path destination =
            foundation::Sandbox::documentsDirectory() / "video.mp4";
    std::error_code ec;
    // Trimming the copy itself again: removing it first would lose the only file.
    if (!std::filesystem::equivalent(path, destination, ec)) {
        (void)foundation::FileManager::removeItem(destination);
        if (auto error = foundation::FileManager::copyItem(path, destination)) {
            // Opening the editor now would show whatever video an earlier call left there.
            logError("trimVideo: cannot copy " + path + ": " + error->description());
            return;
        }
    }
    auto editor = PelmarVideoEditor::create(shared_from_this(), destination.string());
    editor->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (parent) {
        parent->present(editor, true);
    }
}

}  // namespace pelmar
