#include "pelmar/platform/av/internal/RangeFetch.h"

extern "C" {
#include <libavutil/error.h>
}

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "pelmar/platform/av/internal/ByteCache.h"

namespace pelmar::av::internal {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;

struct Failure {
    int averror = 0;
    std::string why;
};

Failure httpFailure(long status) {
    const std::string why = "the server answered HTTP " + std::to_string(status);
    if (status == 404 || status == 410) {
        return {AVERROR_HTTP_NOT_FOUND, why};
    }
    if (status == 401) {
        return {AVERROR_HTTP_UNAUTHORIZED, why};
    }
    if (status == 403) {
        return {AVERROR_HTTP_FORBIDDEN, why};
    }
    if (status >= 400 && status < 500) {
        return {AVERROR_HTTP_OTHER_4XX, why};
    }
    if (status >= 500) {
        return {AVERROR_HTTP_SERVER_ERROR, why};
    }
    return {AVERROR(EIO), why};
}

Failure curlFailure(CURLcode code, const char* detail) {
    std::string why = detail != nullptr && detail[0] != '\0' ? detail : curl_easy_strerror(code);
    switch (code) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CONNECT_ERROR:
            return {AVERROR(EACCES), "the server's certificate is not trusted: " + why};
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
            return {AVERROR(ECONNREFUSED), why};
        case CURLE_OPERATION_TIMEDOUT:
            return {AVERROR(ETIMEDOUT), why};
        case CURLE_UNSUPPORTED_PROTOCOL:
            return {AVERROR(EPROTONOSUPPORT), "only http and https are fetched: " + why};
        default:
            return {AVERROR(EIO), why};
    }
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size()
           && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char c) {
                  return std::tolower(static_cast<unsigned char>(c)) == lower;
              });
}

// One ranged GET: where its bytes go and why it may end early.
struct Transfer {
    ByteCache* cache = nullptr;
    const RangeFetch::Controls* controls = nullptr;
    int64_t position = 0;  // where the next body byte goes
    bool answered = false;
    bool ranged = false;  // the answer was 206
    bool stoppedEarly = false;
    bool pastEnd = false;         // 416: the body is the server's page, not movie bytes
    int64_t announcedTotal = -1;  // from Content-Range
    std::optional<Failure> failure;
    CURL* easy = nullptr;

    bool wholeWanted() const { return controls->wholeWanted && controls->wholeWanted(); }

    // Whether the transfer should end here: the fetch is stopped, or (on a server that answers
    // ranges) a reader waits for bytes elsewhere, or nobody needs the bytes that come next.
    bool shouldEnd() const {
        if (controls->stopped && controls->stopped()) {
            return true;
        }
        if (!answered || !ranged) {
            return false;
        }
        if (const auto wanted = cache->wanted()) {
            return *wanted < position || *wanted >= position + RangeFetch::kNearBytes;
        }
        return !wholeWanted() && position > cache->lastRead() + RangeFetch::kReadAheadBytes;
    }

    // Looks at the answer's head once, before its first body byte (or at its end).
    bool takeAnswer() {
        if (answered) {
            return !failure;
        }
        answered = true;
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        int64_t total = -1;
        if (status == 206) {
            ranged = true;
            total = announcedTotal;
        } else if (status == 200) {
            // The server ignores ranges: its answer is the whole file from the start.
            position = 0;
            curl_off_t length = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            total = length;
        } else if (status == 416) {
            // Asked past the end: nothing more there, but the answer tells the size.
            ranged = true;
            pastEnd = true;
            return announcedTotal < 0 || cache->begin(announcedTotal);
        } else {
            failure = httpFailure(status);
            return false;
        }
        if (!cache->begin(total)) {
            failure = Failure{cache->failure(), cache->failureText()};
            return false;
        }
        return true;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* userdata) {
        auto* self = static_cast<Transfer*>(userdata);
        const std::string_view line(data, size * count);
        if (startsWithNoCase(line, "http/")) {
            // A new answer (after a redirect or an interim one) starts over.
            self->announcedTotal = -1;
        } else if (startsWithNoCase(line, "content-range:")) {
            const auto slash = line.rfind('/');
            if (slash != std::string_view::npos) {
                const std::string total(line.substr(slash + 1));
                char* end = nullptr;
                const long long value = std::strtoll(total.c_str(), &end, 10);
                if (end != total.c_str() && value >= 0) {
                    self->announcedTotal = value;
                }
            }
        }
        return size * count;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* userdata) {
        auto* self = static_cast<Transfer*>(userdata);
        const size_t bytes = size * count;
        if (!self->takeAnswer()) {
            return 0;
        }
        if (self->pastEnd) {
            return bytes;
        }
        if (!self->cache->store(self->position, reinterpret_cast<const uint8_t*>(data), bytes)) {
            self->failure = Failure{self->cache->failure(), self->cache->failureText()};
            return 0;
        }
        self->position += static_cast<int64_t>(bytes);
        if (self->controls->progressed) {
            self->controls->progressed();
        }
        if (self->shouldEnd()) {
            self->stoppedEarly = true;
            return 0;
        }
        return bytes;
    }
};

