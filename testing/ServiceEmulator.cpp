#include "testing/ServiceEmulator.h"

#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/FormEncoding.h"
#include "testing/MultipartStreamParser.h"
#include "testing/Sha256.h"
#include "testing/internal/Answer.h"
#include "testing/internal/ConnectionAbort.h"
#include "testing/internal/ElasticTaskQueue.h"
#include "testing/internal/HttpServer.h"
#include "testing/internal/ServiceState.h"

namespace pelmar::test {

using internal::Answer;

namespace {

constexpr size_t kWorkersPerAddress = 256;
constexpr int kListenBacklog = 512;
constexpr time_t kKeepAliveSeconds = 2;
constexpr size_t kKeepAliveRequests = 1000;
constexpr size_t kFileBufferBytes = 1 << 20;
constexpr size_t kDownloadChunkBytes = 256 * 1024;
constexpr const char* kAnyPath = R"([\s\S]*)";

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

// httplib adds the connection's addresses to the headers as pseudo headers after the real ones.
FieldList loggedHeaders(const httplib::Headers& headers) {
    FieldList fields(headers.begin(), headers.end());
    for (const char* pseudo : {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"}) {
        for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
            if (it->first == pseudo) {
                fields.erase(std::next(it).base());
                break;
            }
        }
    }
    return fields;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size()
           && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
                  return std::tolower(static_cast<unsigned char>(a))
                         == std::tolower(static_cast<unsigned char>(b));
              });
}

// httplib feeds multipart bodies to its own parser, which keeps too little of the part headers to
// check them; with the type hidden while reading, the raw bytes come through. The request object
// is httplib's own mutable one, handed to handlers as const.
class HiddenContentType {
public:
    explicit HiddenContentType(const httplib::Request& request)
        : request_(const_cast<httplib::Request&>(request)) {
        auto range = request_.headers.equal_range("Content-Type");
        saved_.assign(range.first, range.second);
        request_.headers.erase(range.first, range.second);
    }

    ~HiddenContentType() {
        for (auto& header : saved_) {
            request_.headers.emplace(std::move(header));
        }
    }

    HiddenContentType(const HiddenContentType&) = delete;
    HiddenContentType& operator=(const HiddenContentType&) = delete;

private:
    httplib::Request& request_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

// The file part of an upload on its way to disk, removed unless kept.
class IncomingFile {
public:
    explicit IncomingFile(std::filesystem::path path)
        : path_(std::move(path)),
          fd_(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) {
        buffer_.reserve(kFileBufferBytes);
    }

    ~IncomingFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!kept_) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }

    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

    bool write(std::string_view bytes) {
        if (fd_ < 0) {
            return false;
        }
        if (buffer_.size() + bytes.size() > kFileBufferBytes && !flush()) {
            return false;
        }
        if (bytes.size() >= kFileBufferBytes) {
            return writeAll(bytes);
        }
        buffer_.append(bytes);
        return true;
    }

    bool finish() {
        const bool flushed = flush();
        const bool closed = fd_ >= 0 && ::close(fd_) == 0;
        fd_ = -1;
        return flushed && closed;
    }

    void keep() { kept_ = true; }

private:
    bool flush() {
        const bool ok = writeAll(buffer_);
        buffer_.clear();
        return ok;
    }

    bool writeAll(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<size_t>(written));
        }
        return true;
    }

    std::filesystem::path path_;
    int fd_ = -1;
    std::string buffer_;
    bool kept_ = false;
};

struct BodyRead {
    bool complete = false;
    bool cut = false;
};

// Reads the request body through httplib's content reader, keeping the start of it in the log
// entry and passing every byte to `sink`. With `cutAfter`, stops once that many bytes arrived
// (or after a shorter body) and reports a cut.
BodyRead readBody(const httplib::Request& request,
                  const httplib::ContentReader& reader,
                  LoggedRequest& entry,
                  std::optional<uint64_t> cutAfter,
                  const std::function<void(std::string_view)>& sink) {
    HiddenContentType hidden(request);
    BodyRead result;
    const bool ok = reader([&](const char* data, size_t length) {
        std::string_view bytes(data, length);
        if (cutAfter && entry.bodySize + bytes.size() >= *cutAfter) {
            bytes = bytes.substr(0, static_cast<size_t>(*cutAfter - entry.bodySize));
            result.cut = true;
        }
        entry.bodySize += bytes.size();
        if (entry.body.size() < RequestLog::kBodyCap) {
            entry.body.append(bytes.substr(0, RequestLog::kBodyCap - entry.body.size()));
        }
        if (sink && !bytes.empty()) {
            sink(bytes);
        }
        return !result.cut;
    });
    result.complete = ok && !result.cut;
    if (cutAfter) {
        result.cut = true;
    }
    return result;
}

