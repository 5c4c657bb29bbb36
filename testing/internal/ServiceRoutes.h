#pragma once

#include <string>
#include <string_view>

#include "testing/ServiceTypes.h"

// ServiceRoutes: the emulator's map from an address role, a method and a raw path to the
// operation it names and the tokens in the path: the API ("/v1/applications/<app>/..."), the
// regional API (the same under "/embed"), the CDN and file-server downloads and the storage host's
// "/upload/<id>".
// Ownership: plain values and free functions.
// Threads: thread-safe (pure functions).
// Errors: unknown paths give Op::NotFound, wrong methods Op::MethodNotAllowed, tokens outside
//     [A-Za-z0-9._~-] Op::BadToken.

namespace pelmar::test::internal {

enum class Op {
    NotFound,
    MethodNotAllowed,
    BadToken,
    Session,
    Debugger,
    Index,
    Create,
    Get,
    Update,
    Delete,
    Confirm,
    CreateStream,
    RecorderSubmit,
    ImageAttach,
    Thumbnail,
    Download,
    StorageUpload,
};

struct Route {
    Op op = Op::NotFound;
    MediaKind kind = MediaKind::Video;
    std::string app;
    std::string token;
    std::string stream;
    std::string uploadId;
    bool needsSession = false;
    bool raw = false;  // the body is data, not form parameters
};

// The loopback address that serves `role` ("127.0.0.1" ... "127.0.0.5").
const char* addressOf(Role role);

// HEAD resolves as GET.
Route resolve(Role role, std::string_view method, std::string_view path);

}  // namespace pelmar::test::internal
