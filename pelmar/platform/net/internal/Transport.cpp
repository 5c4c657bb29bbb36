#include "pelmar/platform/net/internal/Transport.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLOrigin.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/net/internal/CurlSupport.h"
#include "pelmar/platform/net/internal/DataURL.h"
#include "pelmar/platform/net/internal/HTTPChallenge.h"
#include "pelmar/platform/net/internal/ServerTrust.h"

namespace pelmar::net::internal {

namespace {

// "file:" URLs are read from disk by the transport itself (scheme case-insensitive).
bool isFileURL(std::string_view url) {
    return url.size() >= 5 && std::equal(url.begin(), url.begin() + 5, "file:", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// Bytes libcurl asks the body source for at a time (larger buffers measured slower on loopback:
// they no longer stay in the CPU cache between the file read and the socket write), and the
// receive buffer size.
constexpr long kUploadBufferBytes = 64 * 1024;
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr long kMaxRedirects = 10;
constexpr int kIdlePollMilliseconds = 1000;
// Longest idle time-out libcurl accepts (it keeps time-outs as milliseconds in an int); longer
// ones, infinity included, are cut to it.
constexpr double kMaxTimeoutSeconds = 2'147'483;

// What a task's transfers count against for its session's connections per server: the
// session and the origin of the request.
std::string hostKeyOf(const URLSessionTask& task) {
    const std::string url = task.originalRequest().url;
    return std::to_string(reinterpret_cast<std::uintptr_t>(task.session().get())) + " "
           + urlOrigin(url).value_or(url);
}

}  // namespace

struct Transport::Handles {
    Handles() : multi(curl_multi_init()), share(curl_share_init()) {
        if (multi == nullptr || share == nullptr) {
            std::fputs("pelmar: libcurl handles could not be made\n", stderr);
            std::abort();
        }
        // Every transfer runs on the one transport thread, so the share needs no lock functions.
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }

    ~Handles() {
        curl_multi_cleanup(multi);
        curl_share_cleanup(share);
    }

    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;

    CURLM* multi;
    CURLSH* share;
};

// One running transfer; touched only on the transport thread.
struct Transport::Transfer {
    std::shared_ptr<URLSessionTask> task;
    HeaderList headers;  // declared before `easy`, which uses it until cleaned up
    EasyHandle easy;
    CURLM* multi = nullptr;
    bool hasBody = false;
    int64_t bodySize = 0;
    int64_t bodyRead = 0;
    curl_off_t lastUploaded = 0;
    std::optional<Error> abortError;
    HTTPHeaderFields responseHeaders;
    bool responseDelivered = false;
    long headStatus = 0;  // the status of the answer head being read
    // Set while parked: the challenge it waits on, so that only that challenge's completion
    // answers it (a late call of an earlier challenge's completion must not).
    uint64_t challengeId = 0;
    // What this attempt offers to the server's challenges, and what it met.
    Transport::Attempt attempt;
    bool challengeChecked = false;
    std::optional<HTTPChallenge> httpChallenge;  // the answer is a 401 the task may answer
    std::string heldBody;                        // that 401's body, until the answer comes
    ServerTrustRecord serverTrust;
    std::optional<Error> untrustedError;  // the handshake's failure, while trust is asked
    double startTime = 0;                 // dispatch clock, when the transfer was handed to libcurl
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // The count of its session's transfers with its server, which it is one of while it lives.
    std::unordered_map<std::string, int>* hostLoad = nullptr;
    std::string hostKey;

    ~Transfer() {
        if (easy && multi != nullptr) {
            curl_multi_remove_handle(multi, easy.get());
        }
        if (hostLoad != nullptr && --(*hostLoad)[hostKey] <= 0) {
            hostLoad->erase(hostKey);
        }
    }

    void deliverResponse() {
        if (responseDelivered) {
            return;
        }
        long status = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        if (status == 0) {
            return;
        }
        char* effectiveUrl = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_EFFECTIVE_URL, &effectiveUrl);
        curl_off_t expected = -1;
        curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        task->setResponse(std::make_shared<const HTTPURLResponse>(
                                  effectiveUrl != nullptr ? std::string(effectiveUrl)
                                                          : task->originalRequest().url,
                                  status, responseHeaders),
                          expected >= 0 ? static_cast<int64_t>(expected) : -1);
        responseDelivered = true;
    }

    static size_t onHeader(char* buffer, size_t size, size_t count, void* userdata) {
        auto* transfer = static_cast<Transfer*>(userdata);
        std::string_view line(buffer, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with("HTTP/")) {
            transfer->responseHeaders.clear();  // a new answer head (after 1xx or a redirect)
            transfer->headStatus = statusOfLine(line);
        } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
                value.remove_suffix(1);
            }
            const std::string_view name = line.substr(0, colon);
            if (headerNameEquals(name, "Location")) {
                if (auto error = transfer->refusedRedirect(std::string(value))) {
                    transfer->abortError = std::move(error);
                    return 0;  // any count but the line's stops the transfer before the redirect
                }
            }
            transfer->responseHeaders.emplace_back(std::string(name), std::string(value));
        }
        return size * count;
    }

