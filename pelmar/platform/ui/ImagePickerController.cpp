#include "pelmar/platform/ui/ImagePickerController.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>

#include "pelmar/platform/ui/ImagePickerLibrarySource.h"

namespace pelmar::ui {

namespace {

struct SourceTable {
    std::mutex mutex;
    std::map<ImagePickerSourceType, std::shared_ptr<ImagePickerSource>> sources;
};

SourceTable& table() {
    static SourceTable* t = [] {
        auto* made = new SourceTable();
        auto library = std::make_shared<ImagePickerLibrarySource>();
        made->sources[ImagePickerSourceType::PhotoLibrary] = library;
        made->sources[ImagePickerSourceType::SavedPhotosAlbum] = library;
        return made;
    }();
    return *t;
}

bool contains(const std::vector<std::string>& types, std::string_view type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

}  // namespace

void ImagePickerControllerDelegate::imagePickerController(ImagePickerController& picker,
                                                          const ImagePickerMediaInfo&) {
    picker.dismiss(true);
}

void ImagePickerControllerDelegate::imagePickerControllerDidCancel(ImagePickerController& picker) {
    picker.dismiss(true);
}

ImagePickerController::ImagePickerController() = default;

void ImagePickerController::setSource(ImagePickerSourceType type,
                                      std::shared_ptr<ImagePickerSource> source) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    if (source) {
        t.sources[type] = std::move(source);
    } else {
        t.sources.erase(type);
    }
}

std::shared_ptr<ImagePickerSource> ImagePickerController::source(ImagePickerSourceType type) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto found = t.sources.find(type);
    return found == t.sources.end() ? nullptr : found->second;
}

bool ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType type) {
    auto s = source(type);
    return s && s->isAvailable();
}

std::vector<std::string> ImagePickerController::availableMediaTypes(ImagePickerSourceType type) {
    auto s = source(type);
    return s && s->isAvailable() ? s->availableMediaTypes() : std::vector<std::string>();
}

void ImagePickerController::setSourceType(ImagePickerSourceType type) {
    if (!isSourceTypeAvailable(type)) {
        throw std::invalid_argument("Source type " + std::to_string(static_cast<int>(type))
                                    + " not available");
    }
    sourceType_ = type;
    if (isViewLoaded()) {
        setViewControllers({source(type)->makeRootScreen(*this)}, false);
    }
}

bool ImagePickerController::offersMovies() const {
    return contains(mediaTypes_, kImagePickerTypeMovie) || contains(mediaTypes_, "public.video");
}

bool ImagePickerController::offersImages() const {
    return contains(mediaTypes_, kImagePickerTypeImage);
}

void ImagePickerController::viewDidLoad() {
    NavigationController::viewDidLoad();
    if (auto s = source(sourceType_)) {
        setViewControllers({s->makeRootScreen(*this)}, false);
    }
}

bool ImagePickerController::takePicture() {
    auto s = source(sourceType_);
    return s && s->takePicture(*this);
}

bool ImagePickerController::startVideoCapture() {
    auto s = source(sourceType_);
    return s && s->startVideoCapture(*this);
}

void ImagePickerController::stopVideoCapture() {
    if (auto s = source(sourceType_)) {
        s->stopVideoCapture(*this);
    }
}

void ImagePickerController::finishPicking(const ImagePickerMediaInfo& info) {
    if (auto d = delegate()) {
        d->imagePickerController(*this, info);
    } else {
        dismiss(true);
    }
}

void ImagePickerController::cancelPicking() {
    if (auto d = delegate()) {
        d->imagePickerControllerDidCancel(*this);
    } else {
        dismiss(true);
    }
}

}  // namespace pelmar::ui