// Parks an answer once `after` body bytes have gone out, the first time only.
struct AnswerHold {
    uint64_t after = 0;
    std::function<void()> park;
    std::shared_ptr<std::atomic<bool>> parked = std::make_shared<std::atomic<bool>>(false);

    // How many of `wanted` bytes from `offset` may go out now; parks first when the hold point
    // is reached.
    uint64_t allow(uint64_t offset, uint64_t wanted) const {
        if (parked->load()) {
            return wanted;
        }
        if (offset >= after) {
            parked->store(true);
            park();
            return wanted;
        }
        return std::min(wanted, after - offset);
    }
};

void writeAnswer(httplib::Response& response,
                 const Answer& answer,
                 std::optional<uint64_t> cutAfter,
                 std::optional<AnswerHold> hold) {
    response.status = answer.status;
    if (cutAfter) {
        hold.reset();
    }
    if (answer.file) {
        const uint64_t size = answer.fileSize;
        const uint64_t limit = cutAfter ? std::min(*cutAfter, size) : size;
        const bool cut = cutAfter.has_value();
        response.set_content_provider(
                static_cast<size_t>(size), answer.contentType,
                [file = answer.file, limit, cut, hold](size_t offset, size_t length,
                                                       httplib::DataSink& sink) {
                    if (offset >= limit) {
                        return false;
                    }
                    uint64_t wanted =
                            std::min<uint64_t>({length, limit - offset, kDownloadChunkBytes});
                    if (hold) {
                        wanted = hold->allow(offset, wanted);
                    }
                    std::string buffer(wanted, '\0');
                    const ssize_t got = ::pread(file->fd, buffer.data(), buffer.size(),
                                                static_cast<off_t>(offset));
                    if (got <= 0 || !sink.write(buffer.data(), static_cast<size_t>(got))) {
                        return false;
                    }
                    return !(cut && offset + static_cast<uint64_t>(got) >= limit);
                });
        return;
    }
    if (cutAfter) {
        auto body = std::make_shared<std::string>(answer.body);
        const size_t limit = static_cast<size_t>(std::min<uint64_t>(*cutAfter, body->size()));
        response.set_content_provider(
                body->size(), answer.contentType,
                [body, limit](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset < limit) {
                        sink.write(body->data() + offset, limit - offset);
                    }
                    return false;  // ends the connection short of the announced length
                });
        return;
    }
    if (hold) {
        auto body = std::make_shared<std::string>(answer.body);
        response.set_content_provider(
                body->size(), answer.contentType,
                [body, hold](size_t offset, size_t length, httplib::DataSink& sink) {
                    const uint64_t wanted =
                            hold->allow(offset, std::min(length, body->size() - offset));
                    return sink.write(body->data() + offset, static_cast<size_t>(wanted));
                });
        return;
    }
    response.set_content(answer.body, answer.contentType);
}

// Form fields arrive as text; a non-string value handed out is expected as its compact JSON text.
std::string fieldText(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

bool fieldsMatch(const Json& expected, const FieldList& received) {
    if (!expected.is_object() || expected.size() != received.size()) {
        return false;
    }
    for (const auto& item : expected.items()) {
        const std::string& name = item.key();
        const auto count = std::count_if(received.begin(), received.end(),
                                         [&](const auto& field) { return field.first == name; });
        const std::string* got = findField(received, name);
        if (count != 1 || !got || *got != fieldText(item.value())) {
            return false;
        }
    }
    return true;
}

}  // namespace

struct ServiceEmulator::Impl {
    struct Endpoint {
        Role role = Role::Api;
        std::string address;
        int port = 0;
        std::unique_ptr<internal::HttpServer> server;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    struct ScriptedFault {
        int id = 0;
        Fault fault;
        std::regex pattern;
    };

