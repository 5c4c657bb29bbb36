#include "testing/ServiceEmulator.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/FormEncoding.h"
#include "testing/internal/Answer.h"
#include "testing/internal/ConnectionAbort.h"
#include "testing/internal/HttpExchange.h"
#include "testing/internal/ServiceEmulatorImpl.h"
#include "testing/internal/ServiceRoutes.h"
#include "testing/internal/ServiceState.h"

namespace pelmar::test {

using internal::Answer;
using internal::AnswerHold;
using internal::BodyRead;
using internal::Op;
using internal::Route;

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
    entry.headers = internal::loggedHeaders(request.headers);

    // An upload counts as in flight from the arrival of its head, held or not.
    std::optional<internal::TrafficCounters::UploadInFlight> inFlight;
    if (role == Role::Storage && entry.method == "POST") {
        inFlight.emplace(counters);
    }

    const std::optional<Fault> fault = faults.take(role, entry.method, entry.path);
    const std::optional<uint64_t> cutRequestAfter =
            fault ? fault->cutRequestAfter : std::optional<uint64_t>{};
    Answer answer;
    bool cut = false;
    try {
        if (fault) {
            faults.pause(*fault);
        }
        const Route route = internal::resolve(role, entry.method, entry.path);
        if (route.op == Op::Session) {
            counters.countSessionCall();
        }
        const bool scriptedAnswer = fault && fault->status != 0;
        if (route.op == Op::StorageUpload && reader && !scriptedAnswer) {
            answer = receiveUpload(route, request, *reader, entry, cutRequestAfter, cut);
        } else {
            std::string body;
            bool tooLarge = false;
            BodyRead read{true, false};
            if (reader) {
                read = internal::readBody(request, *reader, entry, cutRequestAfter,
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
            const bool formBody = internal::startsWithIgnoreCase(
                    request.get_header_value("Content-Type"), "application/x-www-form-urlencoded");
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
        hold->park = [this] { faults.park(); };
    }
    internal::writeAnswer(response, answer, cutResponseAfter, std::move(hold));
}

std::string ServiceEmulator::sessionKeyFor(std::string_view appToken) {
    return std::string(kSessionKeyPrefix) + std::string(appToken);
}

ServiceEmulator::ServiceEmulator() : ServiceEmulator(Options{}) {}

ServiceEmulator::ServiceEmulator(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

// The data folder, when the emulator made it, goes with impl_, after the servers.
ServiceEmulator::~ServiceEmulator() {
    stop();
}

void ServiceEmulator::start() {
    Impl& impl = *impl_;
    if (impl.started) {
        throw std::logic_error("ServiceEmulator: start() called twice");
    }
    impl.started = true;
    // Peers that vanish mid-answer must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    const Options& options = impl.settings.options();
    impl.data = std::make_unique<internal::DataDir>(options.dataDir);
    try {
        impl.servers.start(
                options.port, options.onePort,
                [&impl](Role role, const httplib::Request& request, httplib::Response& response,
                        const httplib::ContentReader* reader) {
                    impl.handle(role, request, response, reader);
                });
    } catch (...) {
        stop();
        throw;
    }
    impl.data->state().setStorageBase(storageBase());
}

void ServiceEmulator::stop() {
    Impl& impl = *impl_;
    impl.faults.stop();
    impl.servers.stop();
}

std::string ServiceEmulator::base(Role role) const {
    std::string url = "http://" + address(role) + ":" + std::to_string(port(role));
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
    return impl_->servers.address(role);
}

int ServiceEmulator::port(Role role) const {
    return impl_->servers.port(role);
}

const std::filesystem::path& ServiceEmulator::dataDir() const {
    static const std::filesystem::path beforeStart;
    return impl_->data ? impl_->data->path() : beforeStart;
}

void ServiceEmulator::setRequireSession(bool required) {
    impl_->settings.setRequireSession(required);
}

int64_t ServiceEmulator::sessionCalls() const {
    return impl_->counters.sessionCalls();
}

std::vector<std::string> ServiceEmulator::sessionTokens() const {
    return impl_->data ? impl_->data->state().sessionTokens() : std::vector<std::string>{};
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
    return impl_->data ? impl_->data->state().uploads() : std::vector<StoredUpload>{};
}

size_t ServiceEmulator::maxConcurrentUploads() const {
    return impl_->counters.maxUploadsInFlight();
}

std::vector<DebugReport> ServiceEmulator::debugReports() const {
    return impl_->data ? impl_->data->state().debugReports() : std::vector<DebugReport>{};
}

std::optional<Json> ServiceEmulator::resource(const std::string& token) const {
    return impl_->data ? impl_->data->state().resourceJson(token) : std::nullopt;
}

SeededResource ServiceEmulator::seedResource(MediaKind kind,
                                             const std::string& appToken,
                                             const std::filesystem::path& file) {
    if (!impl_->data) {
        throw std::logic_error("ServiceEmulator: seedResource() before start()");
    }
    return impl_->data->state().seed(kind, appToken, file);
}

}  // namespace pelmar::test
