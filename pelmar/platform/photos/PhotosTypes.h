#pragma once

#include <cstdint>
#include <string_view>

// PhotosTypes: the small value types shared by the photo library stand-in.
// Ownership: plain values.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::photos {

// Failures of library changes and authorisation; `code` is a PhotosErrorCode.
inline constexpr std::string_view kPhotosErrorDomain = "pelmar.photos";

enum PhotosErrorCode : long {
    kPhotosErrorInvalidResource = 3300,     // a file to add is missing or is not the kind announced
    kPhotosErrorNotAuthorized = 3311,       // access is not granted
    kPhotosErrorChangeNotSupported = 3321,  // a change names an asset the library lacks
    kPhotosErrorFileWrite = 3305,           // the library folder could not take the file
    kPhotosErrorNetworkAccessRequired = 3164,  // the asset is in the cloud; network access is off
};

enum class AuthorizationStatus : int {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    Authorized = 3,
    Limited = 4,
};

enum class AssetMediaType : int { Unknown = 0, Image = 1, Video = 2, Audio = 3 };

// Bit flags of Asset::mediaSubtypes().
enum AssetMediaSubtype : uint32_t {
    kAssetMediaSubtypeNone = 0,
    kAssetMediaSubtypePhotoPanorama = 1,
    kAssetMediaSubtypePhotoHDR = 2,
    kAssetMediaSubtypePhotoScreenshot = 4,
    kAssetMediaSubtypePhotoLive = 8,
    kAssetMediaSubtypePhotoDepthEffect = 16,
};

enum class AssetCollectionType : int { Album = 1, SmartAlbum = 2 };

enum class AssetCollectionSubtype : int {
    AlbumRegular = 2,
    SmartAlbumVideos = 202,
    SmartAlbumFavorites = 203,
    SmartAlbumUserLibrary = 209,
    Any = 0x7fffffff,
};

struct Location {
    double latitude = 0;
    double longitude = 0;

    bool operator==(const Location&) const = default;
};

}  // namespace pelmar::photos