    explicit Impl(Options opts)
        : options(std::move(opts)), requireSession(options.requireSession) {}

    void handle(Role role,
                const httplib::Request& request,
                httplib::Response& response,
                const httplib::ContentReader* reader);
    std::optional<Fault> takeFault(Role role, const std::string& method, const std::string& path);
    void pause(const Fault& fault);
    // Counts the caller as held until releaseHeld() or stop().
    void parkUntilReleased() PELMAR_REQUIRES(waitMutex);
    std::optional<Answer> checkSession(const Route& route, const LoggedRequest& entry) const;
    Answer dispatch(const Route& route, const LoggedRequest& entry, std::string body);
    Answer debugger(const Route& route, const std::string& body);
    Answer receiveUpload(const Route& route,
                         const httplib::Request& request,
                         const httplib::ContentReader& reader,
                         LoggedRequest& entry,
                         std::optional<uint64_t> cutAfter,
                         bool& cut);
    void startEndpoint(Endpoint& endpoint);

    Options options;
    std::filesystem::path dataDir;
    bool ownsDataDir = false;
    std::unique_ptr<internal::ServiceState> state;
    RequestLog log;
    std::array<Endpoint, 5> endpoints;
    bool started = false;
    std::atomic<bool> requireSession;
    std::atomic<int64_t> sessionCalls{0};
    std::atomic<uint64_t> incomingFiles{0};
    std::atomic<size_t> uploadsInFlight{0};
    std::atomic<size_t> maxUploadsInFlight{0};

    mutable Mutex faultMutex;
    std::vector<ScriptedFault> faults PELMAR_GUARDED_BY(faultMutex);
    int nextFaultId PELMAR_GUARDED_BY(faultMutex) = 1;

    mutable Mutex waitMutex;
    mutable CondVar waitChanged;
    bool stopping PELMAR_GUARDED_BY(waitMutex) = false;
    size_t held PELMAR_GUARDED_BY(waitMutex) = 0;
    uint64_t releaseGeneration PELMAR_GUARDED_BY(waitMutex) = 0;
};

std::optional<ServiceEmulator::Fault> ServiceEmulator::Impl::takeFault(Role role,
                                                                       const std::string& method,
                                                                       const std::string& path) {
    MutexLock lock(faultMutex);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const Fault& fault = it->fault;
        if ((fault.method.empty() || fault.method == method) && (!fault.role || *fault.role == role)
            && std::regex_match(path, it->pattern)) {
            Fault found = fault;
            if (!found.persistent) {
                faults.erase(it);
            }
            return found;
        }
    }
    return std::nullopt;
}

void ServiceEmulator::Impl::pause(const Fault& fault) {
    MutexLock lock(waitMutex);
    if (fault.delay.count() > 0) {
        const auto deadline = std::chrono::steady_clock::now() + fault.delay;
        while (!stopping && waitChanged.waitUntil(waitMutex, deadline)) {
        }
    }
    if (fault.hold) {
        parkUntilReleased();
    }
}

void ServiceEmulator::Impl::parkUntilReleased() {
    if (stopping) {
        return;
    }
    const uint64_t generation = releaseGeneration;
    ++held;
    waitChanged.notifyAll();
    while (!stopping && releaseGeneration == generation) {
        waitChanged.wait(waitMutex);
    }
    --held;
}

std::optional<Answer> ServiceEmulator::Impl::checkSession(const Route& route,
                                                          const LoggedRequest& entry) const {
    if (!route.needsSession || !requireSession) {
        return std::nullopt;
    }
    const std::string key = sessionKeyFor(route.app);
    std::optional<std::string> value = entry.queryParam(key);
    if (!value && !route.raw) {
        value = entry.formParam(key);
    }
    if (!value) {
        return Answer::failure(401, "session required");
    }
    if (!state->isSession(*value)) {
        return Answer::failure(401, "unknown session");
    }
    return std::nullopt;
}

