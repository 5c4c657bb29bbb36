#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/ImagePickerController.h"

namespace pelmar::av {

// ImagePickerCameraSource: the camera of the system media picker, on the synthetic capture
// hardware: available while the device has a camera; a picture is a frame of the camera's test
// pattern, a movie a clip of it (H.264, as long as the capture lasted on the clock, at least one
// frame) written to the temporary folder. The picker's screen is a dark viewfinder with a shutter
// (picture, or start and stop for movies) and a cancel button.
// Ownership: installed once for the process with install(); never destroyed.
// Threads: main thread only; a movie is finished on the writer's thread and handed to the
//     picker on the main queue.
// Errors: takePicture() / startVideoCapture() answer false when the picker does not ask for that
//     kind of media or (movies) a capture is already running; a movie that cannot be written ends
//     the picking with a cancel.
class ImagePickerCameraSource : public ui::ImagePickerSource {
public:
    static constexpr int kPictureWidth = 720;
    static constexpr int kPictureHeight = 960;

    // Installs the camera source for ImagePickerSourceType::Camera (once; later calls do nothing).
    static void install();

    bool isAvailable() const override;

    std::vector<std::string> availableMediaTypes() const override;

    std::shared_ptr<ui::ViewController> makeRootScreen(ui::ImagePickerController& picker) override;

    bool takePicture(ui::ImagePickerController& picker) override;

    bool startVideoCapture(ui::ImagePickerController& picker) override;

    void stopVideoCapture(ui::ImagePickerController& picker) override;

private:
    Mutex mutex_;
    // Start time on the clock of each picker's running movie capture.
    std::map<const ui::ImagePickerController*, double> captures_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
