#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/ui/NavigationController.h"

namespace pelmar::ui {

class Image;
class ImagePickerController;

// Kinds of media a picker offers, by type identifier.
inline constexpr std::string_view kImagePickerTypeMovie = "public.movie";
inline constexpr std::string_view kImagePickerTypeImage = "public.image";

enum class ImagePickerSourceType : int { PhotoLibrary = 0, Camera = 1, SavedPhotosAlbum = 2 };

enum class ImagePickerCameraCaptureMode : int { Photo = 0, Video = 1 };

enum class ImagePickerCameraDevice : int { Rear = 0, Front = 1 };

enum class ImagePickerQualityType : int { High = 0, Medium = 1, Low = 2 };

// What the user chose: the type identifier, and for a movie the file URL of a copy the picker made
// in the temporary folder, for a picture the picture and its file URL. Keys of the platform's
// result dictionary: "UIImagePickerControllerMediaType", "UIImagePickerControllerMediaURL",
// "UIImagePickerControllerOriginalImage", "UIImagePickerControllerImageURL".
struct ImagePickerMediaInfo {
    std::optional<std::string> mediaType;
    std::optional<std::string> mediaURL;  // "file:///..."
    std::shared_ptr<const Image> originalImage;
    std::optional<std::string> imageURL;  // "file:///..."
    // The library asset the item came from, when it came from the library.
    std::optional<std::string> assetIdentifier;
};

// ImagePickerControllerDelegate: hears the outcome of a picker. A method left as it is acts as the
// platform does for a delegate that does not implement it: the picker dismisses itself (animated).
class ImagePickerControllerDelegate {
public:
    virtual ~ImagePickerControllerDelegate() = default;

    virtual void imagePickerController(ImagePickerController& picker,
                                       const ImagePickerMediaInfo& info);

    virtual void imagePickerControllerDidCancel(ImagePickerController& picker);
};

// ImagePickerSource: what one source type shows and does inside a picker: its first screen, and
// for a camera the capture actions. The photo library's source is built in; others (the camera)
// are installed with ImagePickerController::setSource().
class ImagePickerSource {
public:
    virtual ~ImagePickerSource() = default;

    // Whether this source can be used on this device now.
    virtual bool isAvailable() const { return true; }

    // The type identifiers this source can deliver.
    virtual std::vector<std::string> availableMediaTypes() const = 0;

    // The picker's first screen for this source (made when the picker's view loads).
    virtual std::shared_ptr<ViewController> makeRootScreen(ImagePickerController& picker) = 0;

    // Capture actions; a source without a camera refuses them (false).
    virtual bool takePicture(ImagePickerController&) { return false; }

    virtual bool startVideoCapture(ImagePickerController&) { return false; }

    virtual void stopVideoCapture(ImagePickerController&) {}
};

// ImagePickerController: the system's media picker: a navigation controller whose screens come
// from its source (photo library or camera), limited to the media types asked for. The user's
// choice or cancel reaches the delegate; a picker presents and dismisses like any screen.
// Ownership: reference object made with std::make_shared; the presenter holds it. The delegate
// and navigation delegate are held weakly (a subclass may be its own delegate). Sources are
// process-wide, installed once, never destroyed.
// Threads: main thread only.
// Errors: setSourceType() with a source that is not available throws std::invalid_argument,
//     as the platform raises; the capture functions answer false without a camera source.
class ImagePickerController : public NavigationController {
public:
    ImagePickerController();

    // Installs the source of `type` for every picker made afterwards (null: none).
    static void setSource(ImagePickerSourceType type, std::shared_ptr<ImagePickerSource> source);
    static std::shared_ptr<ImagePickerSource> source(ImagePickerSourceType type);

    static bool isSourceTypeAvailable(ImagePickerSourceType type);
    static std::vector<std::string> availableMediaTypes(ImagePickerSourceType type);

    ImagePickerSourceType sourceType() const { return sourceType_; }

    void setSourceType(ImagePickerSourceType type);

    // Default: images only.
    const std::vector<std::string>& mediaTypes() const { return mediaTypes_; }

    void setMediaTypes(std::vector<std::string> types) { mediaTypes_ = std::move(types); }

    bool allowsEditing() const { return allowsEditing_; }

    void setAllowsEditing(bool allows) { allowsEditing_ = allows; }

    // Seconds; default 600.
    double videoMaximumDuration() const { return videoMaximumDuration_; }

    void setVideoMaximumDuration(double seconds) { videoMaximumDuration_ = seconds; }

    ImagePickerQualityType videoQuality() const { return videoQuality_; }

    void setVideoQuality(ImagePickerQualityType quality) { videoQuality_ = quality; }

    ImagePickerCameraCaptureMode cameraCaptureMode() const { return captureMode_; }

    void setCameraCaptureMode(ImagePickerCameraCaptureMode mode) { captureMode_ = mode; }

    ImagePickerCameraDevice cameraDevice() const { return cameraDevice_; }

    void setCameraDevice(ImagePickerCameraDevice device) { cameraDevice_ = device; }

    bool showsCameraControls() const { return showsCameraControls_; }

    void setShowsCameraControls(bool shows) { showsCameraControls_ = shows; }

    std::shared_ptr<ImagePickerControllerDelegate> delegate() const { return delegate_.lock(); }

    void setPickerDelegate(std::weak_ptr<ImagePickerControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    bool takePicture();
    bool startVideoCapture();
    void stopVideoCapture();

    // For sources: the user chose `info` / cancelled. Goes to the delegate, or dismisses the
    // picker when there is none.
    void finishPicking(const ImagePickerMediaInfo& info);
    void cancelPicking();

    // Whether the media types ask for movies / pictures.
    bool offersMovies() const;
    bool offersImages() const;

    void viewDidLoad() override;

private:
    ImagePickerSourceType sourceType_ = ImagePickerSourceType::PhotoLibrary;
    std::vector<std::string> mediaTypes_{std::string(kImagePickerTypeImage)};
    bool allowsEditing_ = false;
    double videoMaximumDuration_ = 600;
    ImagePickerQualityType videoQuality_ = ImagePickerQualityType::Medium;
    ImagePickerCameraCaptureMode captureMode_ = ImagePickerCameraCaptureMode::Photo;
    ImagePickerCameraDevice cameraDevice_ = ImagePickerCameraDevice::Rear;
    bool showsCameraControls_ = true;
    std::weak_ptr<ImagePickerControllerDelegate> delegate_;
};

}  // namespace pelmar::ui
