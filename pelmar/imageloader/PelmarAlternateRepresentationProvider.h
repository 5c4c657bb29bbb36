#pragma once

#include <string>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"

namespace pelmar {

// PelmarAlternateRepresentationProvider: turns downloaded animated-GIF data into a
// PelmarCachedAnimatedImage, so that the image manager delivers an animation instead of a still.
// Ownership: stateless; held by shared_ptr by the manager.
// Threads: thread-safe.
// Errors: null for data that is not an animated GIF or does not decode (the manager then keeps
//     the still image or reports undecodable data).
class PelmarAlternateRepresentationProvider
    : public PelmarRemoteImageManagerAlternateRepresentationProvider {
public:
    PelmarImageRepresentation alternateRepresentationWithData(
            const std::string& data, PelmarImageRequestOptions options) override;
};

}  // namespace pelmar
