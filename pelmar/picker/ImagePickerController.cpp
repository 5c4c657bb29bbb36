#include "pelmar/picker/ImagePickerController.h"

#include <algorithm>
#include <numbers>

#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/picker/PreviewViewController.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationItem.h"

namespace pelmar {

namespace {

constexpr double kArrowSeconds = 0.3;

}  // namespace

ImagePickerController::ImagePickerController(std::vector<photos::AssetPtr> selectedAssets)
    : settings_(std::make_shared<Settings>()),
      albumButton_(std::make_shared<ui::Button>()),
      assetStore_(std::make_shared<AssetStore>(std::move(selectedAssets))),
      grid_(std::make_shared<AssetsViewController>(assetStore_)),
      albumList_(std::make_shared<AlbumsViewController>()),
      dropdown_(std::make_shared<DropdownTransitionDelegate>()),
      zoom_(std::make_shared<ZoomTransitionDelegate>()) {}

std::shared_ptr<ImagePickerController> ImagePickerController::create(
        std::vector<photos::AssetPtr> selectedAssets) {
    auto picker = std::shared_ptr<ImagePickerController>(
            new ImagePickerController(std::move(selectedAssets)));
    std::weak_ptr<ImagePickerController> weak = picker;
    picker->doneButton_ = std::make_shared<ui::BarButtonItem>("", [weak] {
        if (auto self = weak.lock()) {
            self->doneButtonPressed();
        }
    });
    picker->doneButton_->setStyle(ui::BarButtonItem::Style::Done);
    picker->cancelButton_ =
            std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::SystemItem::Cancel, [weak] {
                if (auto self = weak.lock()) {
                    self->cancelButtonPressed();
                }
            });
    picker->albumButton_->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
        if (auto self = weak.lock()) {
            self->albumsButtonPressed();
        }
    });
    picker->delegate_ = picker;
    return picker;
}

void ImagePickerController::viewDidLoad() {
    NavigationController::viewDidLoad();
    auto self = std::static_pointer_cast<ImagePickerController>(shared_from_this());
    albumList_->setSettings(settings_);
    grid_->setSettings(settings_);
    albumList_->setDelegate(self);
    grid_->setDelegate(self);
    view()->layer()->setBackgroundColor(settings_->theme()->backgroundColor());
    setDelegate(zoom_);
    // The title and the arrow in the button's tint, the title in the system font of 16 points
    // shrinking to fit, the arrow after it.
    const ui::Color tint = albumButton_->tintColor().value_or(PickerColors::defaultTintColor());
    albumButton_->setTitleColor(tint, ui::ControlState::Normal);
    albumButton_->setTitleFont(ui::Font::systemFont(16));
    albumButton_->setTitleAdjustsFontSizeToFitWidth(true);
    auto arrow = std::make_shared<ArrowView>(ui::Rect{0, 0, 8, 8});
    arrow->layer()->setBackgroundColor(ui::Color::clear());
    arrow->setStrokeColor(tint);
    albumButton_->setImage(arrow->asImage(), ui::ControlState::Normal);
    albumButton_->setSemanticContentAttribute(ui::SemanticContentAttribute::ForceRightToLeft);
    auto item = grid_->navigationItem();
    item->setTitleView(albumButton_);
    item->setRightBarButtonItems({doneButton_});
    item->setLeftBarButtonItems({cancelButton_});
    // The bar takes the grid's items when the grid goes on the stack.
    setViewControllers({grid_}, false);
    navigationBar()->setTranslucent(false);
    if (!navigationBar()->barTintColor()) {
        navigationBar()->setBarTintColor(PickerColors::systemBackgroundColor());
    }
    updatedDoneButton();
    updateAlbumButton();
    const auto& list = albums();
    if (!list.empty()) {
        select(*list.front());
    }
}

const std::vector<photos::AssetCollectionPtr>& ImagePickerController::albums() {
    if (!albums_) {
        photos::FetchOptions options = *settings_->fetch()->assets()->options();
        options.fetchLimit = 1;
        std::vector<photos::AssetCollectionPtr> found;
        for (const auto& result : settings_->fetch()->album()->fetchResults()) {
            for (const auto& album : result) {
                if (photos::Asset::fetchAssets(*album, &options).count() > 0) {
                    found.push_back(album);
                }
            }
        }
        albums_ = std::move(found);
    }
    return *albums_;
}