// libcurl's one process-wide set-up, before the first handle.
void initializeCurl() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)ready;
}

}  // namespace

void RangeFetch::run(const std::string& url,
                     ByteCache& cache,
                     double idleTimeoutSeconds,
                     const Controls& controls) {
    const auto stopped = [&controls] { return controls.stopped && controls.stopped(); };
    const auto end = [&](int averror, std::string why) {
        cache.fail(averror, std::move(why));
        if (controls.progressed) {
            controls.progressed();
        }
    };
    initializeCurl();
    Easy easy(curl_easy_init());
    Multi multi(curl_multi_init());
    if (!easy || !multi) {
        end(AVERROR(ENOMEM), "out of memory");
        return;
    }
    char errors[CURL_ERROR_SIZE] = {};
    const long timeout = std::max(1L, static_cast<long>(std::ceil(idleTimeoutSeconds)));
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, timeout);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody);

    bool rangesRefused = false;
    int64_t position = 0;
    while (true) {
        if (cache.failure() != 0 || cache.finished()) {
            return;
        }
        // A movie that has all arrived is finished, even when the fetch was stopped meanwhile.
        const int64_t total = cache.knownSize();
        if (total >= 0 && cache.firstMissingAt(0) >= total) {
            cache.finish();
            if (controls.progressed) {
                controls.progressed();
            }
            return;
        }
        if (stopped()) {
            end(AVERROR_EXIT, "stopped");
            return;
        }
        // Where to go: the bytes a reader waits for, else (when everything is wanted) the next
        // missing stretch, else nowhere until a reader asks.
        std::optional<int64_t> start = cache.wanted();
        if (start && total >= 0 && *start >= total) {
            start.reset();
        }
        if (!start && (controls.wholeWanted && controls.wholeWanted())) {
            start = cache.firstMissingAt(position);
            if (total >= 0 && *start >= total) {
                start = cache.firstMissingAt(0);
            }
        }
        if (!start) {
            const int64_t ahead = cache.lastRead();
            const int64_t next = ahead >= 0 ? cache.firstMissingAt(ahead) : -1;
            if (ahead >= 0 && next < ahead + kReadAheadBytes && (total < 0 || next < total)) {
                start = next;
            } else {
                cache.waitForWant(kPollMs);
                continue;
            }
        }
        if (rangesRefused) {
            // Read once already, front to back, and broken off: there is no other way in.
            end(AVERROR(EIO), "the transfer broke off");
            return;
        }
        const int64_t stop = cache.missingEndAt(*start);
        const std::string range =
                std::to_string(*start) + "-" + (stop > *start ? std::to_string(stop - 1) : "");
        Transfer transfer;
        transfer.cache = &cache;
        transfer.controls = &controls;
        transfer.position = *start;
        transfer.easy = e;
        curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
        errors[0] = '\0';
        curl_multi_add_handle(multi.get(), e);
        int running = 1;
        std::optional<CURLcode> result;
        while (!result) {
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
                if (message->msg == CURLMSG_DONE) {
                    result = message->data.result;
                }
            }
            if (result || running == 0) {
                break;
            }
            if (transfer.shouldEnd()) {
                transfer.stoppedEarly = true;
                break;
            }
            curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr);
        }
        curl_multi_remove_handle(multi.get(), e);
        position = transfer.position;
        if (transfer.failure) {
            end(transfer.failure->averror, transfer.failure->why);
            return;
        }
        if (transfer.stoppedEarly) {
            continue;
        }
        if (result && *result != CURLE_OK) {
            const Failure failure = curlFailure(*result, errors);
            end(failure.averror, failure.why);
            return;
        }
        if (!transfer.takeAnswer()) {
            end(transfer.failure->averror, transfer.failure->why);
            return;
        }
        if (!transfer.ranged) {
            // The whole file in one answer (or nothing past the end): it has all arrived.
            if (transfer.announcedTotal < 0 && cache.knownSize() < 0) {
                cache.finish();
                if (controls.progressed) {
                    controls.progressed();
                }
                return;
            }
            rangesRefused = !transfer.ranged && transfer.position > 0;
        }
    }
}

}  // namespace pelmar::av::internal