    // The status code of an answer's status line ("HTTP/1.1 307 Temporary Redirect"), or 0.
    static long statusOfLine(std::string_view line) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || line.size() < space + 4) {
            return 0;
        }
        long status = 0;
        for (const char c : line.substr(space + 1, 3)) {
            if (c < '0' || c > '9') {
                return 0;
            }
            status = status * 10 + (c - '0');
        }
        return status;
    }

    // For a request that keeps its credentials on its origin: the error that stops a redirect
    // (an answer 3xx but 304 whose Location leaves the origin, or cannot be read), or none.
    // libcurl follows only once the answer has ended, so nothing has gone to the target yet.
    std::optional<Error> refusedRedirect(const std::string& location) const {
        const URLRequest& request = task->originalRequest();
        if (!request.redirectsWithinOriginOnly || headStatus < 300 || headStatus >= 400
            || headStatus == 304) {
            return std::nullopt;
        }
        char* current = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_EFFECTIVE_URL, &current);
        const auto target =
                resolveReference(current != nullptr ? std::string(current) : request.url, location);
        const auto from = urlOrigin(request.url);
        const auto to = target ? urlOrigin(*target) : std::nullopt;
        if (from && to && *from == *to) {
            return std::nullopt;
        }
        return urlError(kURLErrorRedirectToAnotherOrigin,
                        "refused a redirect from " + from.value_or(request.url) + " to "
                                + to.value_or("an unusable location")
                                + ": the request carries credentials that stay on its origin");
    }

    // An answer that announces more bytes than its task may hold (in memory, or in a download's
    // file) is refused before any of it is kept.
    std::optional<Error> announcedTooLarge() {
        curl_off_t announced = -1;
        curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        const int64_t cap = task->kind() == URLSessionTask::Kind::Download
                                    ? task->maximumDownloadBytes()
                                    : task->maximumResponseBytes();
        if (announced <= cap) {
            return std::nullopt;
        }
        return urlError(kURLErrorDataLengthExceedsMaximum,
                        "the answer announces " + std::to_string(announced) + " bytes, more than "
                                + std::to_string(cap));
    }

    // True once the final answer is a 401 naming Basic or Digest: its head and body are held
    // back until the task's challenge is answered.
    bool holdsChallenge() {
        if (!challengeChecked && !responseDelivered) {
            challengeChecked = true;
            long status = 0;
            curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
            if (status == 401) {
                httpChallenge = httpChallengeOf(responseHeaders);
            }
        }
        return httpChallenge.has_value();
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* userdata) {
        auto* transfer = static_cast<Transfer*>(userdata);
        const size_t bytes = size * count;
        if (transfer->holdsChallenge()) {
            if (static_cast<int64_t>(transfer->heldBody.size() + bytes)
                > transfer->task->maximumResponseBytes()) {
                transfer->abortError =
                        urlError(kURLErrorDataLengthExceedsMaximum,
                                 "the answer is larger than "
                                         + std::to_string(transfer->task->maximumResponseBytes())
                                         + " bytes");
                return bytes == 0 ? 1 : 0;
            }
            transfer->heldBody.append(data, bytes);
            return bytes;
        }
        if (!transfer->responseDelivered) {
            if (auto error = transfer->announcedTooLarge()) {
                transfer->deliverResponse();
                transfer->abortError = std::move(error);
                return bytes == 0 ? 1 : 0;
            }
        }
        transfer->deliverResponse();
        if (auto error = transfer->task->receive(data, bytes)) {
            transfer->abortError = std::move(error);
            return bytes == 0 ? 1 : 0;  // any count but `bytes` stops the transfer
        }
        return bytes;
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* userdata) {
        auto* transfer = static_cast<Transfer*>(userdata);
        BodySource& body = *transfer->task->body();
        const int64_t remaining = transfer->bodySize - transfer->bodyRead;
        if (remaining <= 0) {
            return 0;
        }
        const size_t wanted = std::min(size * count, static_cast<size_t>(remaining));
        auto result = body.read(std::span<char>(buffer, wanted));
        if (result.error) {
            transfer->abortError = std::move(result.error);
            return CURL_READFUNC_ABORT;
        }
        if (result.bytes == 0 || result.bytes > wanted) {
            transfer->abortError =
                    urlError(kURLErrorRequestBodyStreamExhausted,
                             "the request body ended after " + std::to_string(transfer->bodyRead)
                                     + " of " + std::to_string(transfer->bodySize) + " bytes");
            return CURL_READFUNC_ABORT;
        }
        transfer->bodyRead += static_cast<int64_t>(result.bytes);
        if (transfer->bodyRead == transfer->bodySize) {
            // The announced length is reached; the source must end here as well.
            char probe = 0;
            auto end = body.read(std::span<char>(&probe, 1));
            if (end.error || end.bytes != 0) {
                transfer->abortError =
                        end.error
                                ? std::move(*end.error)
                                : urlError(kURLErrorRequestBodyStreamExhausted,
                                           "the request body is longer than the "
                                           "announced "
                                                   + std::to_string(transfer->bodySize) + " bytes");
                return CURL_READFUNC_ABORT;
            }
        }
        return result.bytes;
    }

    static int onSeek(void* userdata, curl_off_t offset, int origin) {
        auto* transfer = static_cast<Transfer*>(userdata);
        if (origin != SEEK_SET || offset != 0) {
            return CURL_SEEKFUNC_CANTSEEK;
        }
        if (auto error = transfer->task->body()->open()) {
            transfer->abortError = std::move(error);
            return CURL_SEEKFUNC_FAIL;
        }
        transfer->bodyRead = 0;
        return CURL_SEEKFUNC_OK;
    }

    static CURLcode onSSLContext(CURL*, void* sslContext, void* userdata) {
        recordServerTrust(sslContext, &static_cast<Transfer*>(userdata)->serverTrust);
        return CURLE_OK;
    }

    static int onProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
        auto* transfer = static_cast<Transfer*>(userdata);
        if (transfer->hasBody && sent != transfer->lastUploaded) {
            transfer->lastUploaded = sent;
            transfer->task->bodySent(sent, transfer->bodySize);
        }
        return 0;
    }
};

