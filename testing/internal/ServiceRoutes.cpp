#include "testing/internal/ServiceRoutes.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <vector>

namespace pelmar::test::internal {

namespace {

// Tokens travel in paths unescaped, so only characters that need no escaping are accepted.
bool validToken(std::string_view token) {
    if (token.empty() || token == "." || token == "..") {
        return false;
    }
    return std::all_of(token.begin(), token.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '~'
               || c == '-';
    });
}

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> segments;
    if (path.empty() || path.front() != '/') {
        return segments;
    }
    path.remove_prefix(1);
    while (true) {
        const size_t slash = path.find('/');
        segments.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) {
            break;
        }
        path.remove_prefix(slash + 1);
    }
    return segments;
}

struct MethodOp {
    const char* method;
    Op op;
};

Op pick(std::string_view method, std::initializer_list<MethodOp> allowed) {
    for (const auto& entry : allowed) {
        if (method == entry.method) {
            return entry.op;
        }
    }
    return Op::MethodNotAllowed;
}

Route resolveApplicationPath(Role role, std::string_view method, std::vector<std::string_view> s) {
    Route route;
    if (s.size() < 3 || s[0] != "v1" || s[1] != "applications") {
        return route;
    }
    route.app = std::string(s[2]);
    s.erase(s.begin(), s.begin() + 3);
    route.needsSession = role == Role::Api || role == Role::DevApi;
    if (!validToken(route.app)) {
        route.op = Op::BadToken;
        return route;
    }
    const size_t n = s.size();
    const auto tokensAt = [&](std::initializer_list<size_t> positions) {
        for (size_t i : positions) {
            if (!validToken(s[i])) {
                return false;
            }
        }
        if (positions.size() > 0) {
            route.token = std::string(s[*positions.begin()]);
        }
        if (positions.size() > 1) {
            route.stream = std::string(s[*(positions.begin() + 1)]);
        }
        return true;
    };
    const auto with = [&](Op op, std::initializer_list<size_t> positions) {
        route.op = tokensAt(positions) ? op : Op::BadToken;
        return route;
    };

    if (role == Role::Api) {
        if (n == 1 && s[0] == "session") {
            route.needsSession = false;
            return with(pick(method, {{"POST", Op::Session}}), {});
        }
        if (n == 1 && s[0] == "debugger") {
            route.raw = true;
            return with(pick(method, {{"POST", Op::Debugger}}), {});
        }
        if (n == 0 || s[0] != "videos") {
            return route;
        }
        route.kind = MediaKind::Video;
        if (n == 1) {
            return with(pick(method, {{"GET", Op::Index}, {"POST", Op::Create}}), {});
        }
        if (n == 2 && s[1] == "videos-upload-url") {
            return with(pick(method, {{"POST", Op::Create}}), {});
        }
        if (n == 2) {
            return with(
                    pick(method, {{"GET", Op::Get}, {"POST", Op::Update}, {"DELETE", Op::Delete}}),
                    {1});
        }
        if (n == 3 && s[2] == "image") {
            return with(pick(method, {{"GET", Op::Thumbnail}}), {1});
        }
        if (n == 3 && s[2] == "streams") {
            return with(pick(method, {{"POST", Op::CreateStream}}), {1});
        }
        if (n == 4 && s[2] == "streams") {
            return with(pick(method, {{"POST", Op::Update}, {"DELETE", Op::Delete}}), {1, 3});
        }
        if (n == 5 && s[2] == "streams") {
            if (s[4] == "confirm-video") {
                return with(pick(method, {{"POST", Op::Confirm}}), {1, 3});
            }
            if (s[4] == "recordersubmit") {
                return with(pick(method, {{"POST", Op::RecorderSubmit}}), {1, 3});
            }
            if (s[4] == "imageattach") {
                route.raw = true;
                return with(pick(method, {{"POST", Op::ImageAttach}}), {1, 3});
            }
        }
        return route;
    }
    if (role == Role::DevApi) {
        if (n == 0 || (s[0] != "audios" && s[0] != "images")) {
            return route;
        }
        route.kind = s[0] == "audios" ? MediaKind::Audio : MediaKind::Image;
        if (n == 1) {
            return with(pick(method, {{"GET", Op::Index}, {"POST", Op::Create}}), {});
        }
        if (n == 2) {
            return with(
                    pick(method, {{"GET", Op::Get}, {"POST", Op::Update}, {"DELETE", Op::Delete}}),
                    {1});
        }
        if (n == 3 && s[2] == "confirm") {
            return with(pick(method, {{"POST", Op::Confirm}}), {1});
        }
        return route;
    }
    if (role == Role::CdnApi && n == 3 && s[0] == "videos") {
        route.kind = MediaKind::Video;
        if (s[2] == "video.mp4") {
            return with(pick(method, {{"GET", Op::Download}}), {1});
        }
        if (s[2] == "image") {
            return with(pick(method, {{"GET", Op::Thumbnail}}), {1});
        }
    }
    if (role == Role::FileServer && n == 3) {
        if (s[0] == "audios" && s[2] == "audio.aac") {
            route.kind = MediaKind::Audio;
            return with(pick(method, {{"GET", Op::Download}}), {1});
        }
        if (s[0] == "images" && s[2] == "image.jpg") {
            route.kind = MediaKind::Image;
            return with(pick(method, {{"GET", Op::Download}}), {1});
        }
    }
    return route;
}

}  // namespace

const char* addressOf(Role role) {
    switch (role) {
        case Role::Api:
            return "127.0.0.1";
        case Role::CdnApi:
            return "127.0.0.2";
        case Role::DevApi:
            return "127.0.0.3";
        case Role::FileServer:
            return "127.0.0.4";
        case Role::Storage:
            return "127.0.0.5";
    }
    return "127.0.0.1";
}

Route resolve(Role role, std::string_view method, std::string_view path) {
    if (method == "HEAD") {
        method = "GET";
    }
    std::vector<std::string_view> segments = splitPath(path);
    if (role == Role::Storage) {
        Route route;
        if (segments.size() == 2 && segments[0] == "upload") {
            route.op = pick(method, {{"POST", Op::StorageUpload}});
            route.uploadId = std::string(segments[1]);
            if (!validToken(route.uploadId)) {
                route.op = Op::BadToken;
            }
        }
        return route;
    }
    if (role == Role::DevApi) {
        if (segments.empty() || segments[0] != "embed") {
            return {};
        }
        segments.erase(segments.begin());
    }
    return resolveApplicationPath(role, method, std::move(segments));
}

}  // namespace pelmar::test::internal
