#include "pelmar/platform/av/AssetTrack.h"

namespace pelmar::av {

const char* mediaTypeName(MediaType type) {
    switch (type) {
        case MediaType::Video:
            return "video";
        case MediaType::Audio:
            return "audio";
        case MediaType::Text:
            return "text";
    }
    return "unknown";
}

}  // namespace pelmar::av