Transport& Transport::instance() {
    static Transport transport;
    return transport;
}

Transport::Transport() {
    // The dispatch layer must outlive this object at exit (its destructor runs first), because
    // the transport thread posts to delegate queues until it is joined.
    (void)dispatch::Queue::global();
    initializeCurlOnce();
    handles_ = std::make_unique<Handles>();
    thread_ = std::thread([this] { run(); });
}

Transport::~Transport() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(handles_->multi);
    thread_.join();
    transfers_.clear();
}

void Transport::start(std::shared_ptr<URLSessionTask> task) {
    {
        MutexLock lock(mutex_);
        toStart_.push_back(std::move(task));
    }
    curl_multi_wakeup(handles_->multi);
}

void Transport::cancel(uint64_t taskIdentifier) {
    {
        MutexLock lock(mutex_);
        toCancel_.push_back(taskIdentifier);
    }
    curl_multi_wakeup(handles_->multi);
}

void Transport::run() {
    std::vector<std::shared_ptr<URLSessionTask>> starts;
    std::vector<uint64_t> cancels;
    std::vector<ChallengeAnswer> answers;
    for (;;) {
        {
            MutexLock lock(mutex_);
            if (stopping_) {
                return;
            }
            starts.swap(toStart_);
            cancels.swap(toCancel_);
            answers.swap(toAnswer_);
        }
        for (auto& answer : answers) {
            if (auto it = parked_.find(answer.taskIdentifier);
                it != parked_.end() && it->second->challengeId == answer.challengeId) {
                auto transfer = std::move(it->second);
                parked_.erase(it);
                resolveChallenge(std::move(transfer), answer.disposition,
                                 std::move(answer.credential));
            }
        }
        answers.clear();
        for (auto& task : starts) {
            begin(std::move(task));
        }
        starts.clear();
        for (const uint64_t identifier : cancels) {
            if (auto it = transfers_.find(identifier); it != transfers_.end()) {
                it->second->abortError = urlError(kURLErrorCancelled, "cancelled");
                finish(identifier, CURLE_ABORTED_BY_CALLBACK);
            } else if (auto parked = parked_.find(identifier); parked != parked_.end()) {
                auto transfer = std::move(parked->second);
                parked_.erase(parked);
                end(*transfer, urlError(kURLErrorCancelled, "cancelled"));
            }
        }
        cancels.clear();
        // Cancelled while waiting for their server: they end now, without a transfer.
        while (beginWaitingTask()) {
        }

        int running = 0;
        curl_multi_perform(handles_->multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(handles_->multi, &left)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            const CURLcode result = message->data.result;
            finish(transfer->task->taskIdentifier(), result);
        }
        // A transfer that ended lets the next task waiting for its server start at once.
        bool began = false;
        while (beginWaitingTask()) {
            began = true;
        }
        if (began) {
            continue;
        }
        curl_multi_poll(handles_->multi, nullptr, 0, kIdlePollMilliseconds, nullptr);
    }
}

