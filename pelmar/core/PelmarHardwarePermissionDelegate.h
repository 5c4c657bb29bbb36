#pragma once

// PelmarHardwarePermissionDelegate: answers of the hardware and permission checks the facade runs
// when this delegate is set. Optional methods.
// Ownership: held strongly by the facade.
// Threads: the hardware and camera-permission answers come on the thread that set the delegate; the
//     photo-library and microphone answers on the main queue.
// Errors: none.

namespace pelmar {

class PelmarHardwarePermissionDelegate {
public:
    virtual ~PelmarHardwarePermissionDelegate() = default;

    virtual void checkCameraPermission(bool /*granted*/) {}

    virtual void checkMicrophonePermission(bool /*granted*/) {}

    virtual void checkPhotoLibraryPermission(bool /*granted*/) {}

    virtual void checkHasCamera(bool /*available*/) {}

    virtual void checkHasMicrophone(bool /*available*/) {}
};

}  // namespace pelmar
