#include "pelmar/imageloader/PelmarRemoteImageCategory.h"

#include "pelmar/imageloader/PelmarRemoteImageCategoryManager.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {

using Manager = PelmarRemoteImageCategoryManager;

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url) {
    Manager::setImageOnView(shared_from_this(), url);
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       const PelmarImage& placeholder) {
    Manager::setImageOnView(shared_from_this(), url, placeholder);
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       PelmarImageCompletion completion) {
    Manager::setImageOnView(shared_from_this(), url, nullptr, std::move(completion));
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       const PelmarImage& placeholder,
                                                       PelmarImageCompletion completion) {
    Manager::setImageOnView(shared_from_this(), url, placeholder, std::move(completion));
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       const std::string& processorKey,
                                                       PelmarImageProcessor processor) {
    Manager::setImageOnView(shared_from_this(), url, nullptr, processorKey, std::move(processor),
                            nullptr);
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       const PelmarImage& placeholder,
                                                       const std::string& processorKey,
                                                       PelmarImageProcessor processor) {
    Manager::setImageOnView(shared_from_this(), url, placeholder, processorKey,
                            std::move(processor), nullptr);
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       const std::string& processorKey,
                                                       PelmarImageProcessor processor,
                                                       PelmarImageCompletion completion) {
    Manager::setImageOnView(shared_from_this(), url, nullptr, processorKey, std::move(processor),
                            std::move(completion));
}

void PelmarRemoteImageCategory::pelmar_setImageFromURL(const std::optional<std::string>& url,
                                                       const PelmarImage& placeholder,
                                                       const std::string& processorKey,
                                                       PelmarImageProcessor processor,
                                                       PelmarImageCompletion completion) {
    Manager::setImageOnView(shared_from_this(), url, placeholder, processorKey,
                            std::move(processor), std::move(completion));
}

void PelmarRemoteImageCategory::pelmar_setImageFromURLs(const std::vector<std::string>& urls) {
    Manager::setImageOnViewFromURLs(shared_from_this(), urls, nullptr, {}, nullptr, nullptr);
}

void PelmarRemoteImageCategory::pelmar_setImageFromURLs(const std::vector<std::string>& urls,
                                                        const PelmarImage& placeholder) {
    Manager::setImageOnViewFromURLs(shared_from_this(), urls, placeholder, {}, nullptr, nullptr);
}

void PelmarRemoteImageCategory::pelmar_setImageFromURLs(const std::vector<std::string>& urls,
                                                        const PelmarImage& placeholder,
                                                        PelmarImageCompletion completion) {
    Manager::setImageOnViewFromURLs(shared_from_this(), urls, placeholder, {}, nullptr,
                                    std::move(completion));
}

void PelmarRemoteImageCategory::pelmar_cancelImageDownload() {
    Manager::cancelImageDownloadOnView(*this);
}

std::optional<std::string> PelmarRemoteImageCategory::pelmar_downloadImageOperationUUID() const {
    return Manager::downloadImageOperationUUIDOnView(*this);
}

void PelmarRemoteImageCategory::pelmar_setDownloadImageOperationUUID(
        std::optional<std::string> uuid) {
    Manager::setDownloadImageOperationUUID(std::move(uuid), *this);
}

bool PelmarRemoteImageCategory::pelmar_updateWithProgress() const {
    return Manager::updateWithProgressOnView(*this);
}

std::shared_ptr<const ui::Image> PelmarRemoteImageCategory::uiImage(const PelmarImage& bitmap) {
    return bitmap ? ui::Image::fromBitmap(bitmap) : nullptr;
}

void PelmarRemoteImageCategory::setPelmar_updateWithProgress(bool updateWithProgress) {
    Manager::setUpdateWithProgressOnView(updateWithProgress, *this);
}

}  // namespace pelmar