void Transport::begin(std::shared_ptr<URLSessionTask> task) {
    // A cancel() made between resume() and this start was queued before there was a transfer to
    // find, so it was dropped: the task's state still tells.
    if (task->state() == URLSessionTask::State::Canceling) {
        task->complete(urlError(kURLErrorCancelled, "cancelled"));
        return;
    }
    const URLRequest& request = task->originalRequest();
    if (DataURL::isDataURL(request.url)) {
        answerDataURL(task);
        return;
    }
    if (task->kind() == URLSessionTask::Kind::Data && isFileURL(request.url)) {
        answerFileURL(task);
        return;
    }
    if (auto error = checkRequest(request)) {
        task->complete(std::move(error));
        return;
    }
    if (!hasRoomForHost(*task)) {
        waitingForHost_.push_back(std::move(task));
        return;
    }
    auto transfer = std::make_unique<Transfer>();
    transfer->task = task;
    transfer->hostKey = hostKeyOf(*task);
    transfer->hostLoad = &hostLoad_;
    ++hostLoad_[transfer->hostKey];
    const auto& body = task->body();
    if (body) {
        if (auto error = body->open()) {
            body->close();
            task->complete(std::move(error));
            return;
        }
        transfer->hasBody = true;
        transfer->bodySize = body->size();
    } else if (request.httpBody) {
        transfer->hasBody = true;
        transfer->bodySize = static_cast<int64_t>(request.httpBody->size());
    }
    if (task->kind() == URLSessionTask::Kind::Download) {
        std::string pattern =
                (foundation::Sandbox::temporaryDirectory() / "download-XXXXXX").string();
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            task->complete(urlError(kURLErrorCannotCreateFile,
                                    "cannot create a download file in "
                                            + foundation::Sandbox::temporaryDirectory().string()
                                            + ": " + std::generic_category().message(errno)));
            return;
        }
        task->downloadFd_ = fd;
        task->downloadPath_ = pattern;
    }

    launch(std::move(transfer), Attempt{});
}

