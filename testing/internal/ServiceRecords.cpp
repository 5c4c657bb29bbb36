#include "testing/internal/ServiceRecords.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace pelmar::test::internal {

namespace {

constexpr int kFormat = 1;

MediaKind kindNamed(const std::string& name) {
    for (MediaKind kind : {MediaKind::Video, MediaKind::Audio, MediaKind::Image}) {
        if (mediaKindName(kind) == name) {
            return kind;
        }
    }
    throw std::runtime_error("unknown media kind \"" + name + "\"");
}

// Files in the data folder are kept relative to it, so that the folder may move; files served
// in place keep their absolute path.
std::string keptPath(const std::filesystem::path& file, const std::filesystem::path& dataDir) {
    if (file.empty()) {
        return {};
    }
    const std::filesystem::path relative = file.lexically_relative(dataDir);
    const bool inside = !relative.empty() && *relative.begin() != "..";
    return (inside ? relative : file).string();
}

std::filesystem::path readPath(const Json& value, const std::filesystem::path& dataDir) {
    const std::filesystem::path kept = value.get<std::string>();
    if (kept.empty() || kept.is_absolute()) {
        return kept;
    }
    return dataDir / kept;
}

Json streamJson(const RecordedStream& stream, const std::filesystem::path& dataDir) {
    return Json{{"token", stream.token},
                {"state", stream.state},
                {"file", keptPath(stream.file, dataDir)},
                {"owns_file", stream.ownsFile},
                {"size", stream.size},
                {"sha256", stream.sha256},
                {"confirmed_at", stream.confirmedAt}};
}

RecordedStream streamFrom(const Json& json, const std::filesystem::path& dataDir) {
    RecordedStream stream;
    stream.token = json.at("token").get<std::string>();
    stream.state = json.at("state").get<std::string>();
    stream.file = readPath(json.at("file"), dataDir);
    stream.ownsFile = json.at("owns_file").get<bool>();
    stream.size = json.at("size").get<uint64_t>();
    stream.sha256 = json.at("sha256").get<std::string>();
    stream.confirmedAt = json.at("confirmed_at").get<uint64_t>();
    return stream;
}

Json resourceJson(const RecordedResource& resource, const std::filesystem::path& dataDir) {
    Json streams = Json::array();
    for (const auto& stream : resource.streams) {
        streams.push_back(streamJson(stream, dataDir));
    }
    return Json{{"kind", mediaKindName(resource.kind)},
                {"app", resource.app},
                {"token", resource.token},
                {"title", resource.title},
                {"description", resource.description},
                {"created", resource.created},
                {"serial", resource.serial},
                {"cover", keptPath(resource.cover, dataDir)},
                {"streams", std::move(streams)}};
}

RecordedResource resourceFrom(const Json& json, const std::filesystem::path& dataDir) {
    RecordedResource resource;
    resource.kind = kindNamed(json.at("kind").get<std::string>());
    resource.app = json.at("app").get<std::string>();
    resource.token = json.at("token").get<std::string>();
    resource.title = json.at("title").get<std::string>();
    resource.description = json.at("description").get<std::string>();
    resource.created = json.at("created").get<int64_t>();
    resource.serial = json.at("serial").get<uint64_t>();
    resource.cover = readPath(json.at("cover"), dataDir);
    for (const Json& stream : json.at("streams")) {
        resource.streams.push_back(streamFrom(stream, dataDir));
    }
    return resource;
}

Json slotJson(const UploadTarget& slot) {
    return Json{{"id", slot.id},       {"app", slot.app},       {"kind", mediaKindName(slot.kind)},
                {"token", slot.token}, {"stream", slot.stream}, {"fields", slot.fields}};
}

UploadTarget slotFrom(const Json& json) {
    UploadTarget slot;
    slot.id = json.at("id").get<std::string>();
    slot.app = json.at("app").get<std::string>();
    slot.kind = kindNamed(json.at("kind").get<std::string>());
    slot.token = json.at("token").get<std::string>();
    slot.stream = json.at("stream").get<std::string>();
    slot.fields = json.at("fields");
    if (!slot.fields.is_object()) {
        throw std::runtime_error("the fields of upload " + slot.id + " are not an object");
    }
    return slot;
}

ServiceRecords recordsFrom(const Json& json, const std::filesystem::path& dataDir) {
    if (!json.is_object() || json.value("format", 0) != kFormat) {
        throw std::runtime_error("not a records object of format " + std::to_string(kFormat));
    }
    ServiceRecords records;
    const Json& counters = json.at("counters");
    records.serials = counters.at("serials").get<uint64_t>();
    records.videos = counters.at("videos").get<uint64_t>();
    records.audios = counters.at("audios").get<uint64_t>();
    records.images = counters.at("images").get<uint64_t>();
    records.streams = counters.at("streams").get<uint64_t>();
    records.uploads = counters.at("uploads").get<uint64_t>();
    for (const Json& item : json.at("resources")) {
        RecordedResource resource = resourceFrom(item, dataDir);
        const std::string token = resource.token;
        if (!records.resources.emplace(token, std::move(resource)).second) {
            throw std::runtime_error("resource " + token + " is recorded twice");
        }
    }
    for (const Json& item : json.at("slots")) {
        UploadTarget slot = slotFrom(item);
        const std::string id = slot.id;
        records.slots.emplace(id, std::move(slot));
    }
    return records;
}

bool holdsFiles(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::is_directory(folder, error)
           && std::filesystem::directory_iterator(folder, error)
                      != std::filesystem::directory_iterator();
}

}  // namespace

