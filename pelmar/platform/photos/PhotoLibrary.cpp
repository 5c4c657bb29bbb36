#include "pelmar/platform/photos/PhotoLibrary.h"

#include <chrono>
#include <fstream>
#include <future>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/photos/AssetChangeRequest.h"
#include "pelmar/platform/photos/internal/MediaProbe.h"
#include "pelmar/platform/photos/internal/PendingChanges.h"

namespace pelmar::photos {

namespace {

thread_local PhotoLibrary::PendingChanges* tCurrentChanges = nullptr;

bool hasAccess(AuthorizationStatus status) {
    return status == AuthorizationStatus::Authorized || status == AuthorizationStatus::Limited;
}

Error photosError(long code, std::string message) {
    return Error{std::string(kPhotosErrorDomain), code, std::move(message)};
}

double nowSince1970() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string identifierFor(int64_t number) {
    return "asset-" + std::to_string(number);
}

Json assetToJson(const Asset& a, const std::filesystem::path& folder) {
    const auto& p = a.properties();
    Json j;
    j["id"] = p.localIdentifier;
    auto relative = [&](const std::filesystem::path& file) {
        const auto rel = file.lexically_relative(folder);
        return (!rel.empty() && *rel.begin() != "..") ? rel.string() : file.string();
    };
    j["file"] = relative(p.file);
    j["mediaType"] = static_cast<int>(p.mediaType);
    j["subtypes"] = p.mediaSubtypes;
    j["width"] = p.pixelWidth;
    j["height"] = p.pixelHeight;
    j["duration"] = p.duration;
    if (p.creationDate) {
        j["created"] = *p.creationDate;
    }
    if (p.modificationDate) {
        j["modified"] = *p.modificationDate;
    }
    if (p.location) {
        j["location"] = {p.location->latitude, p.location->longitude};
    }
    j["favorite"] = p.isFavorite;
    if (p.pairedVideo) {
        j["paired"] = relative(*p.pairedVideo);
    }
    if (p.inCloud) {
        j["cloud"] = true;
    }
    j["revision"] = p.revision;
    return j;
}

}  // namespace

PhotoLibrary::PhotoLibrary()
    : state_(std::make_shared<LibraryState>()),
      changeQueue_(dispatch::Queue::serial("pelmar.photos.changes")) {}

PhotoLibrary& PhotoLibrary::shared() {
    static PhotoLibrary* library = new PhotoLibrary();
    return *library;
}

PhotoLibrary::PendingChanges* PhotoLibrary::currentChanges() {
    return tCurrentChanges;
}

AuthorizationStatus PhotoLibrary::authorizationStatus() {
    auto& self = shared();
    MutexLock lock(self.mutex_);
    return self.status_;
}

void PhotoLibrary::requestAuthorization(std::function<void(AuthorizationStatus)> handler) {
    auto& self = shared();
    AuthorizationStatus answer;
    {
        MutexLock lock(self.mutex_);
        ++self.requests_;
        if (self.status_ == AuthorizationStatus::NotDetermined) {
            self.status_ = self.answer_;
        }
        answer = self.status_;
    }
    dispatch::Queue::global()->async([handler = std::move(handler), answer] {
        if (handler) {
            handler(answer);
        }
    });
}

void PhotoLibrary::reset(std::optional<std::filesystem::path> folder) {
    MutexLock lock(mutex_);
    state_ = std::make_shared<LibraryState>();
    folder_ = std::move(folder);
    status_ = AuthorizationStatus::NotDetermined;
    answer_ = AuthorizationStatus::Authorized;
    requests_ = 0;
    incremental_ = true;
    nextIdentifier_ = 1;
    observers_.clear();
}

std::filesystem::path PhotoLibrary::folderLocked() const {
    return folder_ ? *folder_ : foundation::Sandbox::root() / "PhotoLibrary";
}

std::filesystem::path PhotoLibrary::folder() const {
    MutexLock lock(mutex_);
    return folderLocked();
}

std::optional<Error> PhotoLibrary::open(const std::filesystem::path& folder) {
    auto next = std::make_shared<LibraryState>();
    int64_t highest = 0;
    const auto manifest = folder / kManifestName;
    std::error_code ec;
    if (std::filesystem::exists(manifest, ec)) {
        if (std::filesystem::file_size(manifest, ec) > kMaxManifestBytes) {
            return photosError(kPhotosErrorInvalidResource,
                               "manifest too large: " + manifest.string());
        }
        std::ifstream in(manifest);
        const Json j = Json::parse(in, nullptr, /*allow_exceptions=*/false);
        if (j.is_discarded() || !j.is_object()) {
            return photosError(kPhotosErrorInvalidResource,
                               "unreadable manifest: " + manifest.string());
        }
        auto resolve = [&](const std::string& name) {
            const std::filesystem::path path(name);
            return path.is_absolute() ? path : folder / path;
        };
        for (const Json& a : j.value("assets", Json::array())) {
            if (!a.is_object() || !a.contains("file") || !a["file"].is_string()) {
                return photosError(kPhotosErrorInvalidResource, "manifest asset without a file");
            }
            Asset::Properties p;
            p.file = resolve(a["file"].get<std::string>());
            p.localIdentifier = a.value("id", std::string());
            if (p.localIdentifier.empty()) {
                p.localIdentifier = identifierFor(++highest + 100000);
            }
            const auto probe = internal::probeMedia(p.file);
            if (probe.error) {
                return probe.error;
            }
            p.mediaType = static_cast<AssetMediaType>(
                    a.value("mediaType", static_cast<int>(probe.facts.mediaType)));
            p.pixelWidth = probe.facts.pixelWidth;
            p.pixelHeight = probe.facts.pixelHeight;
            p.duration = probe.facts.duration;
            p.mediaSubtypes = a.value("subtypes", 0u);
            if (a.contains("created") && a["created"].is_number()) {
                p.creationDate = a["created"].get<double>();
            }
            if (a.contains("modified") && a["modified"].is_number()) {
                p.modificationDate = a["modified"].get<double>();
            }
            if (a.contains("location") && a["location"].is_array() && a["location"].size() == 2) {
                p.location =
                        Location{a["location"][0].get<double>(), a["location"][1].get<double>()};
            }
            p.isFavorite = a.value("favorite", false);
            if (a.contains("paired") && a["paired"].is_string()) {
                p.pairedVideo = resolve(a["paired"].get<std::string>());
            }
            p.inCloud = a.value("cloud", false);
            p.revision = a.value("revision", int64_t{0});
            next->assets.push_back(std::make_shared<Asset>(std::move(p)));
        }
        for (const Json& al : j.value("albums", Json::array())) {
            AssetCollection::Properties p;
            p.localIdentifier = al.value("id", std::string());
            p.localizedTitle = al.value("title", std::string());
            p.type = AssetCollectionType::Album;
            p.subtype = AssetCollectionSubtype::AlbumRegular;
            p.members = al.value("assets", std::vector<std::string>());
            next->albums.push_back(std::make_shared<AssetCollection>(std::move(p)));
        }
    }
    MutexLock lock(mutex_);
    folder_ = folder;
    state_ = next;
    // Identifiers the library makes must not meet those the manifest holds.
    nextIdentifier_ = static_cast<int64_t>(next->assets.size() + next->albums.size()) + 1;
    auto taken = [&](const std::string& id) {
        for (const auto& a : next->assets) {
            if (a->localIdentifier() == id) {
                return true;
            }
        }
        for (const auto& a : next->albums) {
            if (a->localIdentifier() == id) {
                return true;
            }
        }
        return false;
    };
    while (taken(identifierFor(nextIdentifier_))
           || taken("album-" + std::to_string(nextIdentifier_))) {
        ++nextIdentifier_;
    }
    return std::nullopt;
}

std::string PhotoLibrary::newIdentifierLocked() {
    return identifierFor(nextIdentifier_++);
}

std::string PhotoLibrary::reserveIdentifier() {
    MutexLock lock(mutex_);
    return newIdentifierLocked();
}

void PhotoLibrary::setAuthorizationStatus(AuthorizationStatus status) {
    MutexLock lock(mutex_);
    status_ = status;
}

void PhotoLibrary::setAuthorizationAnswer(AuthorizationStatus answer) {
    MutexLock lock(mutex_);
    answer_ = answer;
}

int PhotoLibrary::authorizationRequestCount() const {
    MutexLock lock(mutex_);
    return requests_;
}

void PhotoLibrary::setIncrementalChanges(bool incremental) {
    MutexLock lock(mutex_);
    incremental_ = incremental;
}

std::shared_ptr<const LibraryState> PhotoLibrary::state() const {
    MutexLock lock(mutex_);
    return state_;
}

AssetPtr PhotoLibrary::asset(const std::string& localIdentifier) const {
    const auto s = state();
    for (const auto& a : s->assets) {
        if (a->localIdentifier() == localIdentifier) {
            return a;
        }
    }
    return nullptr;
}

void PhotoLibrary::registerChangeObserver(
        const std::shared_ptr<PhotoLibraryChangeObserver>& observer) {
    MutexLock lock(mutex_);
    observers_.push_back(observer);
}

void PhotoLibrary::unregisterChangeObserver(const PhotoLibraryChangeObserver* observer) {
    MutexLock lock(mutex_);
    std::erase_if(observers_, [&](const auto& weak) {
        auto strong = weak.lock();
        return !strong || strong.get() == observer;
    });
}

void PhotoLibrary::saveManifest(const LibraryState& state, const std::filesystem::path& folder) {
    Json j;
    j["assets"] = Json::array();
    for (const auto& a : state.assets) {
        j["assets"].push_back(assetToJson(*a, folder));
    }
    j["albums"] = Json::array();
    for (const auto& al : state.albums) {
        j["albums"].push_back({{"id", al->localIdentifier()},
                               {"title", al->localizedTitle().value_or("")},
                               {"assets", al->members()}});
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const auto temporary = folder / (std::string(kManifestName) + ".new");
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << j.dump(1);
        if (!out) {
            return;
        }
    }
    std::filesystem::rename(temporary, folder / kManifestName, ec);
}

// Publishes `next` (already the library's state) to the observers, in order, on the change queue.
void PhotoLibrary::commit(std::shared_ptr<const LibraryState> next) {
    std::vector<std::shared_ptr<PhotoLibraryChangeObserver>> observers;
    bool incremental;
    std::filesystem::path folder;
    {
        MutexLock lock(mutex_);
        for (const auto& weak : observers_) {
            if (auto strong = weak.lock()) {
                observers.push_back(std::move(strong));
            }
        }
        incremental = incremental_;
        folder = folderLocked();
    }
    saveManifest(*next, folder);
    PhotoLibraryChange change(next, incremental);
    std::vector<std::weak_ptr<PhotoLibraryChangeObserver>> weakObservers(observers.begin(),
                                                                         observers.end());
    observers.clear();
    auto notify = [weakObservers = std::move(weakObservers), change] {
        for (const auto& weak : weakObservers) {
            if (auto observer = weak.lock()) {
                observer->photoLibraryDidChange(change);
            }
        }
    };
    if (dispatch::Queue::current() == changeQueue_) {
        notify();
    } else {
        changeQueue_->async(std::move(notify));
    }
}

PhotoLibrary::AddResult PhotoLibrary::addAsset(const NewAsset& request) {
    const auto probe = internal::probeMedia(request.file);
    if (probe.error) {
        return {"", probe.error};
    }
    std::shared_ptr<const LibraryState> next;
    std::string id;
    {
        MutexLock lock(mutex_);
        id = newIdentifierLocked();
        Asset::Properties p;
        p.localIdentifier = id;
        p.file = request.file;
        if (request.copyIntoLibrary) {
            const auto folder = folderLocked();
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            p.file = folder / (id + request.file.extension().string());
            if (!std::filesystem::copy_file(request.file, p.file,
                                            std::filesystem::copy_options::overwrite_existing,
                                            ec)) {
                return {"",
                        photosError(kPhotosErrorFileWrite,
                                    "cannot copy " + request.file.string() + ": " + ec.message())};
            }
        }
        p.mediaType = request.mediaType == AssetMediaType::Unknown ? probe.facts.mediaType
                                                                   : request.mediaType;
        p.mediaSubtypes = request.mediaSubtypes;
        p.pixelWidth = probe.facts.pixelWidth;
        p.pixelHeight = probe.facts.pixelHeight;
        p.duration = probe.facts.duration;
        p.creationDate = request.creationDate;
        p.location = request.location;
        p.isFavorite = request.isFavorite;
        p.pairedVideo = request.pairedVideo;
        p.inCloud = request.inCloud;
        auto s = std::make_shared<LibraryState>(*state_);
        s->assets.push_back(std::make_shared<Asset>(std::move(p)));
        state_ = s;
        next = s;
    }
    commit(next);
    return {id, std::nullopt};
}

bool PhotoLibrary::mutate(const std::function<bool(LibraryState&)>& edit) {
    std::shared_ptr<const LibraryState> next;
    {
        MutexLock lock(mutex_);
        auto s = std::make_shared<LibraryState>(*state_);
        if (!edit(*s)) {
            return false;
        }
        state_ = s;
        next = s;
    }
    commit(next);
    return true;
}

bool PhotoLibrary::removeAsset(const std::string& localIdentifier) {
    return mutate([&](LibraryState& s) {
        return std::erase_if(
                       s.assets,
                       [&](const AssetPtr& a) { return a->localIdentifier() == localIdentifier; })
               > 0;
    });
}

bool PhotoLibrary::updateAsset(const std::string& localIdentifier,
                               const std::function<void(Asset::Properties&)>& edit) {
    const auto current = asset(localIdentifier);
    if (!current) {
        return false;
    }
    // The edit runs without the lock: it is the caller's code.
    Asset::Properties edited = current->properties();
    edit(edited);
    edited.localIdentifier = current->localIdentifier();
    edited.file = current->file();
    edited.revision = current->revision() + 1;
    return mutate([&](LibraryState& s) {
        for (auto& a : s.assets) {
            if (a->localIdentifier() == localIdentifier) {
                a = std::make_shared<Asset>(edited);
                return true;
            }
        }
        return false;
    });
}

std::string PhotoLibrary::addAlbum(std::string title, std::vector<std::string> members) {
    std::string id;
    {
        MutexLock lock(mutex_);
        id = "album-" + std::to_string(nextIdentifier_++);
    }
    mutate([&](LibraryState& s) {
        s.albums.push_back(std::make_shared<AssetCollection>(AssetCollection::Properties{
                id, std::move(title), AssetCollectionType::Album,
                AssetCollectionSubtype::AlbumRegular, std::move(members)}));
        return true;
    });
    return id;
}

bool PhotoLibrary::setAlbumMembers(const std::string& albumIdentifier,
                                   std::vector<std::string> members) {
    return mutate([&](LibraryState& s) {
        for (auto& album : s.albums) {
            if (album->localIdentifier() == albumIdentifier) {
                album = std::make_shared<AssetCollection>(AssetCollection::Properties{
                        album->localIdentifier(), album->localizedTitle(),
                        album->assetCollectionType(), album->assetCollectionSubtype(),
                        std::move(members)});
                return true;
            }
        }
        return false;
    });
}

std::optional<Error> PhotoLibrary::applyLocked(PendingChanges& changes) {
    auto s = std::make_shared<LibraryState>(*state_);
    const auto folder = folderLocked();
    std::vector<std::filesystem::path> copied;
    auto undoCopies = [&] {
        std::error_code ec;
        for (const auto& file : copied) {
            std::filesystem::remove(file, ec);
        }
    };
    for (const auto& request : changes.requests) {
        if (request->create_) {
            const auto probe = internal::probeMedia(*request->file_);
            if (probe.error || probe.facts.mediaType != request->kind_) {
                undoCopies();
                return probe.error ? *probe.error
                                   : photosError(kPhotosErrorInvalidResource,
                                                 std::string("not a ")
                                                         + (request->kind_ == AssetMediaType::Video
                                                                    ? "movie"
                                                                    : "picture")
                                                         + ": " + request->file_->string());
            }
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            Asset::Properties p;
            p.localIdentifier = request->localIdentifier_;
            p.file = folder / (p.localIdentifier + request->file_->extension().string());
            if (!std::filesystem::copy_file(*request->file_, p.file,
                                            std::filesystem::copy_options::overwrite_existing,
                                            ec)) {
                undoCopies();
                return photosError(kPhotosErrorFileWrite,
                                   "cannot copy " + request->file_->string() + ": " + ec.message());
            }
            copied.push_back(p.file);
            p.mediaType = probe.facts.mediaType;
            p.pixelWidth = probe.facts.pixelWidth;
            p.pixelHeight = probe.facts.pixelHeight;
            p.duration = probe.facts.duration;
            p.creationDate = request->creationDate_.value_or(nowSince1970());
            p.modificationDate = p.creationDate;
            p.location = request->location_.value_or(std::nullopt);
            p.isFavorite = request->favorite_.value_or(false);
            s->assets.push_back(std::make_shared<Asset>(std::move(p)));
            continue;
        }
        bool found = false;
        for (auto& a : s->assets) {
            if (a->localIdentifier() != request->localIdentifier_) {
                continue;
            }
            Asset::Properties p = a->properties();
            if (request->creationDate_) {
                p.creationDate = *request->creationDate_;
            }
            if (request->location_) {
                p.location = *request->location_;
            }
            if (request->favorite_) {
                p.isFavorite = *request->favorite_;
            }
            p.modificationDate = nowSince1970();
            ++p.revision;
            a = std::make_shared<Asset>(std::move(p));
            found = true;
        }
        if (!found) {
            undoCopies();
            return photosError(kPhotosErrorChangeNotSupported,
                               "no asset " + request->localIdentifier_);
        }
    }
    for (const auto& id : changes.deletions) {
        if (std::erase_if(s->assets, [&](const AssetPtr& a) { return a->localIdentifier() == id; })
            == 0) {
            undoCopies();
            return photosError(kPhotosErrorChangeNotSupported, "no asset " + id);
        }
    }
    state_ = s;
    return std::nullopt;
}

void PhotoLibrary::performChanges(
        std::function<void()> changes,
        std::function<void(bool success, std::optional<Error> error)> completion) {
    changeQueue_->async([this, changes = std::move(changes), completion = std::move(completion)] {
        auto finish = [&](std::optional<Error> error) {
            if (completion) {
                completion(!error.has_value(), std::move(error));
            }
        };
        {
            MutexLock lock(mutex_);
            // A first change asks the user, as the device does on a first save.
            if (status_ == AuthorizationStatus::NotDetermined) {
                ++requests_;
                status_ = answer_;
            }
            if (!hasAccess(status_)) {
                lock.unlock();
                finish(photosError(kPhotosErrorNotAuthorized,
                                   "access to the photo library is not granted"));
                return;
            }
        }
        PendingChanges pending;
        tCurrentChanges = &pending;
        try {
            if (changes) {
                changes();
            }
        } catch (...) {
            tCurrentChanges = nullptr;
            throw;
        }
        tCurrentChanges = nullptr;
        std::shared_ptr<const LibraryState> next;
        std::optional<Error> error;
        {
            MutexLock lock(mutex_);
            error = applyLocked(pending);
            next = state_;
        }
        if (!error && (!pending.requests.empty() || !pending.deletions.empty())) {
            commit(next);
        }
        finish(std::move(error));
    });
}

std::optional<Error> PhotoLibrary::performChangesAndWait(std::function<void()> changes) {
    std::promise<std::optional<Error>> outcome;
    auto future = outcome.get_future();
    performChanges(std::move(changes), [&outcome](bool, std::optional<Error> error) {
        outcome.set_value(std::move(error));
    });
    return future.get();
}

std::optional<FetchResultChangeDetails> PhotoLibraryChange::changeDetails(
        const FetchResult<Asset>& fetchResult) const {
    if (!fetchResult.hasQuery()) {
        return std::nullopt;
    }
    return FetchResultChangeDetails::between(fetchResult, fetchResult.refetch(*after_),
                                             incremental_);
}

}  // namespace pelmar::photos