void Transport::launch(std::unique_ptr<Transfer> transfer, Attempt attempt) {
    const auto task = transfer->task;
    const URLRequest& request = task->originalRequest();
    const auto& body = task->body();
    transfer->attempt = std::move(attempt);
    transfer->easy.reset(curl_easy_init());
    CURL* easy = transfer->easy.get();
    if (easy == nullptr) {
        if (body) {
            body->close();
        }
        task->complete(urlError(kURLErrorUnknown, "out of memory"));
        return;
    }
    double timeout = request.timeoutInterval;
    if (!(timeout > 0)) {
        timeout = task->session()->configuration().timeoutIntervalForRequest;
    }
    // Checked before the conversion: infinity, NaN or a huge value do not fit in a long.
    timeout = timeout >= 1.0 ? std::min(std::ceil(timeout), kMaxTimeoutSeconds) : 1.0;
    const auto timeoutSeconds = static_cast<long>(timeout);

    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SHARE, handles_->share);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    const Attempt& offered = transfer->attempt;
    if (offered.trustedKeySHA256) {
        // The server's certificate was accepted: its key, and no other, is trusted.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        const std::string pin = "sha256//" + *offered.trustedKeySHA256;
        curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, pin.c_str());
    } else {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Transfer::onSSLContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, transfer.get());
    }
    if (offered.login) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, offered.login->user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, offered.login->password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH,
                         offered.loginMethod == URLAuthenticationMethod::HTTPDigest
                                 ? CURLAUTH_DIGEST
                                 : CURLAUTH_BASIC);
    }
    // Idle time-out: fail only when fewer than 1 byte per second moved for the whole interval.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, transfer.get());

    const std::string& method = request.httpMethod;
    if (body) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(transfer->bodySize));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Transfer::onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, transfer.get());
    } else if (request.httpBody || method == "POST") {
        static const char kEmpty[] = "";
        const char* data = request.httpBody ? request.httpBody->data() : kEmpty;
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(transfer->bodySize));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, data);
    } else if (method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    }
    if (method != "GET" && method != "POST" && method != "HEAD") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    curl_slist* headers = nullptr;
    auto append = [&headers](const std::string& line) {
        if (curl_slist* grown = curl_slist_append(headers, line.c_str())) {
            headers = grown;
        }
    };
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        // The length always comes from the body itself.
        if (headerNameEquals(name, "Content-Length")) {
            continue;
        }
        append(value.empty() ? name + ";" : name + ": " + value);
    }
    // The body goes out at once: no "Expect: 100-continue" round trip.
    append("Expect:");
    transfer->headers.reset(headers);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

    if (curl_multi_add_handle(handles_->multi, easy) != CURLM_OK) {
        if (body) {
            body->close();
        }
        task->complete(urlError(kURLErrorUnknown, "the transfer could not be started"));
        return;
    }
    transfer->multi = handles_->multi;
    transfer->startTime = dispatch::clock().now();
    transfers_.emplace(task->taskIdentifier(), std::move(transfer));
}

bool Transport::hasRoomForHost(const URLSessionTask& task) {
    const int limit = task.session()->configuration().httpMaximumConnectionsPerHost;
    if (limit <= 0) {
        return true;
    }
    const auto found = hostLoad_.find(hostKeyOf(task));
    return found == hostLoad_.end() || found->second < limit;
}

bool Transport::beginWaitingTask() {
    for (auto it = waitingForHost_.begin(); it != waitingForHost_.end(); ++it) {
        if ((*it)->state() == URLSessionTask::State::Canceling || hasRoomForHost(**it)) {
            auto task = std::move(*it);
            waitingForHost_.erase(it);
            begin(std::move(task));
            return true;
        }
    }
    return false;
}

URLSessionTaskMetrics Transport::metricsOf(const Transfer& transfer) {
    // libcurl times each stage in microseconds from the start of the transfer; a stage it never
    // reached reads 0.
    const auto at = [&](CURLINFO info) -> std::optional<double> {
        curl_off_t micros = 0;
        if (curl_easy_getinfo(transfer.easy.get(), info, &micros) != CURLE_OK || micros <= 0) {
            return std::nullopt;
        }
        return transfer.startTime + static_cast<double>(micros) / 1e6;
    };
    URLSessionTaskTransactionMetrics transaction;
    transaction.requestStartDate = at(CURLINFO_PRETRANSFER_TIME_T);
    if (transfer.responseDelivered) {
        transaction.responseStartDate = at(CURLINFO_STARTTRANSFER_TIME_T);
        transaction.responseEndDate = at(CURLINFO_TOTAL_TIME_T);
    }
    return URLSessionTaskMetrics{{transaction}};
}