RecordsFile::RecordsFile(std::filesystem::path dataDir)
    : dataDir_(std::move(dataDir)), path_(dataDir_ / kFileName) {}

ServiceRecords RecordsFile::load() const {
    std::error_code error;
    if (!std::filesystem::exists(path_, error) && !error) {
        if (holdsFiles(dataDir_ / "files")) {
            throw std::runtime_error("the data folder " + dataDir_.string()
                                     + " holds stored files but no " + kFileName
                                     + "; it is left as it is");
        }
        return {};
    }
    const auto refuse = [&](const std::string& why) {
        return std::runtime_error("cannot read the records " + path_.string() + ": " + why
                                  + "; the data folder is left as it is");
    };
    std::ifstream in(path_, std::ios::binary);
    if (error || !in) {
        throw refuse(error ? error.message() : "cannot open the file");
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw refuse("cannot read the file");
    }
    const Json json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) {
        throw refuse("not valid JSON");
    }
    try {
        return recordsFrom(json, dataDir_);
    } catch (const Json::exception& failure) {
        throw refuse(failure.what());
    } catch (const std::runtime_error& failure) {
        throw refuse(failure.what());
    }
}

bool RecordsFile::save(const ServiceRecords& records) const {
    Json resources = Json::array();
    for (const auto& [token, resource] : records.resources) {
        resources.push_back(resourceJson(resource, dataDir_));
    }
    Json slots = Json::array();
    for (const auto& [id, slot] : records.slots) {
        slots.push_back(slotJson(slot));
    }
    const Json json{{"format", kFormat},
                    {"counters",
                     {{"serials", records.serials},
                      {"videos", records.videos},
                      {"audios", records.audios},
                      {"images", records.images},
                      {"streams", records.streams},
                      {"uploads", records.uploads}}},
                    {"resources", std::move(resources)},
                    {"slots", std::move(slots)}};
    const std::filesystem::path aside = path_.string() + ".new";
    {
        std::ofstream out(aside, std::ios::binary | std::ios::trunc);
        out << json.dump(2) << '\n';
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(aside, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(aside, path_, error);
    return !error;
}

}  // namespace pelmar::test::internal
