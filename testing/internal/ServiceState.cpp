#include "testing/internal/ServiceState.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "testing/Sha256.h"
#include "testing/internal/TinyJpeg.h"

namespace pelmar::test::internal {

namespace {

const char* resourceKey(MediaKind kind) {
    return kind == MediaKind::Video ? "video" : kind == MediaKind::Audio ? "audio" : "image";
}

const char* streamKey(MediaKind kind) {
    return kind == MediaKind::Video   ? "stream"
           : kind == MediaKind::Audio ? "audio_stream"
                                      : "image_stream";
}

const char* contentTypeOf(MediaKind kind) {
    return kind == MediaKind::Video   ? "video/mp4"
           : kind == MediaKind::Audio ? "audio/aac"
                                      : "image/jpeg";
}

std::string collection(MediaKind kind) {
    return std::string(resourceKey(kind)) + "s";
}

int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

Answer notFound(const std::string& what) {
    return Answer::failure(404, "unknown " + what);
}

// Opens `path` for a download answer; the answer keeps the descriptor, so a later replacement or
// removal of the file does not disturb a download in progress.
Answer fileAnswer(const std::filesystem::path& path, const char* contentType) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Answer::failure(500, "cannot open the stored file");
    }
    auto file = std::make_shared<OpenFile>(fd);

    struct stat info {};

    if (fstat(fd, &info) != 0) {
        return Answer::failure(500, "cannot read the stored file");
    }
    Answer answer;
    answer.contentType = contentType;
    answer.file = std::move(file);
    answer.fileSize = static_cast<uint64_t>(info.st_size);
    return answer;
}

}  // namespace

ServiceState::ServiceState(std::filesystem::path dataDir)
    : dataDir_(std::move(dataDir)), recordsFile_(dataDir_), records_(recordsFile_.load()) {}

Answer ServiceState::saved(Answer done) {
    if (!recordsFile_.save(records_)) {
        return Answer::failure(500,
                               "cannot write the service records " + recordsFile_.path().string());
    }
    return done;
}

void ServiceState::setStorageBase(std::string base) {
    MutexLock lock(mutex_);
    storageBase_ = std::move(base);
}

void ServiceState::setUploadFields(Json fields) {
    MutexLock lock(mutex_);
    uploadFields_ = std::move(fields);
}

std::string ServiceState::issueSession() {
    MutexLock lock(mutex_);
    sessions_.push_back("sess-" + std::to_string(sessions_.size() + 1));
    return sessions_.back();
}

bool ServiceState::isSession(const std::string& token) const {
    MutexLock lock(mutex_);
    return std::find(sessions_.begin(), sessions_.end(), token) != sessions_.end();
}

std::vector<std::string> ServiceState::sessionTokens() const {
    MutexLock lock(mutex_);
    return sessions_;
}

ServiceState::Resource* ServiceState::find(MediaKind kind,
                                           const std::string& app,
                                           const std::string& token) {
    auto it = records_.resources.find(token);
    if (it == records_.resources.end() || it->second.kind != kind || it->second.app != app) {
        return nullptr;
    }
    return &it->second;
}

const ServiceState::Resource* ServiceState::find(MediaKind kind,
                                                 const std::string& app,
                                                 const std::string& token) const {
    return const_cast<ServiceState*>(this)->find(kind, app, token);
}

const ServiceState::Stream* ServiceState::defaultStream(const Resource& resource) {
    const Stream* best = nullptr;
    for (const auto& stream : resource.streams) {
        if (stream.confirmedAt != 0 && (!best || stream.confirmedAt > best->confirmedAt)) {
            best = &stream;
        }
    }
    if (!best && !resource.streams.empty()) {
        best = &resource.streams.front();
    }
    return best;
}

Json ServiceState::model(const Resource& resource) {
    const Stream* main = defaultStream(resource);
    Json streams = Json::array();
    for (const auto& stream : resource.streams) {
        streams.push_back({{"token", stream.token},
                           {"state_string", stream.state},
                           {"size", stream.size},
                           {"sha256", stream.sha256}});
    }
    Json json{{"token", resource.token},
              {"key", collection(resource.kind) + "/" + resource.token},
              {"title", resource.title},
              {"description", resource.description},
              {"state_string", main ? main->state : "EMPTY"},
              {"created", resource.created},
              {"duration", 0},
              {"streams", std::move(streams)}};
    if (resource.kind == MediaKind::Video) {
        const std::string streamToken = main ? main->token : "";
        json["default_stream"] = {{"token", streamToken}};
        json["original_stream"] = {
                {"token", streamToken},
                {"audio_transcription", {{"words", Json::array()}, {"times", Json::array()}}}};
    }
    return json;
}