void Transport::answerDataURL(const std::shared_ptr<URLSessionTask>& task) {
    const auto content = DataURL::decode(task->originalRequest().url);
    if (!content) {
        task->complete(urlError(kURLErrorBadURL, "malformed data URL"));
        return;
    }
    const double now = dispatch::clock().now();
    const auto size = static_cast<int64_t>(content->bytes.size());
    task->setResponse(std::make_shared<const HTTPURLResponse>(
                              task->originalRequest().url, 200,
                              HTTPHeaderFields{{"Content-Type", content->mediaType},
                                               {"Content-Length", std::to_string(size)}}),
                      size);
    if (!content->bytes.empty()) {
        if (auto error = task->receive(content->bytes.data(), content->bytes.size())) {
            task->complete(std::move(error));
            return;
        }
    }
    task->collectMetrics(URLSessionTaskMetrics{{{now, now, now}}});
    task->complete(std::nullopt);
}

void Transport::answerFileURL(const std::shared_ptr<URLSessionTask>& task) {
    const std::string& url = task->originalRequest().url;
    const auto path = foundation::pathFromFileURL(url);
    if (!path) {
        task->complete(urlError(kURLErrorBadURL, "malformed file URL \"" + url + "\""));
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*path, ec)) {
        task->complete(urlError(kURLErrorFileDoesNotExist, "no file at " + *path));
        return;
    }
    const auto size = std::filesystem::file_size(*path, ec);
    if (ec) {
        task->complete(urlError(kURLErrorNoPermissionsToReadFile, "cannot read " + *path));
        return;
    }
    if (static_cast<int64_t>(size) > task->maximumResponseBytes()) {
        task->complete(urlError(kURLErrorDataLengthExceedsMaximum,
                                "the answer is larger than "
                                        + std::to_string(task->maximumResponseBytes()) + " bytes"));
        return;
    }
    std::ifstream in(*path, std::ios::binary);
    if (!in) {
        task->complete(urlError(kURLErrorNoPermissionsToReadFile, "cannot read " + *path));
        return;
    }
    const double now = dispatch::clock().now();
    task->setResponse(std::make_shared<const HTTPURLResponse>(
                              url, 200, HTTPHeaderFields{{"Content-Length", std::to_string(size)}}),
                      static_cast<int64_t>(size));
    std::vector<char> chunk(kReceiveBufferBytes);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) {
            break;
        }
        if (auto error = task->receive(chunk.data(), got)) {
            task->complete(std::move(error));
            return;
        }
    }
    if (in.bad()) {
        task->complete(urlError(kURLErrorNoPermissionsToReadFile, "cannot read " + *path));
        return;
    }
    task->collectMetrics(URLSessionTaskMetrics{{{now, now, dispatch::clock().now()}}});
    task->complete(std::nullopt);
}

void Transport::finish(uint64_t taskIdentifier, int curlResult) {
    auto it = transfers_.find(taskIdentifier);
    if (it == transfers_.end()) {
        return;
    }
    std::unique_ptr<Transfer> transfer = std::move(it->second);
    transfers_.erase(it);
    curl_multi_remove_handle(handles_->multi, transfer->easy.get());
    transfer->multi = nullptr;

    std::optional<Error> error = std::move(transfer->abortError);
    const auto result = static_cast<CURLcode>(curlResult);
    if (!error && result != CURLE_OK) {
        error = errorFromCurl(result, transfer->errorBuffer);
    }
    if (!error && transfer->holdsChallenge()) {
        askChallenge(std::move(transfer));
        return;
    }
    if (error && transfer->serverTrust.failed && error->code != kURLErrorCancelled) {
        transfer->untrustedError = std::move(error);
        askChallenge(std::move(transfer));
        return;
    }
    if (!error && transfer->hasBody) {
        curl_off_t sent = 0;
        curl_easy_getinfo(transfer->easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent);
        if (sent != transfer->lastUploaded) {
            transfer->task->bodySent(sent, transfer->bodySize);
        }
    }
    end(*transfer, std::move(error));
}

