#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/ui/ImagePickerController.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"

namespace pelmar {

class Pelmar;

namespace av {
class AssetExportSession;
}

// PelmarVideoLibrary: a ready-made movie picker for the host app: the system picker on the photo
// library limited to movies, with its "Cancel" and "Retake" buttons re-skinned as white icons and
// an optional hidden camera-switch button. A picked movie is converted to a small MPEG-4 file in
// Documents/MP4 and uploaded as a video through the facade's upload engine (the unconverted movie
// when the conversion fails); then the picker dismisses itself. A cancel dismisses it and then
// tells the file-selector delegate. Output names never collide: a second pick in the same second
// gets "<seconds>_1.mp4" and so on.
// Ownership: made by create(); the host presents it. It keeps the facade (strongly) and the labels
// it re-skins; it is its own picker and navigation delegate (held weakly). Every export it starts
// keeps itself and the picker alive until its movie is handed to the upload engine, so each of
// several picks is uploaded although neither the host nor the picker holds its export.
// Threads: main thread only; export completions and label changes hop to the main queue.
// Errors: reported through the facade's logs ("not compatible object", "Export failed: ...",
//     "Export canceled"); nothing is thrown.
class PelmarVideoLibrary : public ui::ImagePickerController,
                           public ui::ImagePickerControllerDelegate,
                           public ui::NavigationControllerDelegate {
public:
    static std::shared_ptr<PelmarVideoLibrary> create(
            std::shared_ptr<Pelmar> pelmar, std::optional<std::string> videoToken = std::nullopt);
    ~PelmarVideoLibrary() override;

    bool coverSelectorEnabled = false;
    bool cameraFlipButtonVisible = true;
    std::optional<Json> extraArgsForCreateVideo;

    const std::optional<std::string>& videoToken() const { return videoToken_; }

    void selectExistingVideo();

    // The last path component ("a/b/c.mp4" gives "c.mp4").
    static std::optional<std::string> getFileName(const std::optional<std::string>& path);

    // The framework's PNG of that name, or null when it does not ship.
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    void hideFlipButtonInSubviews(const std::shared_ptr<ui::View>& view);
    void scanSubviews(ui::View& view, const std::string& prefix);

    // Starts the upload of a path or file URL (on a later main-queue turn), then dismisses.
    void uploadVideo(const std::string& path);

    const std::shared_ptr<ui::ImageView>& closeButtonImageView() const { return closeIcon_; }

    const std::shared_ptr<ui::ImageView>& retakeButtonImageView() const { return retakeIcon_; }

    std::shared_ptr<ui::Label> closeButtonLabel() const { return closeLabel_; }

    std::shared_ptr<ui::Label> retakeButtonLabel() const { return retakeLabel_; }

    // The export of the last pick, while it runs and after.
    std::shared_ptr<av::AssetExportSession> exportSession() const { return export_; }

    void viewDidAppear(bool animated) override;

    void imagePickerController(ui::ImagePickerController& picker,
                               const ui::ImagePickerMediaInfo& info) override;
    void imagePickerControllerDidCancel(ui::ImagePickerController& picker) override;
    void didShow(ui::NavigationController& navigation,
                 ui::ViewController& controller,
                 bool animated) override;

private:
    PelmarVideoLibrary(std::shared_ptr<Pelmar> pelmar, std::optional<std::string> videoToken);

    void observe(const std::shared_ptr<ui::Label>& label, int& token);
    void labelTextChanged(const std::shared_ptr<ui::Label>& label);
    std::filesystem::path reserveOutput(const std::filesystem::path& folder);

    std::shared_ptr<Pelmar> pelmar_;
    std::optional<std::string> videoToken_;
    std::shared_ptr<ui::ImageView> closeIcon_;
    std::shared_ptr<ui::ImageView> retakeIcon_;
    std::shared_ptr<ui::Label> closeLabel_;
    std::shared_ptr<ui::Label> retakeLabel_;
    int closeObserver_ = 0;
    int retakeObserver_ = 0;
    std::shared_ptr<av::AssetExportSession> export_;
};

}  // namespace pelmar