Json ServiceState::wrapped(const Resource& resource) {
    if (resource.kind == MediaKind::Video) {
        return model(resource);
    }
    return Json{{resourceKey(resource.kind), model(resource)}};
}

Json ServiceState::issueUpload(Resource& resource, const std::string& stream) {
    UploadTarget target;
    target.id = "up-" + std::to_string(++records_.uploads);
    target.app = resource.app;
    target.kind = resource.kind;
    target.token = resource.token;
    target.stream = stream;
    if (uploadFields_) {
        target.fields = *uploadFields_;
    } else {
        const std::string key = collection(resource.kind) + "/" + resource.token + "/" + stream;
        target.fields = Json{{"key", key},
                             {"policy", "pelmar-emulator"},
                             {"signature", Sha256::hexOf(target.id + ":" + key).substr(0, 40)}};
    }
    Json urlData{{"url", storageBase_ + "/upload/" + target.id}, {"fields", target.fields}};
    records_.slots[target.id] = std::move(target);
    return urlData;
}

Json ServiceState::createAnswer(Resource& resource, const std::string& stream) {
    Json answer;
    answer[resourceKey(resource.kind)] = model(resource);
    answer[streamKey(resource.kind)] = {{"token", stream}, {"state_string", "EMPTY"}};
    answer["url_data"] = issueUpload(resource, stream);
    return answer;
}

Answer ServiceState::create(MediaKind kind, const std::string& app, const FieldList& params) {
    MutexLock lock(mutex_);
    Resource resource;
    resource.kind = kind;
    resource.app = app;
    uint64_t& count = kind == MediaKind::Video   ? records_.videos
                      : kind == MediaKind::Audio ? records_.audios
                                                 : records_.images;
    const char* prefix = kind == MediaKind::Video   ? "vid-"
                         : kind == MediaKind::Audio ? "aud-"
                                                    : "img-";
    resource.token = prefix + std::to_string(++count);
    resource.created = nowSeconds();
    resource.serial = ++records_.serials;
    if (const std::string* title = findField(params, "title")) {
        resource.title = *title;
    }
    if (const std::string* description = findField(params, "description")) {
        resource.description = *description;
    }
    Stream stream;
    stream.token = "str-" + std::to_string(++records_.streams);
    resource.streams.push_back(stream);
    Resource& stored = records_.resources[resource.token] = std::move(resource);
    return saved(Answer::json(200, createAnswer(stored, stream.token)));
}

Answer ServiceState::createStream(const std::string& app, const std::string& token) {
    MutexLock lock(mutex_);
    Resource* resource = find(MediaKind::Video, app, token);
    if (!resource) {
        return notFound("video");
    }
    Stream stream;
    stream.token = "str-" + std::to_string(++records_.streams);
    resource->streams.push_back(stream);
    return saved(Answer::json(200, createAnswer(*resource, stream.token)));
}

Answer ServiceState::index(MediaKind kind, const std::string& app) const {
    MutexLock lock(mutex_);
    std::vector<const Resource*> found;
    for (const auto& [token, resource] : records_.resources) {
        if (resource.kind == kind && resource.app == app) {
            found.push_back(&resource);
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Resource* a, const Resource* b) { return a->serial < b->serial; });
    Json list = Json::array();
    for (const Resource* resource : found) {
        list.push_back(model(*resource));
    }
    return Answer::json(200, list);
}

Answer ServiceState::get(MediaKind kind, const std::string& app, const std::string& token) const {
    MutexLock lock(mutex_);
    const Resource* resource = find(kind, app, token);
    if (!resource) {
        return notFound(resourceKey(kind));
    }
    return Answer::json(200, wrapped(*resource));
}

