#pragma once

#include <cstddef>
#include <cstdint>

// blurAlpha: blurs a plane of 8-bit alpha in place by three box passes each way, which stand in
// for a Gaussian of standard deviation `sigma` pixels. Outside the plane counts as transparent,
// so a caller pads the plane by about 3 sigma where ink must spread past its edge.
// Threads: thread-compatible (touches only the plane given).
// Errors: none; a sigma below half a pixel leaves the plane as it is.

namespace pelmar::ui::internal {

void blurAlpha(uint8_t* plane, int width, int height, std::size_t stride, double sigma);

}  // namespace pelmar::ui::internal