Answer ServiceEmulator::Impl::debugger(const Route& route, const std::string& body) {
    DebugReport report;
    report.appToken = route.app;
    report.body = body;
    const auto form = parseForm(body);
    if (!form) {
        report.error = "body has a malformed percent escape";
    } else if (form->size() != 1 || form->front().first != "events") {
        report.error = "body is not a single events= field";
    } else {
        Json events = Json::parse(form->front().second, nullptr, false);
        if (events.is_discarded()) {
            report.error = "events are not valid JSON";
        } else {
            report.events = std::move(events);
        }
    }
    if (!report.error.empty()) {
        Answer answer = Answer::failure(400, report.error);
        state->addDebugReport(std::move(report));
        return answer;
    }
    const size_t count = report.events->is_array() ? report.events->size() : 1;
    state->addDebugReport(std::move(report));
    return Answer::json(200, Json{{"received", count}});
}

Answer ServiceEmulator::Impl::dispatch(const Route& route,
                                       const LoggedRequest& entry,
                                       std::string body) {
    switch (route.op) {
        case Op::NotFound:
            return Answer::failure(404, "no route for " + entry.method + " " + entry.path);
        case Op::MethodNotAllowed:
            return Answer::failure(405, "method " + entry.method + " not allowed on " + entry.path);
        case Op::BadToken:
            return Answer::failure(400, "malformed token in " + entry.path);
        default:
            break;
    }
    if (auto refused = checkSession(route, entry)) {
        return std::move(*refused);
    }
    FieldList params = entry.formParams;
    params.insert(params.end(), entry.queryParams.begin(), entry.queryParams.end());
    switch (route.op) {
        case Op::Session:
            return Answer::json(200, Json{{"token", state->issueSession()}});
        case Op::Debugger:
            return debugger(route, body);
        case Op::Index:
            return state->index(route.kind, route.app);
        case Op::Create:
            return state->create(route.kind, route.app, params);
        case Op::Get:
            return state->get(route.kind, route.app, route.token);
        case Op::Update:
            return state->update(route.kind, route.app, route.token, route.stream, params);
        case Op::Delete:
            return state->remove(route.kind, route.app, route.token, route.stream);
        case Op::Confirm:
            return state->confirm(route.kind, route.app, route.token, route.stream);
        case Op::CreateStream:
            return state->createStream(route.app, route.token);
        case Op::RecorderSubmit:
            return state->recorderSubmit(route.app, route.token, route.stream);
        case Op::ImageAttach:
            return state->attachCover(route.app, route.token, route.stream, std::move(body));
        case Op::Thumbnail:
            return state->thumbnail(route.app, route.token);
        case Op::Download:
            return state->download(route.kind, route.app, route.token);
        default:
            return Answer::failure(500, "request reached no handler");
    }
}