void ImagePickerController::deselect(const photos::Asset& asset) {
    assetStore_->remove(asset);
    grid_->unselect(asset);
    updatedDoneButton();
}

void ImagePickerController::updatedDoneButton() {
    const int64_t n = assetStore_->count();
    doneButton_->setTitle(n == 0 ? doneButtonTitle_
                                 : doneButtonTitle_ + " (" + std::to_string(n) + ")");
    doneButton_->setEnabled(n >= settings_->selection()->min());
}

void ImagePickerController::updateAlbumButton() {
    albumButton_->setHidden(albums().size() < 2);
}

void ImagePickerController::select(const photos::AssetCollection& album) {
    grid_->showAssets(album);
    albumButton_->setTitle(album.localizedTitle().value_or("") + " ");
    albumButton_->sizeToFit();
}

void ImagePickerController::albumsButtonPressed() {
    albumList_->setAlbums(albums());
    albumList_->setTransitioningDelegate(dropdown_);
    albumList_->setModalPresentationStyle(ui::ModalPresentationStyle::Custom);
    rotateButtonArrow();
    present(albumList_, true);
}

void ImagePickerController::rotateButtonArrow() {
    std::weak_ptr<ImagePickerController> weak =
            std::static_pointer_cast<ImagePickerController>(shared_from_this());
    ui::View::animate(kArrowSeconds, [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        const auto& arrow = self->albumButton_->imageView();
        arrow->setTransform(
                arrow->transform().concatenating(ui::AffineTransform::rotation(std::numbers::pi)));
    });
}

void ImagePickerController::doneButtonPressed() {
    if (resultDelivered_) {
        return;
    }
    resultDelivered_ = true;
    if (auto d = delegate_.lock()) {
        d->imagePickerDidFinishWithAssets(*this, assetStore_->assets());
    }
    if (settings_->dismiss()->enabled()) {
        dismiss(true);
    }
}

void ImagePickerController::cancelButtonPressed() {
    if (resultDelivered_) {
        return;
    }
    resultDelivered_ = true;
    if (auto d = delegate_.lock()) {
        d->imagePickerDidCancelWithAssets(*this, assetStore_->assets());
    }
    if (settings_->dismiss()->enabled()) {
        dismiss(true);
    }
}

bool ImagePickerController::presentationControllerShouldDismiss() {
    return settings_->dismiss()->enabled() && settings_->dismiss()->allowSwipe();
}

void ImagePickerController::presentationControllerDidDismiss() {
    if (auto d = delegate_.lock()) {
        d->imagePickerDidCancelWithAssets(*this, assetStore_->assets());
    }
}

bool ImagePickerController::swipeToDismiss() {
    if (resultDelivered_ || !presentationControllerShouldDismiss()) {
        return false;
    }
    resultDelivered_ = true;
    std::weak_ptr<ImagePickerController> weak =
            std::static_pointer_cast<ImagePickerController>(shared_from_this());
    dismiss(true, [weak] {
        if (auto self = weak.lock()) {
            self->presentationControllerDidDismiss();
        }
    });
    return true;
}

void ImagePickerController::imagePickerDidSelectAsset(ImagePickerController&,
                                                      const photos::AssetPtr& asset) {
    if (onSelection) {
        onSelection(asset);
    }
}

void ImagePickerController::imagePickerDidDeselectAsset(ImagePickerController&,
                                                        const photos::AssetPtr& asset) {
    if (onDeselection) {
        onDeselection(asset);
    }
}

void ImagePickerController::imagePickerDidFinishWithAssets(
        ImagePickerController&, const std::vector<photos::AssetPtr>& assets) {
    if (onFinish) {
        onFinish(assets);
    }
}

void ImagePickerController::imagePickerDidCancelWithAssets(
        ImagePickerController&, const std::vector<photos::AssetPtr>& assets) {
    if (onCancel) {
        onCancel(assets);
    }
}

