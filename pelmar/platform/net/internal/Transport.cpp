#include "pelmar/platform/net/internal/Transport.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/net/internal/DataURL.h"

namespace pelmar::net::internal {

namespace {

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

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            std::fputs("pelmar: libcurl could not be initialised\n", stderr);
            std::abort();
        }
    });
}

bool isTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
           || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

bool isSafeHeaderValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Why `request` cannot be sent, if it cannot.
std::optional<Error> checkRequest(const URLRequest& request) {
    // libcurl takes the URL as a C string: a NUL byte would cut it short.
    if (request.url.find('\0') != std::string::npos) {
        return urlError(kURLErrorBadURL, "the URL holds a NUL byte");
    }
    UrlHandle url(curl_url());
    if (!url) {
        return urlError(kURLErrorUnknown, "out of memory");
    }
    if (curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), 0) != CURLUE_OK) {
        return urlError(kURLErrorBadURL, "cannot parse the URL \"" + request.url + "\"");
    }
    char* rawScheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &rawScheme, 0) != CURLUE_OK) {
        return urlError(kURLErrorBadURL, "the URL \"" + request.url + "\" has no scheme");
    }
    const std::string scheme = lowerAscii(CurlString(rawScheme).get());
    if (scheme != "http" && scheme != "https") {
        return urlError(kURLErrorUnsupportedURL, "unsupported URL scheme \"" + scheme + "\"");
    }
    if (!isToken(request.httpMethod)) {
        return urlError(kURLErrorBadRequest, "invalid HTTP method \"" + request.httpMethod + "\"");
    }
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        if (!isToken(name) || !isSafeHeaderValue(value)) {
            return urlError(kURLErrorBadRequest, "invalid header field \"" + name + "\"");
        }
    }
    return std::nullopt;
}

Error errorFromCurl(CURLcode code, const char* detail) {
    // libcurl's detail often ends in its own text for the code already ("Failed to connect to
    // h port p after 0 ms: Couldn't connect to server"); the code's text is said once.
    std::string message = curl_easy_strerror(code);
    if (detail != nullptr && detail[0] != '\0') {
        const std::string_view more(detail);
        message = more.find(message) != std::string_view::npos ? std::string(more)
                                                               : message + ": " + std::string(more);
    }
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return urlError(kURLErrorUnsupportedURL, std::move(message));
        case CURLE_URL_MALFORMAT:
            return urlError(kURLErrorBadURL, std::move(message));
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return urlError(kURLErrorCannotFindHost, std::move(message));
        case CURLE_COULDNT_CONNECT:
            return urlError(kURLErrorCannotConnectToHost, std::move(message));
        case CURLE_OPERATION_TIMEDOUT:
            return urlError(kURLErrorTimedOut, std::move(message));
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            return urlError(kURLErrorNetworkConnectionLost, std::move(message));
        case CURLE_TOO_MANY_REDIRECTS:
            return urlError(kURLErrorHTTPTooManyRedirects, std::move(message));
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_BAD_CONTENT_ENCODING:
            return urlError(kURLErrorBadServerResponse, std::move(message));
        case CURLE_PEER_FAILED_VERIFICATION:
            return urlError(kURLErrorServerCertificateUntrusted, std::move(message));
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_CRL_BADFILE:
            return urlError(kURLErrorSecureConnectionFailed, std::move(message));
        default:
            return urlError(kURLErrorUnknown, std::move(message));
    }
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
    double startTime = 0;  // dispatch clock, when the transfer was handed to libcurl
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (easy && multi != nullptr) {
            curl_multi_remove_handle(multi, easy.get());
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
        } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
                value.remove_suffix(1);
            }
            transfer->responseHeaders.emplace_back(std::string(line.substr(0, colon)),
                                                   std::string(value));
        }
        return size * count;
    }

    // An answer that announces more bytes than a buffered task may hold is refused before any
    // of it is kept.
    std::optional<Error> announcedTooLarge() {
        curl_off_t announced = -1;
        curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        const int64_t cap = task->maximumResponseBytes();
        if (task->kind() == URLSessionTask::Kind::Download || announced <= cap) {
            return std::nullopt;
        }
        return urlError(kURLErrorDataLengthExceedsMaximum,
                        "the answer announces " + std::to_string(announced) + " bytes, more than "
                                + std::to_string(cap));
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* userdata) {
        auto* transfer = static_cast<Transfer*>(userdata);
        const size_t bytes = size * count;
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
    for (;;) {
        {
            MutexLock lock(mutex_);
            if (stopping_) {
                return;
            }
            starts.swap(toStart_);
            cancels.swap(toCancel_);
        }
        for (auto& task : starts) {
            begin(std::move(task));
        }
        starts.clear();
        for (const uint64_t identifier : cancels) {
            if (auto it = transfers_.find(identifier); it != transfers_.end()) {
                it->second->abortError = urlError(kURLErrorCancelled, "cancelled");
                finish(identifier, CURLE_ABORTED_BY_CALLBACK);
            }
        }
        cancels.clear();

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
    if (auto error = checkRequest(request)) {
        task->complete(std::move(error));
        return;
    }
    auto transfer = std::make_unique<Transfer>();
    transfer->task = task;
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
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
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
    if (!error && transfer->hasBody) {
        curl_off_t sent = 0;
        curl_easy_getinfo(transfer->easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent);
        if (sent != transfer->lastUploaded) {
            transfer->task->bodySent(sent, transfer->bodySize);
        }
    }
    transfer->deliverResponse();
    if (const auto& body = transfer->task->body()) {
        body->close();
    }
    transfer->task->collectMetrics(metricsOf(*transfer));
    transfer->task->complete(std::move(error));
}

}  // namespace pelmar::net::internal