Answer ServiceEmulator::Impl::receiveUpload(const Route& route,
                                            const httplib::Request& request,
                                            const httplib::ContentReader& reader,
                                            LoggedRequest& entry,
                                            std::optional<uint64_t> cutAfter,
                                            bool& cut) {
    const auto drain = [&](Answer refusal) {
        const BodyRead read = readBody(request, reader, entry, cutAfter, nullptr);
        cut = read.cut;
        return refusal;
    };
    if (!request.has_header("Content-Length")) {
        if (request.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos) {
            return drain(Answer::failure(411, "Content-Length required"));
        }
        return Answer::failure(411, "Content-Length required");
    }
    const std::string declared = request.get_header_value("Content-Length");
    if (declared.empty() || declared.size() > 19
        || !std::all_of(declared.begin(), declared.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
        return Answer::failure(400, "malformed Content-Length");
    }
    if (std::stoull(declared) > kMaxUploadBytes) {
        return Answer::failure(413, "upload larger than the emulator accepts");
    }
    const auto boundary = MultipartStreamParser::boundaryFromContentType(
            request.get_header_value("Content-Type"));
    if (!boundary) {
        return drain(Answer::failure(400, "expected multipart/form-data with a boundary"));
    }
    const auto target = state->uploadTarget(route.uploadId);
    if (!target) {
        return drain(Answer::failure(404, "unknown upload " + route.uploadId));
    }

    IncomingFile file(dataDir / "incoming"
                      / (route.uploadId + "-" + std::to_string(++incomingFiles) + ".part"));
    Sha256 sha;
    MultipartSummary summary;
    bool sawFile = false;
    MultipartStreamParser parser(
            *boundary,
            [&](const MultipartPart& part, size_t) -> std::string {
                if (sawFile) {
                    return part.fileName ? "more than one file part" : "field after the file part";
                }
                if (part.fileName) {
                    sawFile = true;
                    summary.hasFile = true;
                    summary.fileFieldName = part.name;
                    summary.fileName = *part.fileName;
                    summary.fileContentType = part.contentType;
                    summary.fileHeaders = part.headers;
                }
                return {};
            },
            [&](std::string_view bytes) {
                summary.fileSize += bytes.size();
                sha.update(bytes);
                return file.write(bytes);
            });
    // A malformed body is still read to its end, so the client gets the answer, not a reset.
    const BodyRead read = readBody(request, reader, entry, cutAfter,
                                   [&](std::string_view bytes) { parser.feed(bytes); });
    cut = read.cut;
    const bool parsed = read.complete && parser.finish();
    for (const auto& part : parser.parts()) {
        if (!part.fileName) {
            summary.fields.emplace_back(part.name, part.value);
        }
    }
    summary.fileSha256 = sha.finishHex();
    entry.multipart = summary;
    if (cut) {
        return Answer::failure(400, "connection cut");
    }
    if (!read.complete) {
        return Answer::failure(400, "body ended before Content-Length bytes arrived");
    }
    if (!parsed) {
        return Answer::failure(parser.error() == "could not store the file part" ? 500 : 400,
                               parser.error());
    }
    if (!summary.hasFile) {
        return Answer::failure(400, "no file part");
    }
    if (!fieldsMatch(target->fields, summary.fields)) {
        return Answer::failure(403, "form fields differ from the ones handed out for this upload");
    }
    if (!file.finish()) {
        return Answer::failure(500, "could not store the file part");
    }
    StoredUpload record;
    record.uploadId = target->id;
    record.kind = target->kind;
    record.appToken = target->app;
    record.token = target->token;
    record.streamToken = target->stream;
    record.fields = summary.fields;
    record.fileName = summary.fileName;
    record.contentType = summary.fileContentType;
    record.size = summary.fileSize;
    record.sha256 = summary.fileSha256;
    Answer answer = state->storeUpload(*target, std::move(record), file.path());
    file.keep();
    return answer;
}

void ServiceEmulator::Impl::handle(Role role,
                                   const httplib::Request& request,
                                   httplib::Response& response,
                                   const httplib::ContentReader* reader) {
    LoggedRequest entry;
    entry.sequence = log.nextSequence();
    entry.role = role;
    entry.hostAddress = request.local_addr;
    entry.port = request.local_port;
    entry.method = request.method;
    entry.target = request.target;
    const size_t question = entry.target.find('?');
    entry.path = entry.target.substr(0, question);
    bool badQuery = false;
    if (question != std::string::npos) {
        entry.query = entry.target.substr(question + 1);
        if (auto params = parseForm(*entry.query)) {
            entry.queryParams = std::move(*params);
        } else {
            badQuery = true;
        }
    }
    entry.headers = loggedHeaders(request.headers);

    // An upload counts as in flight from the arrival of its head, held or not.
    struct InFlight {
        Impl* impl = nullptr;

        ~InFlight() {
            if (impl) {
                --impl->uploadsInFlight;
            }
        }
    } inFlight;

    if (role == Role::Storage && entry.method == "POST") {
        inFlight.impl = this;
        const size_t count = ++uploadsInFlight;
        size_t seen = maxUploadsInFlight.load();
        while (count > seen && !maxUploadsInFlight.compare_exchange_weak(seen, count)) {
        }
    }

    const std::optional<Fault> fault = takeFault(role, entry.method, entry.path);
    const std::optional<uint64_t> cutRequestAfter =
            fault ? fault->cutRequestAfter : std::optional<uint64_t>{};
    Answer answer;
    bool cut = false;
    try {
        if (fault) {
            pause(*fault);
        }
        const Route route = resolve(role, entry.method, entry.path);
        if (route.op == Op::Session) {
            ++sessionCalls;
        }
        const bool scriptedAnswer = fault && fault->status != 0;
        if (route.op == Op::StorageUpload && reader && !scriptedAnswer) {
            answer = receiveUpload(route, request, *reader, entry, cutRequestAfter, cut);
        } else {
            std::string body;
            bool tooLarge = false;
            BodyRead read{true, false};
            if (reader) {
                read = readBody(request, *reader, entry, cutRequestAfter,
                                [&](std::string_view bytes) {
                                    if (body.size() + bytes.size() > kMaxBodyBytes) {
                                        tooLarge = true;
                                    } else {
                                        body.append(bytes);
                                    }
                                });
                cut = read.cut;
            } else if (cutRequestAfter) {
                cut = true;
            }
            const bool formBody = startsWithIgnoreCase(request.get_header_value("Content-Type"),
                                                       "application/x-www-form-urlencoded");
            bool badForm = false;
            if (formBody && !tooLarge) {
                if (auto params = parseForm(body)) {
                    entry.formParams = std::move(*params);
                } else {
                    badForm = !route.raw;
                }
            }
            if (cut) {
                // nothing is answered
            } else if (!read.complete) {
                answer = Answer::failure(400, "body ended before Content-Length bytes arrived");
            } else if (scriptedAnswer) {
                answer.status = fault->status;
                answer.contentType = fault->contentType;
                answer.body = fault->body;
                answer.error = "scripted answer";
            } else if (tooLarge) {
                answer = Answer::failure(413, "body larger than the emulator accepts");
            } else if (badQuery) {
                answer = Answer::failure(400, "malformed query");
            } else if (badForm) {
                answer = Answer::failure(400, "malformed form body");
            } else {
                answer = dispatch(route, entry, std::move(body));
            }
        }
    } catch (const std::exception& error) {
        answer = Answer::failure(500, std::string("emulator error: ") + error.what());
    }

    if (cut) {
        entry.connectionCut = true;
        entry.status = 0;
        entry.error = "connection cut after " + std::to_string(entry.bodySize) + " body bytes";
        log.append(std::move(entry));
        internal::abortConnection(request.local_addr, request.local_port, request.remote_addr,
                                  request.remote_port);
        response.status = 500;
        return;
    }
    const std::optional<uint64_t> cutResponseAfter =
            fault ? fault->cutResponseAfter : std::optional<uint64_t>{};
    entry.status = answer.status;
    entry.error = answer.error;
    if (cutResponseAfter) {
        entry.connectionCut = true;
        entry.error += (entry.error.empty() ? "" : "; ") + std::string("answer cut after ")
                       + std::to_string(*cutResponseAfter) + " body bytes";
    }
    // Logged before the answer leaves, so a client holding the answer finds the entry.
    log.append(std::move(entry));
    std::optional<AnswerHold> hold;
    if (fault && fault->holdResponseAfter) {
        hold.emplace();
        hold->after = *fault->holdResponseAfter;
        hold->park = [this] {
            MutexLock lock(waitMutex);
            parkUntilReleased();
        };
    }
    writeAnswer(response, answer, cutResponseAfter, std::move(hold));
}

void ServiceEmulator::Impl::startEndpoint(Endpoint& endpoint) {
    auto server = std::make_unique<internal::HttpServer>();
    server->new_task_queue = [] { return new internal::ElasticTaskQueue(kWorkersPerAddress); };
    server->set_keep_alive_timeout(kKeepAliveSeconds);
    server->set_keep_alive_max_count(kKeepAliveRequests);
    server->set_tcp_nodelay(true);
    server->set_exception_handler(
            [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
                response.status = 500;
                response.set_content(R"({"error":"emulator error"})", "application/json");
            });
    const Role role = endpoint.role;
    const auto plain = [this, role](const httplib::Request& request, httplib::Response& response) {
        handle(role, request, response, nullptr);
    };
    const auto withBody = [this, role](const httplib::Request& request, httplib::Response& response,
                                       const httplib::ContentReader& reader) {
        handle(role, request, response, &reader);
    };
    server->Get(kAnyPath, plain);
    server->Options(kAnyPath, plain);
    server->Post(kAnyPath, withBody);
    server->Put(kAnyPath, withBody);
    server->Patch(kAnyPath, withBody);
    server->Delete(kAnyPath, withBody);

    endpoint.address = addressOf(role);
    if (options.port != 0) {
        if (!server->bind_to_port(endpoint.address, options.port)) {
            throw std::runtime_error("cannot bind " + endpoint.address + ":"
                                     + std::to_string(options.port));
        }
        endpoint.port = options.port;
    } else {
        endpoint.port = server->bind_to_any_port(endpoint.address);
        if (endpoint.port <= 0) {
            throw std::runtime_error("cannot bind " + endpoint.address);
        }
    }
    server->widenBacklog(kListenBacklog);
    endpoint.finished = std::make_shared<std::atomic<bool>>(false);
    endpoint.server = std::move(server);
    endpoint.thread = std::thread([server = endpoint.server.get(), finished = endpoint.finished] {
        server->listen_after_bind();
        *finished = true;
    });
    // stop() only takes effect on a server that is running, so wait until this one is.
    while (!endpoint.server->is_running() && !*endpoint.finished) {
        std::this_thread::yield();
    }
}

std::string ServiceEmulator::sessionKeyFor(std::string_view appToken) {
    return std::string(kSessionKeyPrefix) + std::string(appToken);
}

ServiceEmulator::ServiceEmulator() : ServiceEmulator(Options{}) {}

ServiceEmulator::ServiceEmulator(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    for (size_t i = 0; i < impl_->endpoints.size(); ++i) {
        impl_->endpoints[i].role = kAllRoles[i];
        impl_->endpoints[i].address = addressOf(kAllRoles[i]);
    }
}

ServiceEmulator::~ServiceEmulator() {
    stop();
    if (impl_->ownsDataDir) {
        std::error_code ignored;
        std::filesystem::remove_all(impl_->dataDir, ignored);
    }
}

void ServiceEmulator::start() {
    Impl& impl = *impl_;
    if (impl.started) {
        throw std::logic_error("ServiceEmulator: start() called twice");
    }
    impl.started = true;
    // Peers that vanish mid-answer must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    if (impl.options.dataDir.empty()) {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "pelmar-service-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot create a temporary data folder");
        }
        impl.dataDir = pattern;
        impl.ownsDataDir = true;
    } else {
        impl.dataDir = std::filesystem::absolute(impl.options.dataDir);
    }
    std::error_code error;
    std::filesystem::create_directories(impl.dataDir / "incoming", error);
    std::filesystem::create_directories(impl.dataDir / "files", error);
    if (error) {
        throw std::runtime_error("cannot create the data folder " + impl.dataDir.string() + ": "
                                 + error.message());
    }
    impl.state = std::make_unique<internal::ServiceState>(impl.dataDir);
    try {
        for (auto& endpoint : impl.endpoints) {
            impl.startEndpoint(endpoint);
        }
    } catch (...) {
        stop();
        throw;
    }
    impl.state->setStorageBase(storageBase());
}