void ImagePickerController::assetsViewControllerDidSelectAsset(AssetsViewController&,
                                                               const photos::AssetPtr& asset) {
    auto selection = settings_->selection();
    if (selection->unselectOnReachingMax() && assetStore_->count() > selection->max()) {
        if (auto dropped = assetStore_->removeFirst()) {
            grid_->unselect(*dropped);
            if (auto d = delegate_.lock()) {
                d->imagePickerDidDeselectAsset(*this, dropped);
            }
        }
    }
    updatedDoneButton();
    if (auto d = delegate_.lock()) {
        d->imagePickerDidSelectAsset(*this, asset);
    }
    if (assetStore_->count() >= selection->max()) {
        if (auto d = delegate_.lock()) {
            d->imagePickerDidReachSelectionLimit(*this, assetStore_->count());
        }
    }
}

void ImagePickerController::assetsViewControllerDidDeselectAsset(AssetsViewController&,
                                                                 const photos::AssetPtr& asset) {
    updatedDoneButton();
    if (auto d = delegate_.lock()) {
        d->imagePickerDidDeselectAsset(*this, asset);
    }
}

void ImagePickerController::assetsViewControllerDidLongPressCell(AssetsViewController&,
                                                                 AssetCollectionViewCell& cell,
                                                                 const photos::AssetPtr& asset) {
    auto preview = PreviewBuilder::createPreviewController(asset, settings_);
    zoom_->setZoomedOutView(cell.imageView());
    zoom_->setZoomedInView(preview->imageView());
    push(preview, true);
}

void ImagePickerController::albumsViewControllerDidSelectAlbum(
        AlbumsViewController& list, const photos::AssetCollectionPtr& album) {
    select(*album);
    list.dismiss(true);
}

void ImagePickerController::didDismissAlbumsViewController(AlbumsViewController&) {
    rotateButtonArrow();
}

std::set<Settings::Fetch::Assets::MediaTypes> mediaTypesFor(const std::vector<std::string>& types) {
    using M = Settings::Fetch::Assets::MediaTypes;
    const bool video = std::find(types.begin(), types.end(), "video") != types.end();
    const bool picture = std::find(types.begin(), types.end(), "image") != types.end();
    if (video && picture) {
        return {M::Image, M::Video};
    }
    if (video) {
        return {M::Video};
    }
    return {M::Image};
}

void presentImagePicker(const std::shared_ptr<ui::ViewController>& presenter,
                        int64_t max,
                        const std::vector<std::string>& mediaTypes,
                        float maxDuration,
                        bool animated,
                        std::function<void(const photos::AssetPtr&)> select,
                        std::function<void(const photos::AssetPtr&)> deselect,
                        std::function<void(const std::vector<photos::AssetPtr>&)> cancel,
                        std::function<void(const std::vector<photos::AssetPtr>&)> finish,
                        std::function<void()> completion) {
    std::weak_ptr<ui::ViewController> weakPresenter = presenter;
    auto open = [weakPresenter, max, mediaTypes, maxDuration, animated, select, deselect, cancel,
                 finish, completion] {
        auto presenting = weakPresenter.lock();
        if (!presenting) {
            return;
        }
        auto picker = ImagePickerController::create({});
        auto settings = picker->settings();
        // A limit below one would drop every selection the moment it is made.
        settings->selection()->setMax(std::max<int64_t>(1, max));
        settings->theme()->setSelectionStyle(Settings::SelectionStyle::Numbered);
        settings->fetch()->assets()->setSupportedMediaTypes(mediaTypesFor(mediaTypes));
        settings->fetch()->assets()->setMaxDuration(maxDuration);
        settings->selection()->setUnselectOnReachingMax(true);
        picker->onSelection = select;
        picker->onDeselection = deselect;
        picker->onCancel = cancel;
        picker->onFinish = finish;
        picker->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        presenting->present(picker, animated, completion);
    };
    photos::PhotoLibrary::requestAuthorization([open](photos::AuthorizationStatus status) {
        if (status == photos::AuthorizationStatus::Authorized) {
            dispatch::Queue::main()->async(open);
            return;
        }
        foundation::Log::write("Photo library access not granted (status "
                               + std::to_string(static_cast<int>(status)) + "); picker not shown");
    });
}

}  // namespace pelmar
