#include "pelmar/core/internal/UploadRequests.h"

#include "pelmar/core/internal/TokenCheck.h"

namespace pelmar::core::internal {

UploadFamily familyOf(Media_Type type) {
    switch (type) {
        case Media_Type::Video:
            return {"/videos", "/video.mp4", "video", "stream", "/video_submit"};
        case Media_Type::Audio:
            return {"/audios", "/audio.aac", "audio", "audio_stream", "/audio_submit"};
        case Media_Type::Image:
            return {"/images", "/image.jpg", "image", "image_stream", "/image_submit"};
    }
    return familyOf(Media_Type::Video);
}

Error uploadError(UploadErrorCode code, std::string message) {
    return Error{std::string(kUploadErrorDomain), code, std::move(message)};
}

Error noServiceError() {
    return uploadError(kUploadErrorNoService, "the SDK facade has ended");
}

namespace {

Error invalidTokenError(std::string_view token) {
    return uploadError(kUploadErrorInvalidToken,
                       "token cannot be used in a URL: \"" + std::string(token) + "\"");
}

}  // namespace

std::optional<Error> requestRefusal(const std::shared_ptr<PelmarConnect>& client,
                                    const std::optional<std::string>& app,
                                    const std::vector<std::string_view>& tokens) {
    if (!client) {
        return noServiceError();
    }
    if (!app || !isSafeToken(*app)) {
        return invalidTokenError(app.value_or(""));
    }
    for (std::string_view token : tokens) {
        if (!isSafeToken(token)) {
            return invalidTokenError(token);
        }
    }
    return std::nullopt;
}

bool isSuccess(const std::shared_ptr<const net::HTTPURLResponse>& response) {
    return response && response->statusCode() >= 200 && response->statusCode() < 300;
}

Error httpStatusError(std::string_view what,
                      const std::shared_ptr<const net::HTTPURLResponse>& response) {
    const long status = response ? response->statusCode() : 0;
    return uploadError(kUploadErrorHTTPStatus,
                       std::string(what) + " answered HTTP " + std::to_string(status));
}

std::optional<Error> stepFailure(bool cancelled,
                                 const std::optional<Error>& error,
                                 const std::shared_ptr<const net::HTTPURLResponse>& response,
                                 std::string_view what) {
    if (cancelled) {
        return uploadError(kUploadErrorCancelled, "upload cancelled");
    }
    if (error) {
        return error;
    }
    if (!isSuccess(response)) {
        return httpStatusError(what, response);
    }
    return std::nullopt;
}

}  // namespace pelmar::core::internal
