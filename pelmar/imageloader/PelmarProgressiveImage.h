#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManagerConfiguration.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/imageloader/PelmarSpeedRecorder.h"
#include "pelmar/imageloader/PelmarURLSessionManager.h"

namespace pelmar {

// PelmarProgressiveImage: the bytes of one image download as they arrive (from the start of the
// resource, resumed bytes first), the estimate of the time the rest will take, and intermediate
// renders of a progressive JPEG: each time the received share passes the next threshold (0, 0.35
// and 0.65 by default) once the first scan is complete, what has arrived is decoded, and blurred
// in proportion to what is still missing when asked.
// Ownership: made and owned by the download task, one per download; refers to its data task.
// Threads: thread-safe; every field sits under its own lock, a leaf below the task lock; a render
//     holds it while it decodes, so it never sees a half-appended chunk, and blurs outside it, so
//     arriving bytes are not held up by a blur. Renders run one at a time under a render lock
//     taken before the field lock, so they come out in the order of their shares.
// Errors: none; every impossible render gives null.
// Limits: the buffer is reserved for at most kMaxReservedBytes up front, whatever length the
//     server announces; beyond that it grows as bytes really arrive. The search for scan markers
//     reads each byte about once and stops after the second marker. Bytes are decoded only when
//     a render is due, never per chunk.
class PelmarProgressiveImage {
public:
    static constexpr int64_t kMaxReservedBytes = 4 * 1024 * 1024;

    PelmarProgressiveImage(PelmarDataTask dataTask,
                           std::shared_ptr<PelmarSpeedRecorder> speedRecorder);

    const PelmarDataTask& dataTask() const { return dataTask_; }

    // `expectedNumberOfBytes` counts only with the first data: the whole resource's length (-1
    // when unknown). With `isResume` the data are the stored bytes a resumed download starts from.
    void updateProgressiveImageWithData(const std::string& data,
                                        int64_t expectedNumberOfBytes,
                                        bool isResume);

    std::string data();

    // -1 when unknown or before the first data.
    int64_t expectedNumberOfBytes();

    uint64_t startingBytes();

    // Seconds: the largest float when the length or the host's speed is unknown, 0 once every
    // expected byte arrived, else the missing bytes over the host's speed.
    double estimatedRemainingTime();

    // Received shares at which a render is due; an empty list is ignored.
    std::vector<float> progressThresholds();
    void setProgressThresholds(std::vector<float> thresholds);

    // When positive, no render is made while the estimated remaining time is below it; -1 (off)
    // by default.
    double estimatedRemainingTimeThreshold();
    void setEstimatedRemainingTimeThreshold(double seconds);

    // An intermediate render, or null when none is due: the first scan must be complete, the
    // image a progressive JPEG no larger than `maxProgressiveRenderSize`, the received share
    // below 0.99 and past the next threshold (every threshold passed is used up at once).
    // `renderedImageQuality` receives the share.
    PelmarImage currentImageBlurred(bool blurred,
                                    PelmarSize maxProgressiveRenderSize,
                                    double* renderedImageQuality);

    // How many times received bytes were decoded for a render.
    uint64_t decodeCount();

    // Start-of-scan markers found so far (the search stops at 2).
    int sosCount();

    // The blur radius for an image `width` points wide at `scale` with `progress` received.
    static float blurRadius(double width, double scale, float progress);

    // The odd box size of three box passes that stand in for a Gaussian blur of `radius`.
    static int blurBoxSize(float radius);

    // `image` blurred by three box passes of `boxSize`, edges extended, drawn opaque (colour
    // over black). Time depends on the pixels only, not on the box.
    static PelmarImage boxBlurred(const image::Bitmap& image, int boxSize);

private:
    double l_estimatedRemainingTime() PELMAR_REQUIRES(lock_);

    // The decoded bytes when a render is due (thresholds used up, `progress` set), else null.
    PelmarImage l_decodeDueRender(PelmarSize maxProgressiveRenderSize, float* progress)
            PELMAR_REQUIRES(lock_);

    static PelmarImage postProcessImage(const PelmarImage& image, float progress);

    const PelmarDataTask dataTask_;
    const std::shared_ptr<PelmarSpeedRecorder> speedRecorder_;  // never null

    PelmarRemoteLock renderLock_{"PelmarProgressiveImage render"};  // before lock_
    PelmarRemoteLock lock_{"PelmarProgressiveImage"};
    bool hasData_ PELMAR_GUARDED_BY(lock_) = false;
    std::string mutableData_ PELMAR_GUARDED_BY(lock_);
    int64_t expectedNumberOfBytes_ PELMAR_GUARDED_BY(lock_) = -1;
    uint64_t startingBytes_ PELMAR_GUARDED_BY(lock_) = 0;
    bool isProgressiveJPEG_ PELMAR_GUARDED_BY(lock_) = false;
    std::vector<float> progressThresholds_ PELMAR_GUARDED_BY(lock_){0.0f, 0.35f, 0.65f};
    double estimatedRemainingTimeThreshold_ PELMAR_GUARDED_BY(lock_) = -1.0;
    std::size_t currentThreshold_ PELMAR_GUARDED_BY(lock_) = 0;
    std::size_t scannedByte_ PELMAR_GUARDED_BY(lock_) = 0;
    int sosCount_ PELMAR_GUARDED_BY(lock_) = 0;
    PelmarSize size_ PELMAR_GUARDED_BY(lock_);
    uint64_t decodeCount_ PELMAR_GUARDED_BY(lock_) = 0;
};

}  // namespace pelmar