void ServiceEmulator::stop() {
    Impl& impl = *impl_;
    {
        MutexLock lock(impl.waitMutex);
        impl.stopping = true;
    }
    impl.waitChanged.notifyAll();
    for (auto& endpoint : impl.endpoints) {
        if (endpoint.server) {
            endpoint.server->stop();
        }
    }
    for (auto& endpoint : impl.endpoints) {
        if (endpoint.thread.joinable()) {
            endpoint.thread.join();
        }
        endpoint.server.reset();
    }
}

std::string ServiceEmulator::base(Role role) const {
    const auto& endpoint = impl_->endpoints[static_cast<size_t>(role)];
    std::string url = "http://" + endpoint.address + ":" + std::to_string(endpoint.port);
    if (role == Role::DevApi) {
        url += "/embed";
    }
    return url;
}

std::string ServiceEmulator::apiBase() const {
    return base(Role::Api);
}

std::string ServiceEmulator::cdnApiBase() const {
    return base(Role::CdnApi);
}

std::string ServiceEmulator::devApiBase() const {
    return base(Role::DevApi);
}

std::string ServiceEmulator::fileServerBase() const {
    return base(Role::FileServer);
}

std::string ServiceEmulator::storageBase() const {
    return base(Role::Storage);
}

std::string ServiceEmulator::address(Role role) const {
    return impl_->endpoints[static_cast<size_t>(role)].address;
}

