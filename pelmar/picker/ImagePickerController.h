#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/picker/AlbumsViewController.h"
#include "pelmar/picker/ArrowView.h"
#include "pelmar/picker/AssetStore.h"
#include "pelmar/picker/AssetsViewController.h"
#include "pelmar/picker/Settings.h"
#include "pelmar/picker/ZoomTransitionDelegate.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/BarButtonItem.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/NavigationController.h"

namespace pelmar {

class ImagePickerController;

// ImagePickerControllerDelegate: what the photo-library picker reports. Every call comes on the
// main thread from the user's actions; the picker is passed first.
class ImagePickerControllerDelegate {
public:
    virtual ~ImagePickerControllerDelegate() = default;

    virtual void imagePickerDidSelectAsset(ImagePickerController&, const photos::AssetPtr&) {}

    virtual void imagePickerDidDeselectAsset(ImagePickerController&, const photos::AssetPtr&) {}

    virtual void imagePickerDidFinishWithAssets(ImagePickerController&,
                                                const std::vector<photos::AssetPtr>&) {}

    virtual void imagePickerDidCancelWithAssets(ImagePickerController&,
                                                const std::vector<photos::AssetPtr>&) {}

    virtual void imagePickerDidReachSelectionLimit(ImagePickerController&, int64_t /*count*/) {}
};

// ImagePickerController: the photo-library multi-picker: a navigation controller whose first
// screen is the asset grid, with an album title button (and its drop-down), a Done button
// counting the selection and a Cancel button. It owns its Settings and selection store, enforces
// the selection limit (dropping the oldest selection when asked to), pushes a zoomed preview on a
// long press, and forwards everything to its delegate, which by default is itself, passing the
// calls on to the four callbacks. Done and Cancel act once: later presses before the picker has
// gone are ignored, so a result is never delivered twice.
// Ownership: reference object from create(); the presenter holds it. It owns its grid, album list
// and transition delegates; its delegate is held weakly; the callbacks are its own.
// Threads: main thread only.
// Errors: none.
class ImagePickerController : public ui::NavigationController,
                              public ImagePickerControllerDelegate,
                              public AssetsViewControllerDelegate,
                              public AlbumsViewControllerDelegate {
public:
    static std::shared_ptr<ImagePickerController> create(
            std::vector<photos::AssetPtr> selectedAssets = {});

    void setImagePickerDelegate(std::weak_ptr<ImagePickerControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    std::shared_ptr<ImagePickerControllerDelegate> imagePickerDelegate() const {
        return delegate_.lock();
    }

    // The photo library's current authorisation (nothing in the picker reads it).
    static photos::AuthorizationStatus currentAuthorization() {
        return photos::PhotoLibrary::authorizationStatus();
    }

    const std::shared_ptr<Settings>& settings() const { return settings_; }

    const std::vector<photos::AssetPtr>& selectedAssets() const { return assetStore_->assets(); }

    const std::shared_ptr<AssetStore>& assetStore() const { return assetStore_; }

    const std::string& doneButtonTitle() const { return doneButtonTitle_; }

    void setDoneButtonTitle(std::string title) { doneButtonTitle_ = std::move(title); }

    std::function<void(const photos::AssetPtr&)> onSelection;
    std::function<void(const photos::AssetPtr&)> onDeselection;
    std::function<void(const std::vector<photos::AssetPtr>&)> onCancel;
    std::function<void(const std::vector<photos::AssetPtr>&)> onFinish;

    const std::shared_ptr<ui::BarButtonItem>& doneButton() const { return doneButton_; }

    const std::shared_ptr<ui::BarButtonItem>& cancelButton() const { return cancelButton_; }

    const std::shared_ptr<ui::Button>& albumButton() const { return albumButton_; }

    const std::shared_ptr<AssetsViewController>& assetsViewController() const { return grid_; }

    const std::shared_ptr<AlbumsViewController>& albumsViewController() const { return albumList_; }

    const std::shared_ptr<ZoomTransitionDelegate>& zoomTransitionDelegate() const { return zoom_; }

    // Albums with at least one asset the picker offers, computed once.
    const std::vector<photos::AssetCollectionPtr>& albums();

    void setAlbums(std::vector<photos::AssetCollectionPtr> albums) { albums_ = std::move(albums); }

    void deselect(const photos::Asset& asset);
    void updatedDoneButton();
    void updateAlbumButton();
    void select(const photos::AssetCollection& album);

    void albumsButtonPressed();
    void doneButtonPressed();
    void cancelButtonPressed();
    void rotateButtonArrow();

    // The system's swipe-down of a sheet: asks whether the picker may go, dismisses it and
    // counts it as a cancel. Refused unless dismissal and swipes are allowed.
    bool presentationControllerShouldDismiss();
    void presentationControllerDidDismiss();
    bool swipeToDismiss();

    void viewDidLoad() override;

    // Its own delegate: forwards to the callbacks.
    void imagePickerDidSelectAsset(ImagePickerController&, const photos::AssetPtr&) override;
    void imagePickerDidDeselectAsset(ImagePickerController&, const photos::AssetPtr&) override;
    void imagePickerDidFinishWithAssets(ImagePickerController&,
                                        const std::vector<photos::AssetPtr>&) override;
    void imagePickerDidCancelWithAssets(ImagePickerController&,
                                        const std::vector<photos::AssetPtr>&) override;

    void assetsViewControllerDidSelectAsset(AssetsViewController& grid,
                                            const photos::AssetPtr& asset) override;
    void assetsViewControllerDidDeselectAsset(AssetsViewController& grid,
                                              const photos::AssetPtr& asset) override;
    void assetsViewControllerDidLongPressCell(AssetsViewController& grid,
                                              AssetCollectionViewCell& cell,
                                              const photos::AssetPtr& asset) override;

    void albumsViewControllerDidSelectAlbum(AlbumsViewController& list,
                                            const photos::AssetCollectionPtr& album) override;
    void didDismissAlbumsViewController(AlbumsViewController& list) override;

private:
    explicit ImagePickerController(std::vector<photos::AssetPtr> selectedAssets);

    std::weak_ptr<ImagePickerControllerDelegate> delegate_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<ui::BarButtonItem> doneButton_;
    std::shared_ptr<ui::BarButtonItem> cancelButton_;
    std::shared_ptr<ui::Button> albumButton_;
    std::string doneButtonTitle_ = "Done";
    std::shared_ptr<AssetStore> assetStore_;
    std::shared_ptr<AssetsViewController> grid_;
    std::shared_ptr<AlbumsViewController> albumList_;
    std::shared_ptr<DropdownTransitionDelegate> dropdown_;
    std::shared_ptr<ZoomTransitionDelegate> zoom_;
    std::optional<std::vector<photos::AssetCollectionPtr>> albums_;
    bool resultDelivered_ = false;
};

// Opens the photo-library picker over `presenter` once access is granted: asks for access every
// time (the answer comes off the main thread and hops to the main queue), builds a picker with
// the numbered style, the limit (`max`, at least 1), the media types ("video" and "image", exact
// and case-sensitive; anything else means images), the longest video and unselect-on-max, wires
// the callbacks, and presents it full screen. Without access nothing is shown, no callback runs,
// and the refusal is logged.
void presentImagePicker(const std::shared_ptr<ui::ViewController>& presenter,
                        int64_t max,
                        const std::vector<std::string>& mediaTypes,
                        float maxDuration,
                        bool animated,
                        std::function<void(const photos::AssetPtr&)> select,
                        std::function<void(const photos::AssetPtr&)> deselect,
                        std::function<void(const std::vector<photos::AssetPtr>&)> cancel,
                        std::function<void(const std::vector<photos::AssetPtr>&)> finish,
                        std::function<void()> completion);

// The supported media types the picker offers for the entry's `mediaTypes`.
std::set<Settings::Fetch::Assets::MediaTypes> mediaTypesFor(const std::vector<std::string>& types);

}  // namespace pelmar
