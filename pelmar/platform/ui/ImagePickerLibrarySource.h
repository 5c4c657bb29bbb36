#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/ui/ImagePickerController.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class Button;
class Label;

// The camera-switch control of the system picker's screens; the system names it "CAMFlipButton".
class CameraFlipButtonView : public View {
protected:
    std::string className() const override { return "CAMFlipButton"; }
};

// ImagePickerLibraryScreen: the system picker's photo-library screen: a "Cancel" button (a button
// holding a label with that text), the camera-switch control, and one button per library item of
// the picker's media types, newest first. Tapping an item hands it to the picker: a movie as a
// copy in the temporary folder, a picture as the picture and its file.
// Ownership: made by the photo-library source for one picker, which it refers to weakly.
// Threads: main thread only.
// Errors: an item whose file cannot be copied or read is not delivered; the failure goes to the
//     platform log.
class ImagePickerLibraryScreen : public ViewController {
public:
    explicit ImagePickerLibraryScreen(std::weak_ptr<ImagePickerController> picker)
        : picker_(std::move(picker)) {}

    const std::shared_ptr<Button>& cancelButton() const { return cancelButton_; }

    const std::vector<std::shared_ptr<Button>>& itemButtons() const { return itemButtons_; }

    // The library identifiers of the items, in the order of itemButtons().
    const std::vector<std::string>& itemIdentifiers() const { return itemIdentifiers_; }

    // Delivers item `index` as a tap on it does.
    bool pick(std::size_t index);

    void viewDidLoad() override;

private:
    std::weak_ptr<ImagePickerController> picker_;
    std::shared_ptr<Button> cancelButton_;
    std::vector<std::shared_ptr<Button>> itemButtons_;
    std::vector<std::string> itemIdentifiers_;
};

// ImagePickerLibrarySource: the built-in photo-library source over the shared photo library.
class ImagePickerLibrarySource : public ImagePickerSource {
public:
    std::vector<std::string> availableMediaTypes() const override;

    std::shared_ptr<ViewController> makeRootScreen(ImagePickerController& picker) override;
};

}  // namespace pelmar::ui
