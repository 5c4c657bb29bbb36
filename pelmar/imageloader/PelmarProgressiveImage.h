#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/imageloader/PelmarSpeedRecorder.h"
#include "pelmar/imageloader/PelmarURLSessionManager.h"

namespace pelmar {

// PelmarProgressiveImage: the bytes of one image download as they arrive (from the start of the
// resource, resumed bytes first) and the estimate of the time the rest will take.
// Ownership: made and owned by the download task, one per download; refers to its data task.
// Threads: thread-safe; every field sits under its own lock, a leaf below the task lock.
// Errors: none.
// Limits: the buffer is reserved for at most kMaxReservedBytes up front, whatever length the
//     server announces; beyond that it grows as bytes really arrive.
class PelmarProgressiveImage {
public:
    static constexpr int64_t kMaxReservedBytes = 4 * 1024 * 1024;

    PelmarProgressiveImage(PelmarDataTask dataTask, PelmarSpeedRecorder& speedRecorder);

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

private:
    const PelmarDataTask dataTask_;
    PelmarSpeedRecorder& speedRecorder_;

    PelmarRemoteLock lock_{"PelmarProgressiveImage"};
    bool hasData_ PELMAR_GUARDED_BY(lock_) = false;
    std::string mutableData_ PELMAR_GUARDED_BY(lock_);
    int64_t expectedNumberOfBytes_ PELMAR_GUARDED_BY(lock_) = -1;
    uint64_t startingBytes_ PELMAR_GUARDED_BY(lock_) = 0;
};

}  // namespace pelmar
