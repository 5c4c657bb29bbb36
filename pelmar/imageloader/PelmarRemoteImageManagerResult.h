#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/net/HTTPURLResponse.h"

namespace pelmar {

// How a result was obtained.
enum class PelmarImageResultType : uint64_t {
    None = 0,         // neither image nor alternative representation (errors, misses)
    MemoryHit = 1,    // an immediate answer from the memory cache or a "data" URL
    CacheHit = 2,     // a task answered from the cache, or an asynchronous cache read
    Downloaded = 3,   // a task answered after a download
    Progressive = 4,  // an intermediate render of a progressive download
};

// What an alternate-representation provider makes of image data, such as an animated image;
// callers cast it to the type they expect.
class PelmarAlternativeRepresentation {
public:
    virtual ~PelmarAlternativeRepresentation() = default;
};

using PelmarImage = std::shared_ptr<image::Bitmap>;
using PelmarImageRepresentation = std::shared_ptr<PelmarAlternativeRepresentation>;

// PelmarRemoteImageManagerResult: what every image completion receives: the image or its
// alternative representation, how long the request took, the error, how the result was obtained,
// the request's UUID and the network response.
// Ownership: an immutable value, handed out as shared_ptr<const PelmarRemoteImageManagerResult>.
// Threads: thread-safe (immutable).
// Errors: carries them; never raises any.
class PelmarRemoteImageManagerResult {
public:
    PelmarRemoteImageManagerResult(PelmarImage image,
                                   PelmarImageRepresentation alternativeRepresentation,
                                   double requestLength,
                                   std::optional<Error> error,
                                   PelmarImageResultType resultType,
                                   std::optional<std::string> UUID,
                                   std::shared_ptr<const net::HTTPURLResponse> response,
                                   double renderedImageQuality = 1.0,
                                   uint64_t bytesSavedByResuming = 0);

    static std::shared_ptr<const PelmarRemoteImageManagerResult> imageResultWithImage(
            PelmarImage image,
            PelmarImageRepresentation alternativeRepresentation,
            double requestLength,
            PelmarImageResultType resultType,
            std::optional<std::string> UUID,
            std::shared_ptr<const net::HTTPURLResponse> response,
            std::optional<Error> error,
            double renderedImageQuality = 1.0,
            uint64_t bytesSavedByResuming = 0);

    const PelmarImage& image() const { return image_; }

    const PelmarImageRepresentation& alternativeRepresentation() const {
        return alternativeRepresentation_;
    }

    // Seconds from the registration of the request (or the start of the call) to this result.
    double requestDuration() const { return requestDuration_; }

    const std::optional<Error>& error() const { return error_; }

    PelmarImageResultType resultType() const { return resultType_; }

    // Empty for answers given without a request.
    const std::optional<std::string>& UUID() const { return UUID_; }

    const std::shared_ptr<const net::HTTPURLResponse>& response() const { return response_; }

    // 0 to 1 for progressive renders, else 1.
    double renderedImageQuality() const { return renderedImageQuality_; }

    uint64_t bytesSavedByResuming() const { return bytesSavedByResuming_; }

    // "<PelmarRemoteImageManagerResult: 0x...>" followed by nine lines, one per property.
    std::string description() const;

private:
    const PelmarImage image_;
    const PelmarImageRepresentation alternativeRepresentation_;
    const double requestDuration_;
    const std::optional<Error> error_;
    const PelmarImageResultType resultType_;
    const std::optional<std::string> UUID_;
    const std::shared_ptr<const net::HTTPURLResponse> response_;
    const double renderedImageQuality_;
    const uint64_t bytesSavedByResuming_;
};

using PelmarImageResult = std::shared_ptr<const PelmarRemoteImageManagerResult>;

}  // namespace pelmar
