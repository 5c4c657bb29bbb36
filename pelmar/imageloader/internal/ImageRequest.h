#pragma once

#include <string>
#include <string_view>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"

// What the image manager's source files share: one request as it travels from its entry point
// through registration, lookup, download or processing to its completion, and the small helpers
// every path uses.
// Ownership: a request is held by shared_ptr by the operations that carry it.
// Threads: a request is written before it is scheduled and only read afterwards; the helpers are
//     thread-safe.
// Errors: none.

namespace pelmar {

struct PelmarRemoteImageManager::Request {
    std::string url;
    std::string key;
    std::string uuid;
    PelmarImageRequestOptions options = 0;
    PelmarRemoteImageManagerPriority priority = kPelmarRemoteImageManagerPriorityDefault;
    std::string processorKey;
    PelmarImageProcessor processor;
    PelmarImageCompletion progressImage;
    PelmarImageProgressDownload progressDownload;
    PelmarImageCompletion completion;
    bool isProcessor = false;
};

namespace imageloader::internal {

// A version-4 UUID in upper case, "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX".
std::string newUUID();

// What a URL parser would accept: a scheme, and no blank, control or unsafe character.
bool isUsableURL(std::string_view url);

// The scheme of `url` is `scheme` (lower case; the URL's in any case).
bool hasScheme(std::string_view url, std::string_view scheme);

// An error of kPelmarRemoteImageManagerErrorDomain with the message of its code.
Error managerError(long code);

}  // namespace imageloader::internal

}  // namespace pelmar