Answer ServiceState::update(MediaKind kind,
                            const std::string& app,
                            const std::string& token,
                            const std::string& stream,
                            const FieldList& params) {
    MutexLock lock(mutex_);
    Resource* resource = find(kind, app, token);
    if (!resource) {
        return notFound(resourceKey(kind));
    }
    if (!stream.empty()
        && std::none_of(resource->streams.begin(), resource->streams.end(),
                        [&](const Stream& s) { return s.token == stream; })) {
        return notFound("stream");
    }
    if (const std::string* title = findField(params, "title")) {
        resource->title = *title;
    }
    if (const std::string* description = findField(params, "description")) {
        resource->description = *description;
    }
    return saved(Answer::json(200, model(*resource)));
}

void ServiceState::removeStreamFile(Stream& stream) {
    if (stream.ownsFile && !stream.file.empty()) {
        std::error_code ignored;
        std::filesystem::remove(stream.file, ignored);
    }
    stream.file.clear();
}

Answer ServiceState::remove(MediaKind kind,
                            const std::string& app,
                            const std::string& token,
                            const std::string& stream) {
    MutexLock lock(mutex_);
    Resource* resource = find(kind, app, token);
    if (!resource) {
        return notFound(resourceKey(kind));
    }
    if (stream.empty()) {
        for (auto& s : resource->streams) {
            removeStreamFile(s);
        }
        if (!resource->cover.empty()) {
            std::error_code ignored;
            std::filesystem::remove(resource->cover, ignored);
        }
        records_.resources.erase(token);
        return saved(Answer::json(200, Json{{"deleted", true}, {"token", token}}));
    }
    auto it = std::find_if(resource->streams.begin(), resource->streams.end(),
                           [&](const Stream& s) { return s.token == stream; });
    if (it == resource->streams.end()) {
        return notFound("stream");
    }
    removeStreamFile(*it);
    resource->streams.erase(it);
    return saved(Answer::json(200, Json{{"deleted", true}, {"token", token}, {"stream", stream}}));
}

Answer ServiceState::confirm(MediaKind kind,
                             const std::string& app,
                             const std::string& token,
                             const std::string& stream) {
    MutexLock lock(mutex_);
    Resource* resource = find(kind, app, token);
    if (!resource) {
        return notFound(resourceKey(kind));
    }
    // Audios and images have one stream, confirmed through the resource itself.
    auto it = stream.empty() ? resource->streams.begin()
                             : std::find_if(resource->streams.begin(), resource->streams.end(),
                                            [&](const Stream& s) { return s.token == stream; });
    if (it == resource->streams.end()) {
        return notFound("stream");
    }
    if (it->file.empty()) {
        return Answer::failure(409, "no file has been uploaded for stream " + it->token);
    }
    if (it->state != "READY") {
        it->state = "READY";
        it->confirmedAt = ++records_.serials;
    }
    return saved(Answer::json(200, wrapped(*resource)));
}

Answer ServiceState::recorderSubmit(const std::string& app,
                                    const std::string& token,
                                    const std::string& stream) const {
    MutexLock lock(mutex_);
    const Resource* resource = find(MediaKind::Video, app, token);
    if (!resource) {
        return notFound("video");
    }
    if (std::none_of(resource->streams.begin(), resource->streams.end(),
                     [&](const Stream& s) { return s.token == stream; })) {
        return notFound("stream");
    }
    return Answer::json(200, model(*resource));
}

Answer ServiceState::attachCover(const std::string& app,
                                 const std::string& token,
                                 const std::string& stream,
                                 std::string jpeg) {
    MutexLock lock(mutex_);
    Resource* resource = find(MediaKind::Video, app, token);
    if (!resource) {
        return notFound("video");
    }
    if (std::none_of(resource->streams.begin(), resource->streams.end(),
                     [&](const Stream& s) { return s.token == stream; })) {
        return notFound("stream");
    }
    if (jpeg.empty()) {
        return Answer::failure(400, "empty cover");
    }
    // Written aside and renamed over the old one, so a download of the old cover goes on.
    const std::filesystem::path cover = dataDir_ / "files" / (token + ".cover.jpg");
    const std::filesystem::path aside = cover.string() + ".new";
    {
        std::ofstream out(aside, std::ios::binary | std::ios::trunc);
        out.write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
        out.close();
        std::error_code error;
        if (out) {
            std::filesystem::rename(aside, cover, error);
        }
        if (!out || error) {
            std::filesystem::remove(aside, error);
            return Answer::failure(500, "cannot store the cover");
        }
    }
    resource->cover = cover;
    return saved(Answer::json(
            200, Json{{"token", token}, {"stream", stream}, {"cover_size", jpeg.size()}}));
}

