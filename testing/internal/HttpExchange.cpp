#include "testing/internal/HttpExchange.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace pelmar::test::internal {

namespace {

constexpr size_t kDownloadChunkBytes = 256 * 1024;

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

}  // namespace

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

}  // namespace pelmar::test::internal
