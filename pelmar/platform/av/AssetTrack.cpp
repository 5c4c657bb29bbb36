#include "pelmar/platform/av/AssetTrack.h"

namespace pelmar::av {

const char* trackMediaTypeName(TrackMediaType type) {
    switch (type) {
        case TrackMediaType::Video:
            return "video";
        case TrackMediaType::Audio:
            return "audio";
        case TrackMediaType::Text:
            return "text";
    }
    return "unknown";
}

}  // namespace pelmar::av
