#include "pelmar/platform/ui/ImagePickerLibrarySource.h"

#include <algorithm>
#include <atomic>

#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Label.h"

namespace pelmar::ui {

namespace {

constexpr double kTile = 90;
constexpr double kBarHeight = 44;
constexpr int kColumns = 4;

// A button holding a label, as the system's bar buttons are built.
std::shared_ptr<Button> labelledButton(const std::string& text, Rect frame) {
    auto button = std::make_shared<Button>();
    button->setFrame(frame);
    button->setTitle(text);
    auto label = std::make_shared<Label>();
    label->setFrame({0, 0, frame.width, frame.height});
    label->setText(text);
    button->addSubview(label);
    return button;
}

// A copy of `file` in the temporary folder under a name no earlier pick used.
std::optional<std::filesystem::path> temporaryCopy(const std::filesystem::path& file) {
    static std::atomic<int> counter{0};
    const auto folder = foundation::Sandbox::temporaryDirectory();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::filesystem::path copy;
    do {
        copy = folder / ("picked-" + std::to_string(++counter) + file.extension().string());
    } while (std::filesystem::exists(copy, ec));
    if (!std::filesystem::copy_file(file, copy, ec)) {
        foundation::Log::write("cannot copy " + file.string() + ": " + ec.message());
        return std::nullopt;
    }
    return copy;
}

}  // namespace

void ImagePickerLibraryScreen::viewDidLoad() {
    ViewController::viewDidLoad();
    auto root = view();
    const double width = root->bounds().width > 0 ? root->bounds().width : 390;
    cancelButton_ = labelledButton("Cancel", {8, 0, 70, kBarHeight});
    cancelButton_->addTarget(ControlEvent::TouchUpInside, [this] {
        if (auto picker = picker_.lock()) {
            picker->cancelPicking();
        }
    });
    root->addSubview(cancelButton_);
    auto flip = std::make_shared<CameraFlipButtonView>();
    flip->setFrame({width - 52, 0, 44, kBarHeight});
    root->addSubview(flip);

    auto picker = picker_.lock();
    const bool movies = picker && picker->offersMovies();
    const bool pictures = picker && picker->offersImages();
    auto assets = photos::PhotoLibrary::shared().state()->assets;
    std::erase_if(assets, [&](const photos::AssetPtr& a) {
        return !((movies && a->mediaType() == photos::AssetMediaType::Video)
                 || (pictures && a->mediaType() == photos::AssetMediaType::Image));
    });
    std::stable_sort(assets.begin(), assets.end(), [](const auto& a, const auto& b) {
        return a->creationDate().value_or(0) > b->creationDate().value_or(0);
    });
    for (std::size_t i = 0; i < assets.size(); ++i) {
        auto item = std::make_shared<Button>();
        const double x = static_cast<double>(i % kColumns) * (kTile + 2);
        const double y = kBarHeight + static_cast<double>(i / kColumns) * (kTile + 2);
        item->setFrame({x, y, kTile, kTile});
        item->addTarget(ControlEvent::TouchUpInside, [this, i] { pick(i); });
        root->addSubview(item);
        itemButtons_.push_back(item);
        itemIdentifiers_.push_back(assets[i]->localIdentifier());
    }
}

bool ImagePickerLibraryScreen::pick(std::size_t index) {
    auto picker = picker_.lock();
    if (!picker || index >= itemIdentifiers_.size()) {
        return false;
    }
    const auto asset = photos::PhotoLibrary::shared().asset(itemIdentifiers_[index]);
    if (!asset) {
        return false;
    }
    ImagePickerMediaInfo info;
    info.assetIdentifier = asset->localIdentifier();
    if (asset->mediaType() == photos::AssetMediaType::Video) {
        const auto copy = temporaryCopy(asset->file());
        if (!copy) {
            return false;
        }
        info.mediaType = std::string(kImagePickerTypeMovie);
        info.mediaURL = foundation::fileURLFromPath(*copy);
    } else {
        info.mediaType = std::string(kImagePickerTypeImage);
        info.originalImage = Image::fromFile(asset->file());
        if (!info.originalImage) {
            foundation::Log::write("cannot read " + asset->file().string());
            return false;
        }
        info.imageURL = foundation::fileURLFromPath(asset->file());
    }
    picker->finishPicking(info);
    return true;
}

std::vector<std::string> ImagePickerLibrarySource::availableMediaTypes() const {
    return {std::string(kImagePickerTypeImage), std::string(kImagePickerTypeMovie)};
}

std::shared_ptr<ViewController> ImagePickerLibrarySource::makeRootScreen(
        ImagePickerController& picker) {
    return std::make_shared<ImagePickerLibraryScreen>(
            std::static_pointer_cast<ImagePickerController>(picker.shared_from_this()));
}

}  // namespace pelmar::ui
