#include "pelmar/core/PelmarAudios.h"

#include <utility>

#include "pelmar/core/internal/OnMain.h"

namespace pelmar {

using core::internal::onMain;

PelmarAudios::PelmarAudios(std::shared_ptr<PelmarUploadingHandler> handler)
    : handler_(std::move(handler)) {}

std::string PelmarAudios::getAudioUrl(const std::string& token) const {
    return handler_->getPath(Media_Type::Audio, token);
}

void PelmarAudios::index(std::optional<Json> data, Handler::ListCallback callback) {
    handler_->index(Media_Type::Audio, std::move(data), onMain(std::move(callback)));
}

void PelmarAudios::get(std::string token,
                       std::optional<Json> data,
                       Handler::ModelCallback callback) {
    handler_->get(Media_Type::Audio, std::move(token), std::move(data),
                  onMain(std::move(callback)));
}

void PelmarAudios::create(std::string path,
                          std::optional<Json> data,
                          Handler::AnswerCallback callback,
                          Handler::ProgressCallback progress,
                          Handler::AnswerCallback confirmCallback) {
    handler_->upload(Media_Type::Audio, std::move(path), std::move(data),
                     onMain(std::move(callback)), onMain(std::move(progress)),
                     onMain(std::move(confirmCallback)));
}

void PelmarAudios::update(std::string token,
                          std::optional<Json> data,
                          Handler::UpdateCallback callback) {
    handler_->update(Media_Type::Audio, std::move(token), "", std::move(data),
                     onMain(std::move(callback)));
}

void PelmarAudios::destroy(std::string token, Handler::AnswerCallback callback) {
    handler_->deleteResource(Media_Type::Audio, std::move(token), "", onMain(std::move(callback)));
}

void PelmarAudios::download(std::string token, Handler::DownloadCallback callback) {
    // The engine already calls back on the main queue.
    handler_->download(Media_Type::Audio, std::move(token), std::move(callback));
}

}  // namespace pelmar
