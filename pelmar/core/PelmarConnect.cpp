#include "pelmar/core/PelmarConnect.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/internal/MultipartBody.h"
#include "pelmar/platform/app/NotificationRequest.h"
#include "pelmar/platform/app/UserNotificationCenter.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLOrigin.h"
#include "pelmar/platform/net/URLSession.h"

namespace pelmar {

namespace {

constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

bool isAbsolute(std::string_view path) {
    return path.starts_with("http://") || path.starts_with("https://");
}

// "k=v&" for every entry of `params` whose value is a string, both sides percent-encoded keeping
// only unreserved characters (so "&", "=", "+" and "/" inside values survive form decoding).
std::string formString(const std::optional<Json>& params) {
    std::string out;
    if (!params || !params->is_object()) {
        return out;
    }
    for (const auto& [key, value] : params->items()) {
        if (!value.is_string()) {
            continue;
        }
        out += foundation::percentEncode(key, foundation::kUnreservedChars);
        out += '=';
        out += foundation::percentEncode(value.get_ref<const std::string&>(),
                                         foundation::kUnreservedChars);
        out += '&';
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t point = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            point = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            point = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            point = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 2 && point < 0x80) || (length == 3 && point < 0x800)
                              || (length == 4 && point < 0x10000);
        if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The JSON value of an answer when it has the wanted kind.
std::optional<Json> parseAnswer(const std::optional<std::string>& data, bool wantArray) {
    if (!data || data->empty()) {
        return std::nullopt;
    }
    Json parsed = Json::parse(*data, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || (wantArray ? !parsed.is_array() : !parsed.is_object())) {
        return std::nullopt;
    }
    return parsed;
}

std::string randomUUID() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const uint64_t high = generator();
    const uint64_t low = generator();
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(high >> (56 - 8 * i));
        bytes[8 + i] = static_cast<unsigned char>(low >> (56 - 8 * i));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

// The body of an upload that cannot be built: sending it fails at once with the reason.
class FailedBody : public net::BodySource {
public:
    explicit FailedBody(Error error) : error_(std::move(error)) {}

    int64_t size() const override { return 0; }

    std::optional<Error> open() override { return error_; }

    ReadResult read(std::span<char>) override { return {0, error_}; }

private:
    Error error_;
};

// True when `params` hold what addSessionData attaches: the session token of `appToken` or an
// auth token. Such a request follows redirects only within its own origin.
bool carriesCredentials(const std::optional<Json>& params, const std::string& appToken) {
    if (!params || !params->is_object()) {
        return false;
    }
    return params->contains(std::string(PelmarConnect::kSessionKeyPrefix) + appToken)
           || params->contains("client_auth") || params->contains("server_auth");
}

Error detachedError() {
    return net::urlError(net::kURLErrorCancelled, "the SDK facade has ended");
}

}  // namespace

std::atomic<int64_t> PelmarConnect::uploadsInFlight_{0};

struct PelmarConnect::BackgroundTaskContext {
    DataCallback completion;
    ProgressCallback progress;
    std::optional<std::string> responseData;
    Task task;
    // The client stays alive until the upload has ended, so its callback always runs.
    std::shared_ptr<PelmarConnect> owner;
};

std::shared_ptr<PelmarConnect> PelmarConnect::create(Pelmar& application) {
    return std::make_shared<PelmarConnect>(Private{}, application);
}

PelmarConnect::PelmarConnect(Private, Pelmar& application) : application_(&application) {}

PelmarConnect::~PelmarConnect() = default;

std::optional<std::string> PelmarConnect::clientAuthToken() const {
    MutexLock lock(mutex_);
    return clientAuthToken_;
}

void PelmarConnect::setClientAuthToken(std::optional<std::string> token) {
    MutexLock lock(mutex_);
    clientAuthToken_ = std::move(token);
}

std::optional<std::string> PelmarConnect::serverAuthToken() const {
    MutexLock lock(mutex_);
    return serverAuthToken_;
}

void PelmarConnect::setServerAuthToken(std::optional<std::string> token) {
    MutexLock lock(mutex_);
    serverAuthToken_ = std::move(token);
}

void PelmarConnect::detachApplication() {
    WriterMutexLock lock(applicationMutex_);
    application_ = nullptr;
}

std::optional<PelmarConnect::ServiceView> PelmarConnect::serviceView() const {
    ReaderMutexLock lock(applicationMutex_);
    if (application_ == nullptr) {
        return std::nullopt;
    }
    ServiceView view;
    view.appToken = application_->getAppToken();
    const PelmarConfig& config = application_->config();
    view.serverAPIUrl = config.serverAPIUrl();
    for (const std::string& base : {view.serverAPIUrl, config.cdnAPIUrl(), config.devServerApiUrl(),
                                    config.fileServerUrl()}) {
        if (auto origin = net::urlOrigin(base)) {
            view.origins.push_back(std::move(*origin));
        }
    }
    return view;
}

void PelmarConnect::log(std::string_view item) const {
    ReaderMutexLock lock(applicationMutex_);
    if (application_ != nullptr) {
        application_->log(item);
    }
}

std::optional<std::string> PelmarConnect::resolve(const std::string& path,
                                                  const ServiceView& view) const {
    if (isAbsolute(path)) {
        return path;
    }
    return view.serverAPIUrl + "/v1/applications/" + view.appToken + path;
}

bool PelmarConnect::isServiceURL(const std::string& path) const {
    if (!isAbsolute(path)) {
        return true;  // resolved against serverAPIUrl
    }
    const auto view = serviceView();
    const auto origin = net::urlOrigin(path);
    return view && origin
           && std::find(view->origins.begin(), view->origins.end(), *origin) != view->origins.end();
}

void PelmarConnect::failLater(const DataCallback& callback, Error error) {
    net::URLSession::shared()->delegateQueue()->async(
            [callback, error = std::move(error)] { callback(std::nullopt, nullptr, error); });
}

PelmarConnect::Task PelmarConnect::makeRequestTask(const ServiceView& view,
                                                   const std::string& method,
                                                   const std::string& path,
                                                   const std::optional<Json>& params,
                                                   DataCallback callback) {
    const std::string parameters = formString(params);
    net::URLRequest request(*resolve(path, view), kRequestTimeoutSeconds);
    request.httpMethod = method;
    request.redirectsWithinOriginOnly = carriesCredentials(params, view.appToken);
    if (method == "POST") {
        request.setValue(std::string(kFormContentType), "Content-Type");
        request.setValue(std::to_string(parameters.size()), "Content-Length");
        request.httpBody = parameters;
    } else {
        request.url += "?" + parameters;
    }
    return net::URLSession::shared()->dataTask(std::move(request), std::move(callback));
}

PelmarConnect::Task PelmarConnect::sendRequest(const std::string& method,
                                               const std::string& path,
                                               const std::optional<Json>& params,
                                               DataCallback callback) {
    const auto view = serviceView();
    if (!view) {
        failLater(callback, detachedError());
        return nullptr;
    }
    Task task = makeRequestTask(*view, method, path, params, std::move(callback));
    task->resume();
    return task;
}

PelmarConnect::Task PelmarConnect::sendWithSession(std::string path,
                                                   std::optional<Json> data,
                                                   Sender send,
                                                   DataCallback callback,
                                                   bool renewOnRefusal) {
    auto self = shared_from_this();
    return addSessionData(
            data, path,
            [self, path, data, send, callback = std::move(callback),
             renewOnRefusal](std::optional<Json> params) -> Task {
                const auto used = renewOnRefusal ? self->sessionUsedBy(params) : std::nullopt;
                if (!used) {
                    return send(params, callback);
                }
                // A 401 to a request that carried a session token means the service no longer
                // knows that token (it restarted, or the session expired): the token is dropped,
                // a new session is asked for and the request is made once more. A second 401 is
                // the answer.
                return send(params, [self, path, data, send, callback, used = *used](
                                            std::optional<std::string> bytes, Response response,
                                            std::optional<Error> error) {
                    if (error || !response || response->statusCode() != kUnauthorizedStatus) {
                        callback(std::move(bytes), std::move(response), std::move(error));
                        return;
                    }
                    self->dropSession(used);
                    self->sendWithSession(path, data, send, callback, /*renewOnRefusal=*/false);
                });
            });
}

std::optional<PelmarConnect::SessionUse> PelmarConnect::sessionUsedBy(
        const std::optional<Json>& params) const {
    if (!params || !params->is_object()) {
        return std::nullopt;
    }
    MutexLock lock(mutex_);
    if (!sessionKey_) {
        return std::nullopt;
    }
    const auto value = params->find(*sessionKey_);
    if (value == params->end() || !value->is_string()) {
        return std::nullopt;
    }
    return SessionUse{value->get<std::string>(), sessionGeneration_};
}

void PelmarConnect::dropSession(const SessionUse& use) {
    MutexLock lock(mutex_);
    // Only the token that was refused: a refusal arriving after a new session was had must not
    // drop the new one (even when the service hands out the same text again).
    if (sessionValue_ == use.token && sessionGeneration_ == use.generation) {
        sessionValue_.reset();
    }
}

PelmarConnect::Task PelmarConnect::requestWithMethod(std::string method,
                                                     std::string path,
                                                     std::optional<Json> data,
                                                     DataCallback callback) {
    auto self = shared_from_this();
    return sendWithSession(
            path, std::move(data),
            [self, method = std::move(method), path](const std::optional<Json>& params,
                                                     DataCallback done) {
                return self->sendRequest(method, path, params, std::move(done));
            },
            std::move(callback), /*renewOnRefusal=*/true);
}

PelmarConnect::Task PelmarConnect::requestStringWithMethod(std::string method,
                                                           std::string path,
                                                           std::optional<Json> data,
                                                           StringCallback callback) {
    return requestWithMethod(
            std::move(method), std::move(path), std::move(data),
            [callback = std::move(callback)](std::optional<std::string> bytes, Response response,
                                             std::optional<Error> error) {
                std::optional<std::string> text;
                if (!error && bytes && !bytes->empty() && isValidUtf8(*bytes)) {
                    text = std::move(bytes);
                }
                callback(std::move(text), std::move(response), std::move(error));
            });
}

PelmarConnect::Task PelmarConnect::requestJSONWithMethod(std::string method,
                                                         std::string path,
                                                         std::optional<Json> data,
                                                         JsonCallback callback) {
    return requestWithMethod(
            std::move(method), std::move(path), std::move(data),
            [callback = std::move(callback)](std::optional<std::string> bytes, Response response,
                                             std::optional<Error> error) {
                if (error) {
                    callback(std::nullopt, std::move(response), std::move(error));
                    return;
                }
                callback(parseAnswer(bytes, /*wantArray=*/false), std::move(response),
                         std::nullopt);
            });
}

PelmarConnect::Task PelmarConnect::requestJSONArrayWithMethod(std::string method,
                                                              std::string path,
                                                              std::optional<Json> data,
                                                              JsonCallback callback) {
    return requestWithMethod(
            std::move(method), std::move(path), std::move(data),
            [callback = std::move(callback)](std::optional<std::string> bytes, Response response,
                                             std::optional<Error> error) {
                if (error) {
                    callback(std::nullopt, std::move(response), std::move(error));
                    return;
                }
                callback(parseAnswer(bytes, /*wantArray=*/true), std::move(response), std::nullopt);
            });
}

PelmarConnect::Task PelmarConnect::getWithPath(std::string path,
                                               std::optional<Json> data,
                                               DataCallback callback) {
    return requestWithMethod("GET", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::getStringWithPath(std::string path,
                                                     std::optional<Json> data,
                                                     StringCallback callback) {
    return requestStringWithMethod("GET", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::getJsonWithPath(std::string path,
                                                   std::optional<Json> data,
                                                   JsonCallback callback) {
    return requestJSONWithMethod("GET", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::getJsonArrayWithPath(std::string path,
                                                        std::optional<Json> data,
                                                        JsonCallback callback) {
    return requestJSONArrayWithMethod("GET", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::postWithPath(std::string path,
                                                std::optional<Json> data,
                                                DataCallback callback) {
    return requestWithMethod("POST", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::postJsonWithPath(std::string path,
                                                    std::optional<Json> data,
                                                    JsonCallback callback) {
    return requestJSONWithMethod("POST", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::deleteWithPath(std::string path,
                                                  std::optional<Json> data,
                                                  DataCallback callback) {
    return requestWithMethod("DELETE", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::deleteJsonWithPath(std::string path,
                                                      std::optional<Json> data,
                                                      JsonCallback callback) {
    return requestJSONWithMethod("DELETE", std::move(path), std::move(data), std::move(callback));
}

PelmarConnect::Task PelmarConnect::postRawDataWithPath(std::string path,
                                                       std::string data,
                                                       std::optional<Json> params,
                                                       DataCallback callback) {
    auto self = shared_from_this();
    return sendWithSession(
            path, std::move(params),
            [self, path, data = std::move(data)](const std::optional<Json>& completed,
                                                 DataCallback done) -> Task {
                const auto view = self->serviceView();
                if (!view) {
                    failLater(done, detachedError());
                    return nullptr;
                }
                net::URLRequest request(*self->resolve(path, *view) + "?" + formString(completed),
                                        kRequestTimeoutSeconds);
                request.httpMethod = "POST";
                request.redirectsWithinOriginOnly = carriesCredentials(completed, view->appToken);
                request.setValue(std::string(kFormContentType), "Content-Type");
                request.setValue(std::to_string(data.size()), "Content-Length");
                request.httpBody = data;
                Task task =
                        net::URLSession::shared()->dataTask(std::move(request), std::move(done));
                task->resume();
                return task;
            },
            std::move(callback), /*renewOnRefusal=*/true);
}

PelmarConnect::Task PelmarConnect::addSessionData(std::optional<Json> data,
                                                  std::string path,
                                                  SessionDataCallback callback) {
    if (path == kSessionPath) {
        return callback(std::move(data));
    }
    // Session and auth tokens go only to the service's own hosts.
    const bool attach = isServiceURL(path);
    auto self = shared_from_this();
    return getSession([self, data = std::move(data), attach, callback = std::move(callback)](
                              std::optional<std::string> key, std::optional<std::string> value) {
        Json completed = data && data->is_object() ? *data : Json::object();
        if (attach && key && value) {
            completed[*key] = *value;
            if (auto client = self->clientAuthToken()) {
                completed["client_auth"] = std::move(*client);
            }
            if (auto server = self->serverAuthToken()) {
                completed["server_auth"] = std::move(*server);
            }
        }
        return callback(std::move(completed));
    });
}

PelmarConnect::Task PelmarConnect::getSession(SessionCallback callback) {
    MutexLock lock(mutex_);
    if (sessionValue_) {
        auto key = sessionKey_;
        auto value = sessionValue_;
        lock.unlock();
        return callback(std::move(key), std::move(value));
    }
    // The facade is read without holding mutex_, so that its lock never nests inside ours.
    lock.unlock();
    const auto view = serviceView();
    lock.lock();
    if (sessionValue_) {
        auto key = sessionKey_;
        auto value = sessionValue_;
        lock.unlock();
        return callback(std::move(key), std::move(value));
    }
    sessionWaiters_.push_back(std::move(callback));
    if (sessionTask_) {
        return sessionTask_;  // every waiter shares the one "/session" request in flight
    }
    auto self = shared_from_this();
    Task task;
    if (view) {
        task = makeRequestTask(
                *view, "POST", std::string(kSessionPath), std::nullopt,
                [self](std::optional<std::string> bytes, Response, std::optional<Error> error) {
                    self->sessionAnswered(error ? std::nullopt
                                                : parseAnswer(bytes, /*wantArray=*/false));
                });
    }
    if (!task) {
        std::vector<SessionCallback> waiters;
        waiters.swap(sessionWaiters_);
        lock.unlock();
        for (auto& waiter : waiters) {
            waiter(std::nullopt, std::nullopt);
        }
        return nullptr;
    }
    sessionTask_ = task;
    lock.unlock();
    task->resume();
    return task;
}

void PelmarConnect::sessionAnswered(const std::optional<Json>& answer) {
    const auto view = serviceView();
    std::vector<SessionCallback> waiters;
    std::optional<std::string> key;
    std::optional<std::string> value;
    {
        MutexLock lock(mutex_);
        sessionTask_.reset();
        if (answer) {
            auto token = answer->find("token");
            // A token once held is never replaced by a worse answer.
            if (token != answer->end() && token->is_string()) {
                sessionValue_ = token->get<std::string>();
                ++sessionGeneration_;
            }
            if (view) {
                sessionKey_ = std::string(kSessionKeyPrefix) + view->appToken;
            }
        }
        waiters.swap(sessionWaiters_);
        key = sessionKey_;
        value = sessionValue_;
    }
    for (auto& waiter : waiters) {
        waiter(key, value);  // the tasks they start are their own business
    }
}

std::string PelmarConnect::formatURLRequest(const net::URLRequest& request) {
    std::string out = "\n-- REQUEST -----------------\nURL: ";
    out += request.url.empty() ? "nil" : request.url;
    out += "\nMETHOD: ";
    out += request.httpMethod.empty() ? "nil" : request.httpMethod;
    out += "\n";
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        out += name + ": " + value + "\n";
    }
    if (request.httpBody && isAscii(*request.httpBody)) {
        out += "BODY: " + *request.httpBody + "\n";
    } else {
        out += "BODY: nil\n";
    }
    out += "----------------------------\n";
    return out;
}

PelmarConnect::Task PelmarConnect::uploadFileWithPath(std::string url,
                                                      std::optional<Json> parameters,
                                                      std::string identifier,
                                                      std::string filePath,
                                                      std::string fileName,
                                                      std::string mimeType,
                                                      std::string fileExtension,
                                                      DataCallback callback,
                                                      ProgressCallback progress) {
    uploadsInFlight_.fetch_add(1);
    // The upload's own task is made (suspended) and returned at once, so that whoever holds it
    // cancels this transfer and never the shared "/session" request. Only its start waits until
    // a session is held; the completed dictionary is not used, because the storage form carries
    // exactly the caller's fields and never the session or auth tokens.
    Task task = makeUploadTask(url, parameters, identifier, filePath, fileName, mimeType,
                               fileExtension, std::move(callback), std::move(progress));
    auto self = shared_from_this();
    addSessionData(parameters, url, [self, task](std::optional<Json>) {
        self->enqueueUpload(task);
        return task;
    });
    return task;
}

PelmarConnect::Task PelmarConnect::makeUploadTask(const std::string& url,
                                                  const std::optional<Json>& parameters,
                                                  const std::string& identifier,
                                                  const std::string& filePath,
                                                  const std::string& fileName,
                                                  const std::string& mimeType,
                                                  const std::string& fileExtension,
                                                  DataCallback callback,
                                                  ProgressCallback progress) {
    auto made = core::internal::MultipartBody::create(parameters.value_or(Json::object()), filePath,
                                                      fileName, mimeType, fileExtension);
    std::shared_ptr<net::BodySource> body = made.body;
    if (!body) {
        body = std::make_shared<FailedBody>(std::move(*made.error));
    }
    net::URLRequest request(url, kRequestTimeoutSeconds);
    request.httpMethod = "POST";
    request.setValue(core::internal::MultipartBody::contentType(), "Content-Type");
    request.setValue(std::to_string(body->size()), "Content-Length");

    auto session = net::URLSession::create(net::URLSessionConfiguration::background(identifier),
                                           weak_from_this());
    Task task = session->uploadTask(std::move(request), std::move(body));
    session->finishTasksAndInvalidate();

    auto context = std::make_shared<BackgroundTaskContext>();
    context->completion = std::move(callback);
    context->progress = std::move(progress);
    context->task = task;
    context->owner = shared_from_this();
    {
        MutexLock lock(mutex_);
        backgroundTasksContexts_.emplace(task->taskIdentifier(), std::move(context));
    }
    return task;
}

void PelmarConnect::enqueueUpload(const Task& task) {
    {
        MutexLock lock(mutex_);
        if (!backgroundTasksContexts_.contains(task->taskIdentifier())) {
            return;  // it ended (cancelled) while waiting for the session
        }
        if (uploadRunning_) {
            uploadWaiting_.push_back(task);
            return;
        }
        uploadRunning_ = task;
    }
    task->resume();
}

PelmarConnect::Task PelmarConnect::releaseUpload(const Task& task) {
    MutexLock lock(mutex_);
    if (uploadRunning_ != task) {
        // Ended while waiting (cancelled before its turn).
        std::erase(uploadWaiting_, task);
        return nullptr;
    }
    uploadRunning_.reset();
    if (!uploadWaiting_.empty()) {
        uploadRunning_ = std::move(uploadWaiting_.front());
        uploadWaiting_.pop_front();
    }
    return uploadRunning_;
}

void PelmarConnect::didReceiveData(net::URLSession&,
                                   const std::shared_ptr<net::URLSessionTask>& task,
                                   const std::string& data) {
    {
        MutexLock lock(mutex_);
        auto it = backgroundTasksContexts_.find(task->taskIdentifier());
        if (it != backgroundTasksContexts_.end()) {
            auto& responseData = it->second->responseData;
            if (!responseData) {
                responseData.emplace();
            }
            responseData->append(data);
            return;
        }
    }
    log("context was not found");
}

void PelmarConnect::didSendBodyData(net::URLSession&,
                                    const std::shared_ptr<net::URLSessionTask>& task,
                                    int64_t,
                                    int64_t totalBytesSent,
                                    int64_t totalBytesExpectedToSend) {
    ProgressCallback progress;
    {
        MutexLock lock(mutex_);
        auto it = backgroundTasksContexts_.find(task->taskIdentifier());
        if (it == backgroundTasksContexts_.end()) {
            progress = nullptr;
        } else if (!it->second->progress) {
            return;
        } else {
            progress = it->second->progress;
        }
    }
    if (!progress) {
        log("context was not found");
        return;
    }
    progress(totalBytesSent, totalBytesExpectedToSend);
}

void PelmarConnect::didCompleteWithError(net::URLSession&,
                                         const std::shared_ptr<net::URLSessionTask>& task,
                                         const std::optional<Error>& error) {
    std::shared_ptr<BackgroundTaskContext> context;
    {
        MutexLock lock(mutex_);
        auto it = backgroundTasksContexts_.find(task->taskIdentifier());
        if (it != backgroundTasksContexts_.end()) {
            context = std::move(it->second);
            backgroundTasksContexts_.erase(it);
        }
    }
    if (!context) {
        log("context was not found");
        return;
    }
    Task next = releaseUpload(task);
    uploadsInFlight_.fetch_sub(1);
    if (context->completion) {
        context->completion(std::move(context->responseData), task->response(), error);
    }
    // The next upload starts only after this one's completion has been delivered.
    if (next) {
        next->resume();
    }
}

void PelmarConnect::applicationDidEnterBackground() {
    if (uploadsInFlight_.load() > 0) {
        askUserToGoBackToTheAppToContinueUpload();
    }
}

void PelmarConnect::askUserToGoBackToTheAppToContinueUpload() {
    const auto fireDate =
            app::DateComponents::local(dispatch::clock().wallNow() + kReturnNoticeDelaySeconds);
    if (!fireDate) {
        return;
    }
    app::NotificationRequest request;
    request.identifier = randomUUID();
    request.content.title = std::string(kReturnNoticeTitle);
    request.content.body = std::string(kReturnNoticeBody);
    request.trigger = app::CalendarNotificationTrigger{*fireDate, /*repeats=*/false};
    app::UserNotificationCenter::current().add(std::move(request));
}

void PelmarConnect::appWakeupSignalTaskComplete(std::string_view identifier) {
    if (identifier != kWakeupSessionIdentifier) {
        return;
    }
    // Every upload reports its own outcome when its transfer ends; completing one here would
    // report an unfinished (or unrelated) upload as a success.
    log("background session events finished for " + std::string(identifier));
}

int64_t PelmarConnect::uploadsInFlight() {
    return uploadsInFlight_.load();
}

}  // namespace pelmar
