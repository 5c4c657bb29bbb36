#pragma once

// The picker over the synthetic photo library: a fixture that opens it on a key window and
// records its delegate calls, shared by the picker's screen tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "pelmar/picker/AlbumsViewController.h"
#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/picker/AssetsCollectionViewDataSource.h"
#include "pelmar/picker/ImagePickerController.h"
#include "pelmar/picker/PreviewViewController.h"
#include "pelmar/picker/SelectionView.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/photos/AssetChangeRequest.h"
#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/ReverseGeocoder.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationItem.h"
#include "pelmar/platform/ui/RecordingContext.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"

namespace pelmar::test {

using photos::PhotoLibrary;

// Records the picker's delegate calls as "select:<n>", "deselect:<n>" (n: the asset's index in
// the library order), "finish:<n>:...", "cancel:<n>:..." (the assets reported), "limit:<count>".
struct Calls : ImagePickerControllerDelegate {
    explicit Calls(std::vector<std::string> assetIds) : ids(std::move(assetIds)) {}

    std::string name(const photos::AssetPtr& a) const {
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (ids[i] == a->localIdentifier()) {
                return std::to_string(i);
            }
        }
        return "?";
    }

    void imagePickerDidSelectAsset(ImagePickerController&, const photos::AssetPtr& a) override {
        log.push_back("select:" + name(a));
    }

    void imagePickerDidDeselectAsset(ImagePickerController&, const photos::AssetPtr& a) override {
        log.push_back("deselect:" + name(a));
    }

    void imagePickerDidFinishWithAssets(ImagePickerController&,
                                        const std::vector<photos::AssetPtr>& assets) override {
        log.push_back(joined("finish", assets));
    }

    void imagePickerDidCancelWithAssets(ImagePickerController&,
                                        const std::vector<photos::AssetPtr>& assets) override {
        log.push_back(joined("cancel", assets));
    }

    // `word`, then ":<n>" for each asset.
    std::string joined(std::string word, const std::vector<photos::AssetPtr>& assets) const {
        for (const auto& a : assets) {
            word += ":" + name(a);
        }
        return word;
    }

    void imagePickerDidReachSelectionLimit(ImagePickerController&, int64_t n) override {
        log.push_back("limit:" + std::to_string(n));
    }

    std::vector<std::string> ids;
    std::vector<std::string> log;
};

class PhotoLibraryPickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& library = PhotoLibrary::shared();
        library.reset(app_.sandboxRoot() / "PhotoLibrary");
        library.setAuthorizationStatus(photos::AuthorizationStatus::Authorized);
        // Newest first in the grid: asset i shows at item 5 - i.
        for (int i = 0; i < 6; ++i) {
            const auto file = photos::test::writeJpeg(app_.sandboxRoot() / "media",
                                                      "p" + std::to_string(i) + ".jpg", 60, 40, i);
            ids_.push_back(
                    library.addAsset({.file = file, .creationDate = 100.0 + i}).localIdentifier);
        }
        calls_ = std::make_shared<Calls>(ids_);
    }

    void TearDown() override { PhotoLibrary::shared().reset(); }

    std::shared_ptr<ImagePickerController> open(
            const std::function<void(Settings&)>& configure = nullptr,
            std::vector<photos::AssetPtr> selected = {}) {
        auto picker = ImagePickerController::create(std::move(selected));
        picker->settings()->theme()->setSelectionStyle(Settings::SelectionStyle::Numbered);
        if (configure) {
            configure(*picker->settings());
        }
        picker->setImagePickerDelegate(calls_);
        picker->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        app_.root()->present(picker, false);
        app_.settle();
        app_.advance(1);
        return picker;
    }

    // Opens the picker on two albums: the whole library, then "Two" (assets 0 and 1).
    std::shared_ptr<ImagePickerController> openOnTwoAlbums() {
        PhotoLibrary::shared().addAlbum("Two", {ids_[0], ids_[1]});
        return open([](Settings& s) {
            s.fetch()->album()->setFetchResults(
                    {photos::AssetCollection::fetchAssetCollections(
                             photos::AssetCollectionType::SmartAlbum,
                             photos::AssetCollectionSubtype::SmartAlbumUserLibrary),
                     photos::AssetCollection::fetchAssetCollections(
                             photos::AssetCollectionType::Album,
                             photos::AssetCollectionSubtype::Any)});
        });
    }

    // Taps the cell showing library asset `i`.
    bool tapAsset(ImagePickerController& picker, int i) {
        auto cell = picker.assetsViewController()->cellAt(5 - i);
        return cell && app_.tap(cell);
    }

    std::string badge(ImagePickerController& picker, int i) {
        auto cell = picker.assetsViewController()->cellAt(5 - i);
        if (!cell || !cell->isSelected()) {
            return "-";
        }
        auto number = std::dynamic_pointer_cast<NumberView>(cell->selectionView()->icon());
        return number ? number->text() : "?";
    }

    std::vector<std::string> stored(ImagePickerController& picker) {
        std::vector<std::string> out;
        for (const auto& a : picker.selectedAssets()) {
            out.push_back(calls_->name(a));
        }
        return out;
    }

    App app_;
    std::vector<std::string> ids_;
    std::shared_ptr<Calls> calls_;
};

}  // namespace pelmar::test
