#pragma once

#include <memory>
#include <optional>
#include <string>

#include "pelmar/core/PelmarUploadingHandler.h"

// PelmarAudios: the host app's handle on the service's audios: list, get, upload, update, delete
// and download, each forwarded to the upload engine with the audio media type, and the file URL of
// a token.
// Ownership: made and owned by the facade; holds the upload engine (which outlives the facade's end
//     harmlessly: it then refuses work).
// Threads: thread-safe; every callback, progress included, reaches the caller on the main queue in
//     the order the engine produced it.
// Errors: as the upload engine's (PelmarUploadingHandler.h).

namespace pelmar {

class PelmarAudios {
public:
    using Handler = PelmarUploadingHandler;

    explicit PelmarAudios(std::shared_ptr<PelmarUploadingHandler> handler);

    // The file URL of `token` (no request is made); "" for an unsafe token.
    std::string getAudioUrl(const std::string& token) const;

    void index(std::optional<Json> data, Handler::ListCallback callback);

    void get(std::string token, std::optional<Json> data, Handler::ModelCallback callback);

    // Uploads the file at `path` (see PelmarUploadingHandler::upload).
    void create(std::string path,
                std::optional<Json> data,
                Handler::AnswerCallback callback,
                Handler::ProgressCallback progress,
                Handler::AnswerCallback confirmCallback);

    // Updates the audio itself (never a stream).
    void update(std::string token, std::optional<Json> data, Handler::UpdateCallback callback);

    // Deletes the whole audio.
    void destroy(std::string token, Handler::AnswerCallback callback);

    void download(std::string token, Handler::DownloadCallback callback);

private:
    const std::shared_ptr<PelmarUploadingHandler> handler_;
};

}  // namespace pelmar
