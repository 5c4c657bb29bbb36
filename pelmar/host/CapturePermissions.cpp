#include "pelmar/host/CapturePermissions.h"

#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/photos/PhotoLibrary.h"

namespace pelmar {

namespace {

av::CaptureEnvironment& environment() {
    return av::CaptureEnvironment::shared();
}

}  // namespace

CapturePermissions& CapturePermissions::grant(av::MediaType media) {
    environment().setAuthorizationStatus(media, av::AuthorizationStatus::Authorized);
    return *this;
}

CapturePermissions& CapturePermissions::deny(av::MediaType media) {
    environment().setAuthorizationStatus(media, av::AuthorizationStatus::Denied);
    return *this;
}

CapturePermissions& CapturePermissions::restrict(av::MediaType media) {
    environment().setAuthorizationStatus(media, av::AuthorizationStatus::Restricted);
    return *this;
}

CapturePermissions& CapturePermissions::ask(av::MediaType media, bool granted) {
    environment()
            .setAuthorizationStatus(media, av::AuthorizationStatus::NotDetermined)
            .setRequestAnswer(media, granted);
    return *this;
}

CapturePermissions& CapturePermissions::answerAfter(double seconds) {
    environment().setAnswerDelay(seconds);
    return *this;
}

CapturePermissions& CapturePermissions::photoLibrary(photos::AuthorizationStatus status) {
    photos::PhotoLibrary::shared().setAuthorizationStatus(status);
    return *this;
}

CapturePermissions& CapturePermissions::askPhotoLibrary(photos::AuthorizationStatus answer) {
    auto& library = photos::PhotoLibrary::shared();
    library.setAuthorizationStatus(photos::AuthorizationStatus::NotDetermined);
    library.setAuthorizationAnswer(answer);
    return *this;
}

}  // namespace pelmar
