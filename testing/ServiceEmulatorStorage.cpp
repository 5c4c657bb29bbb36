// The storage host: multipart uploads checked against the fields handed out and stored on disk.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

#include "testing/MultipartStreamParser.h"
#include "testing/ServiceEmulator.h"
#include "testing/Sha256.h"
#include "testing/internal/HttpExchange.h"
#include "testing/internal/ServiceEmulatorImpl.h"

namespace pelmar::test {

using internal::Answer;
using internal::BodyRead;
using internal::readBody;
using internal::Route;

namespace {

constexpr size_t kFileBufferBytes = 1 << 20;

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
    const auto target = data->state().uploadTarget(route.uploadId);
    if (!target) {
        return drain(Answer::failure(404, "unknown upload " + route.uploadId));
    }

    IncomingFile file(data->incomingFile(route.uploadId));
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
    Answer answer = data->state().storeUpload(*target, std::move(record), file.path());
    file.keep();
    return answer;
}

void ServiceEmulator::setUploadFields(Json fields) {
    if (!fields.is_object()) {
        throw std::invalid_argument("upload fields must be a JSON object");
    }
    if (!impl_->data) {
        throw std::logic_error("ServiceEmulator: setUploadFields() before start()");
    }
    impl_->data->state().setUploadFields(std::move(fields));
}

}  // namespace pelmar::test