Answer ServiceState::thumbnail(const std::string& app, const std::string& token) const {
    MutexLock lock(mutex_);
    const Resource* resource = find(MediaKind::Video, app, token);
    if (!resource) {
        return notFound("video");
    }
    if (!resource->cover.empty()) {
        return fileAnswer(resource->cover, "image/jpeg");
    }
    Answer answer;
    answer.contentType = "image/jpeg";
    answer.body = std::string(tinyJpeg());
    return answer;
}

Answer ServiceState::download(MediaKind kind,
                              const std::string& app,
                              const std::string& token) const {
    MutexLock lock(mutex_);
    const Resource* resource = find(kind, app, token);
    if (!resource) {
        return notFound(resourceKey(kind));
    }
    const Stream* stream = defaultStream(*resource);
    if (!stream || stream->state != "READY" || stream->file.empty()) {
        return Answer::failure(404, "no confirmed file for " + token);
    }
    return fileAnswer(stream->file, contentTypeOf(kind));
}

std::optional<UploadTarget> ServiceState::uploadTarget(const std::string& id) const {
    MutexLock lock(mutex_);
    auto it = records_.slots.find(id);
    if (it == records_.slots.end()) {
        return std::nullopt;
    }
    return it->second;
}

Answer ServiceState::storeUpload(const UploadTarget& target,
                                 StoredUpload record,
                                 const std::filesystem::path& incomingFile) {
    MutexLock lock(mutex_);
    Resource* resource = find(target.kind, target.app, target.token);
    Stream* stream = nullptr;
    if (resource) {
        for (auto& s : resource->streams) {
            if (s.token == target.stream) {
                stream = &s;
            }
        }
    }
    std::error_code error;
    if (!stream) {
        std::filesystem::remove(incomingFile, error);
        return Answer::failure(404, "the stream of this upload no longer exists");
    }
    const std::filesystem::path destination = dataDir_ / "files" / (target.stream + ".bin");
    std::filesystem::rename(incomingFile, destination, error);
    if (error) {
        std::filesystem::remove(incomingFile, error);
        return Answer::failure(500, "cannot store the uploaded file");
    }
    stream->file = destination;
    stream->ownsFile = true;
    stream->size = record.size;
    stream->sha256 = record.sha256;
    stream->state = "VERIFIED";
    stream->confirmedAt = 0;
    record.storedFile = destination;
    uploads_.push_back(record);
    return saved(Answer::json(
            201, Json{{"upload", target.id}, {"size", record.size}, {"sha256", record.sha256}}));
}

std::vector<StoredUpload> ServiceState::uploads() const {
    MutexLock lock(mutex_);
    return uploads_;
}

void ServiceState::addDebugReport(DebugReport report) {
    MutexLock lock(mutex_);
    debugReports_.push_back(std::move(report));
    if (debugReports_.size() > ServiceEmulator::kMaxDebugReports) {
        debugReports_.erase(debugReports_.begin());
    }
}

std::vector<DebugReport> ServiceState::debugReports() const {
    MutexLock lock(mutex_);
    return debugReports_;
}

std::optional<Json> ServiceState::resourceJson(const std::string& token) const {
    MutexLock lock(mutex_);
    auto it = records_.resources.find(token);
    if (it == records_.resources.end()) {
        return std::nullopt;
    }
    return model(it->second);
}

SeededResource ServiceState::seed(MediaKind kind,
                                  const std::string& app,
                                  const std::filesystem::path& file) {
    const Answer created = create(kind, app, {});
    const Json answer = Json::parse(created.body);
    SeededResource seeded{answer[resourceKey(kind)]["token"].get<std::string>(),
                          answer[streamKey(kind)]["token"].get<std::string>()};
    MutexLock lock(mutex_);
    Resource& resource = records_.resources.at(seeded.token);
    Stream& stream = resource.streams.front();
    std::error_code error;
    stream.file = std::filesystem::absolute(file, error);
    stream.ownsFile = false;
    stream.size = std::filesystem::file_size(file, error);
    stream.state = "READY";
    stream.confirmedAt = ++records_.serials;
    if (!recordsFile_.save(records_)) {
        throw std::runtime_error("cannot write the service records "
                                 + recordsFile_.path().string());
    }
    return seeded;
}

}  // namespace pelmar::test::internal
