#include "pelmar/live/MediaFrame.h"

namespace pelmar::live {

MediaFrame::MediaFrame(MediaType type, MediaCodec codec)
    : impl_(std::make_shared<MediaFrameImplementation>()) {
    impl_->descriptor = MediaDescriptor{type, codec};
}

}  // namespace pelmar::live