int ServiceEmulator::port(Role role) const {
    return impl_->endpoints[static_cast<size_t>(role)].port;
}

const std::filesystem::path& ServiceEmulator::dataDir() const {
    return impl_->dataDir;
}

void ServiceEmulator::setRequireSession(bool required) {
    impl_->requireSession = required;
}

int64_t ServiceEmulator::sessionCalls() const {
    return impl_->sessionCalls;
}

std::vector<std::string> ServiceEmulator::sessionTokens() const {
    return impl_->state ? impl_->state->sessionTokens() : std::vector<std::string>{};
}

int ServiceEmulator::delaySession(std::chrono::milliseconds delay, bool persistent) {
    Fault fault;
    fault.method = "POST";
    fault.role = Role::Api;
    fault.pathPattern = "/v1/applications/[^/]+/session";
    fault.persistent = persistent;
    fault.delay = delay;
    return addFault(std::move(fault));
}

int ServiceEmulator::failSession(int status, std::string body, bool persistent) {
    Fault fault;
    fault.method = "POST";
    fault.role = Role::Api;
    fault.pathPattern = "/v1/applications/[^/]+/session";
    fault.persistent = persistent;
    fault.status = status;
    fault.body = std::move(body);
    return addFault(std::move(fault));
}

void ServiceEmulator::setUploadFields(Json fields) {
    if (!fields.is_object()) {
        throw std::invalid_argument("upload fields must be a JSON object");
    }
    if (!impl_->state) {
        throw std::logic_error("ServiceEmulator: setUploadFields() before start()");
    }
    impl_->state->setUploadFields(std::move(fields));
}

