#include "pelmar/imageloader/PelmarAlternateRepresentationProvider.h"

#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"

namespace pelmar {

PelmarImageRepresentation PelmarAlternateRepresentationProvider::alternateRepresentationWithData(
        const std::string& data, PelmarImageRequestOptions) {
    return PelmarCachedAnimatedImage::createWithAnimatedImageData(data);
}

}  // namespace pelmar