void Transport::end(Transfer& transfer, std::optional<Error> error) {
    transfer.deliverResponse();
    if (const auto& body = transfer.task->body()) {
        body->close();
    }
    transfer.task->collectMetrics(metricsOf(transfer));
    transfer.task->complete(std::move(error));
}

void Transport::askChallenge(std::unique_ptr<Transfer> transfer) {
    URLAuthenticationChallenge challenge;
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(transfer->easy.get(), CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    challenge.protectionSpace = protectionSpaceOf(
            effectiveUrl != nullptr ? effectiveUrl : transfer->task->originalRequest().url);
    if (transfer->httpChallenge) {
        challenge.protectionSpace.realm = transfer->httpChallenge->realm;
        challenge.protectionSpace.authenticationMethod = transfer->httpChallenge->method;
        challenge.previousFailureCount = transfer->attempt.credentialsOffered;
        long status = 0;
        curl_easy_getinfo(transfer->easy.get(), CURLINFO_RESPONSE_CODE, &status);
        challenge.failureResponse = std::make_shared<const HTTPURLResponse>(
                effectiveUrl != nullptr ? std::string(effectiveUrl)
                                        : transfer->task->originalRequest().url,
                status, transfer->responseHeaders);
    } else {
        challenge.protectionSpace.authenticationMethod = URLAuthenticationMethod::ServerTrust;
        challenge.serverTrust = transfer->serverTrust.trust;
    }
    auto task = transfer->task;
    const uint64_t identifier = task->taskIdentifier();
    const uint64_t challengeId = ++lastChallengeId_;
    transfer->challengeId = challengeId;
    parked_.emplace(identifier, std::move(transfer));
    task->challenge(std::move(challenge), [identifier, challengeId](
                                                  URLSessionAuthChallengeDisposition disposition,
                                                  std::optional<URLCredential> credential) {
        instance().answerChallenge(identifier, challengeId, disposition, std::move(credential));
    });
}

void Transport::answerChallenge(uint64_t taskIdentifier,
                                uint64_t challengeId,
                                URLSessionAuthChallengeDisposition disposition,
                                std::optional<URLCredential> credential) {
    {
        MutexLock lock(mutex_);
        toAnswer_.push_back({taskIdentifier, challengeId, disposition, std::move(credential)});
    }
    curl_multi_wakeup(handles_->multi);
}

void Transport::resolveChallenge(std::unique_ptr<Transfer> transfer,
                                 URLSessionAuthChallengeDisposition disposition,
                                 std::optional<URLCredential> credential) {
    if (disposition == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge) {
        end(*transfer, urlError(kURLErrorCancelled, "cancelled"));
        return;
    }
    const bool trust = !transfer->httpChallenge;
    const bool useCredential =
            disposition == URLSessionAuthChallengeDisposition::UseCredential && credential
            && (trust ? credential->trust && !credential->trust->publicKeySHA256.empty()
                      : !credential->trust);
    if (!useCredential) {
        if (trust) {
            end(*transfer, std::move(transfer->untrustedError));
        } else {
            // The 401 is the answer.
            transfer->deliverResponse();
            if (!transfer->heldBody.empty()) {
                if (auto error = transfer->task->receive(transfer->heldBody.data(),
                                                         transfer->heldBody.size())) {
                    end(*transfer, std::move(error));
                    return;
                }
            }
            end(*transfer, std::nullopt);
        }
        return;
    }
    Attempt next = transfer->attempt;
    if (trust) {
        next.trustedKeySHA256 = credential->trust->publicKeySHA256;
    } else {
        next.login = std::move(credential);
        next.loginMethod = transfer->httpChallenge->method;
        ++next.credentialsOffered;
    }
    auto task = transfer->task;
    auto retry = std::make_unique<Transfer>();
    retry->task = task;
    retry->hasBody = transfer->hasBody;
    retry->bodySize = transfer->bodySize;
    transfer.reset();
    if (const auto& body = task->body()) {
        if (auto error = body->open()) {
            body->close();
            task->complete(std::move(error));
            return;
        }
    }
    launch(std::move(retry), std::move(next));
}

}  // namespace pelmar::net::internal