int ServiceEmulator::addFault(Fault fault) {
    std::regex pattern(fault.pathPattern, std::regex::ECMAScript);
    MutexLock lock(impl_->faultMutex);
    const int id = impl_->nextFaultId++;
    impl_->faults.push_back({id, std::move(fault), std::move(pattern)});
    return id;
}

void ServiceEmulator::removeFault(int id) {
    MutexLock lock(impl_->faultMutex);
    std::erase_if(impl_->faults, [id](const auto& fault) { return fault.id == id; });
}

void ServiceEmulator::clearFaults() {
    MutexLock lock(impl_->faultMutex);
    impl_->faults.clear();
}

size_t ServiceEmulator::heldCount() const {
    MutexLock lock(impl_->waitMutex);
    return impl_->held;
}

bool ServiceEmulator::waitForHeld(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(impl_->waitMutex);
    while (impl_->held < count) {
        if (!impl_->waitChanged.waitUntil(impl_->waitMutex, deadline)) {
            return impl_->held >= count;
        }
    }
    return true;
}

void ServiceEmulator::releaseHeld() {
    {
        MutexLock lock(impl_->waitMutex);
        ++impl_->releaseGeneration;
    }
    impl_->waitChanged.notifyAll();
}

std::vector<LoggedRequest> ServiceEmulator::requests() const {
    return impl_->log.snapshot();
}

std::vector<LoggedRequest> ServiceEmulator::requestsTo(const std::string& pathPattern) const {
    return impl_->log.matching("", pathPattern);
}

std::vector<LoggedRequest> ServiceEmulator::requestsMatching(std::string_view method,
                                                             const std::string& pathPattern) const {
    return impl_->log.matching(method, pathPattern);
}

bool ServiceEmulator::waitForRequests(
        const std::function<bool(const std::vector<LoggedRequest>&)>& predicate,
        std::chrono::milliseconds timeout) const {
    return impl_->log.waitUntil(predicate, timeout);
}

void ServiceEmulator::clearRequests() {
    impl_->log.clear();
}

std::vector<StoredUpload> ServiceEmulator::uploads() const {
    return impl_->state ? impl_->state->uploads() : std::vector<StoredUpload>{};
}

size_t ServiceEmulator::maxConcurrentUploads() const {
    return impl_->maxUploadsInFlight;
}

std::vector<DebugReport> ServiceEmulator::debugReports() const {
    return impl_->state ? impl_->state->debugReports() : std::vector<DebugReport>{};
}

std::optional<Json> ServiceEmulator::resource(const std::string& token) const {
    return impl_->state ? impl_->state->resourceJson(token) : std::nullopt;
}

SeededResource ServiceEmulator::seedResource(MediaKind kind,
                                             const std::string& appToken,
                                             const std::filesystem::path& file) {
    if (!impl_->state) {
        throw std::logic_error("ServiceEmulator: seedResource() before start()");
    }
    return impl_->state->seed(kind, appToken, file);
}

}  // namespace pelmar::test
