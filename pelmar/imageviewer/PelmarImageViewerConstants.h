#pragma once

#include <string_view>

namespace pelmar {

// Notification names and texts the image viewer's parts share. Notifications go through the
// default notification centre.
inline constexpr std::string_view NOTE_VC_POPPED = "ViewControllerPopped";
inline constexpr std::string_view NOTE_HI_RES_IMG_DOWNLOADED = "HiResDownloadDone";
inline constexpr std::string_view NOTE_VC_SHOULD_DISMISS = "DismissController";
inline constexpr std::string_view NOTE_VC_SHOULD_DISMISS_FROM_DRAGGING =
        "DimissUIFromDraggingGesture";
inline constexpr std::string_view NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION =
        "CancelCustomDismissalTransition";
inline constexpr std::string_view NOTE_IMG_FAILED = "ImageLoadingError";
inline constexpr std::string_view ERROR_TITLE = "Whoops";
inline constexpr std::string_view ERROR_MESSAGE =
        "Looks like we ran into an issue loading the image, sorry about that!";
inline constexpr std::string_view GENERAL_OK = "Ok";
inline constexpr std::string_view HI_RES_IMG_ERROR_DOMAIN =
        "com.pelmarImageViewer.backLoadedImgSource";
inline constexpr long HI_RES_IMG_ERROR_CODE = 44;

// The userInfo key of "HiResDownloadDone" naming the back-loaded source that posted it, so that
// a page takes only its own source's image.
inline constexpr std::string_view kPelmarHiResSourceKey = "source";

// PelmarImageViewerConstants: the holder of the constants above; it has no members.
// Ownership: none. Threads: thread-safe. Errors: none.
class PelmarImageViewerConstants {};

}  // namespace pelmar
