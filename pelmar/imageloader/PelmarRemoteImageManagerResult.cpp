#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"

#include <cstdio>
#include <sstream>

namespace pelmar {
namespace {

std::string objectText(const void* object, const char* className) {
    if (object == nullptr) {
        return "(null)";
    }
    std::ostringstream text;
    text << "<" << className << ": " << object << ">";
    return text.str();
}

std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

PelmarRemoteImageManagerResult::PelmarRemoteImageManagerResult(
        PelmarImage image,
        PelmarImageRepresentation alternativeRepresentation,
        double requestLength,
        std::optional<Error> error,
        PelmarImageResultType resultType,
        std::optional<std::string> UUID,
        std::shared_ptr<const net::HTTPURLResponse> response,
        double renderedImageQuality,
        uint64_t bytesSavedByResuming)
    : image_(std::move(image)),
      alternativeRepresentation_(std::move(alternativeRepresentation)),
      requestDuration_(requestLength),
      error_(std::move(error)),
      resultType_(resultType),
      UUID_(std::move(UUID)),
      response_(std::move(response)),
      renderedImageQuality_(renderedImageQuality),
      bytesSavedByResuming_(bytesSavedByResuming) {}

PelmarImageResult PelmarRemoteImageManagerResult::imageResultWithImage(
        PelmarImage image,
        PelmarImageRepresentation alternativeRepresentation,
        double requestLength,
        PelmarImageResultType resultType,
        std::optional<std::string> UUID,
        std::shared_ptr<const net::HTTPURLResponse> response,
        std::optional<Error> error,
        double renderedImageQuality,
        uint64_t bytesSavedByResuming) {
    return std::make_shared<const PelmarRemoteImageManagerResult>(
            std::move(image), std::move(alternativeRepresentation), requestLength, std::move(error),
            resultType, std::move(UUID), std::move(response), renderedImageQuality,
            bytesSavedByResuming);
}

std::string PelmarRemoteImageManagerResult::description() const {
    std::ostringstream text;
    text << objectText(this, "PelmarRemoteImageManagerResult");
    text << "image: " << objectText(image_.get(), "Bitmap") << "\n";
    text << "alternativeRepresentation: "
         << objectText(alternativeRepresentation_.get(), "PelmarAlternativeRepresentation") << "\n";
    text << "requestDuration: " << fixed(requestDuration_) << "\n";
    text << "error: "
         << (error_ ? error_->domain + " " + std::to_string(error_->code) + ": " + error_->message
                    : std::string("(null)"))
         << "\n";
    text << "resultType: " << static_cast<uint64_t>(resultType_) << "\n";
    text << "UUID: " << UUID_.value_or("(null)") << "\n";
    text << "response: "
         << (response_ ? std::to_string(response_->statusCode()) + " " + response_->url()
                       : std::string("(null)"))
         << "\n";
    text << "renderedImageQuality: " << fixed(renderedImageQuality_) << "\n";
    text << "bytesSavedByResuming: " << bytesSavedByResuming_;
    return text.str();
}

}  // namespace pelmar
