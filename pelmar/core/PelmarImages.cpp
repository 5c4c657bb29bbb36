#include "pelmar/core/PelmarImages.h"

#include <utility>

#include "pelmar/core/internal/OnMain.h"

namespace pelmar {

using core::internal::onMain;

PelmarImages::PelmarImages(std::shared_ptr<PelmarUploadingHandler> handler)
    : handler_(std::move(handler)) {}

std::string PelmarImages::getImageUrl(const std::string& token) const {
    return handler_->getPath(Media_Type::Image, token);
}

void PelmarImages::index(std::optional<Json> data, Handler::ListCallback callback) {
    handler_->index(Media_Type::Image, std::move(data), onMain(std::move(callback)));
}

void PelmarImages::get(std::string token,
                       std::optional<Json> data,
                       Handler::ModelCallback callback) {
    handler_->get(Media_Type::Image, std::move(token), std::move(data),
                  onMain(std::move(callback)));
}

void PelmarImages::create(std::string path,
                          std::optional<Json> data,
                          Handler::AnswerCallback callback,
                          Handler::ProgressCallback progress,
                          Handler::AnswerCallback confirmCallback) {
    handler_->upload(Media_Type::Image, std::move(path), std::move(data),
                     onMain(std::move(callback)), onMain(std::move(progress)),
                     onMain(std::move(confirmCallback)));
}

void PelmarImages::update(std::string token,
                          std::optional<Json> data,
                          Handler::UpdateCallback callback) {
    handler_->update(Media_Type::Image, std::move(token), "", std::move(data),
                     onMain(std::move(callback)));
}

void PelmarImages::destroy(std::string token, Handler::AnswerCallback callback) {
    handler_->deleteResource(Media_Type::Image, std::move(token), "", onMain(std::move(callback)));
}

void PelmarImages::download(std::string token, Handler::DownloadCallback callback) {
    // The engine already calls back on the main queue.
    handler_->download(Media_Type::Image, std::move(token), std::move(callback));
}

}  // namespace pelmar
