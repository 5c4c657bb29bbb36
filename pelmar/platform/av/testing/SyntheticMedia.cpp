#include "pelmar/platform/av/testing/SyntheticMedia.h"

namespace pelmar::av::test {

std::shared_ptr<media::SampleBuffer> SyntheticMedia::frame(int width,
                                                           int height,
                                                           int64_t index,
                                                           double seconds) {
    return pelmar::test::PictureSample(width, height, index, seconds);
}

std::shared_ptr<media::SampleBuffer> SyntheticMedia::tone(int64_t firstSample,
                                                          int frames,
                                                          int rate,
                                                          int channels) {
    return pelmar::test::SinePcm(firstSample, frames, rate, channels);
}

}  // namespace pelmar::av::test
