#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/photos/Asset.h"
#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/FetchResultChangeDetails.h"
#include "pelmar/platform/photos/PhotosTypes.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {
class Queue;
}

namespace pelmar::photos {

// One state of the library: every asset in the order added, and the user albums.
struct LibraryState {
    std::vector<AssetPtr> assets;
    std::vector<AssetCollectionPtr> albums;
};

// PhotoLibraryChange: one change of the library, handed to change observers. It answers, for a
// fetch result an observer holds, how the same query answers after the change.
// Ownership: value type sharing the two immutable library states.
// Threads: thread-safe (immutable).
// Errors: none.
class PhotoLibraryChange {
public:
    PhotoLibraryChange(std::shared_ptr<const LibraryState> after, bool incremental)
        : after_(std::move(after)), incremental_(incremental) {}

    // None when the change leaves `fetchResult`'s answer as it was, or `fetchResult` came from no
    // query. Compare against the result held now (not one taken earlier) so that the indexes fit
    // what is shown.
    std::optional<FetchResultChangeDetails> changeDetails(
            const FetchResult<Asset>& fetchResult) const;

private:
    std::shared_ptr<const LibraryState> after_;
    bool incremental_;
};

// PhotoLibraryChangeObserver: told of every change of the library, on the library's change
// queue (a serial background queue), never on the main thread.
class PhotoLibraryChangeObserver {
public:
    virtual ~PhotoLibraryChangeObserver() = default;

    virtual void photoLibraryDidChange(const PhotoLibraryChange& change) = 0;
};

// PhotoLibrary: the device's photo library, kept as real media files in a folder with a manifest
// ("Library.json": per asset the file, kind, dates, place, favourite flag, live-photo movie; the
// user albums). Pixel sizes and durations are read from the files. Access follows the user's
// answer to an authorisation request; changes go through performChanges() or, for tests and the
// host's fixtures, the editing functions below, and every change reaches the change observers
// with details computed by comparing the states before and after.
// Ownership: one process-wide instance (shared()), never destroyed. Observers are held weakly.
// Threads: thread-safe (one internal mutex, never held while calling out). Authorisation answers,
// change blocks, their completions and change notices run on background queues.
// Errors: Error in kPhotosErrorDomain (PhotosErrorCode) through completions and AddResult.
// Limits: a manifest larger than kMaxManifestBytes is refused (the library opens empty).
class PhotoLibrary {
public:
    static constexpr std::size_t kMaxManifestBytes = 16 * 1024 * 1024;
    static constexpr const char* kManifestName = "Library.json";

    static PhotoLibrary& shared();

    PhotoLibrary(const PhotoLibrary&) = delete;
    PhotoLibrary& operator=(const PhotoLibrary&) = delete;

    static AuthorizationStatus authorizationStatus();

    // While the status is NotDetermined the user is asked (the answer set with
    // setAuthorizationAnswer()) and the answer becomes the status; otherwise the current status
    // is the answer. `handler` runs on a background queue, never inline, every time.
    static void requestAuthorization(std::function<void(AuthorizationStatus)> handler);

    // Runs `changes` on the library's serial change queue; inside it the AssetChangeRequest
    // functions queue creations, edits and deletions, which are then applied all together or,
    // when one of them cannot be (a missing or unreadable file, an unknown asset), not at all.
    // `completion` runs on that queue with true and no error, or false and the error; observers
    // hear of an applied change before the completion runs. While the status is NotDetermined
    // the user is asked first, as requestAuthorization() does, and the answer becomes the
    // status. Without access (Authorized or Limited) nothing runs but the completion, with
    // kPhotosErrorNotAuthorized.
    void performChanges(std::function<void()> changes,
                        std::function<void(bool success, std::optional<Error> error)> completion);

    // performChanges() that waits for the outcome; must not be called on the change queue.
    std::optional<Error> performChangesAndWait(std::function<void()> changes);

    void registerChangeObserver(const std::shared_ptr<PhotoLibraryChangeObserver>& observer);
    void unregisterChangeObserver(const PhotoLibraryChangeObserver* observer);

    // --- The stand-in's own controls (host app fixtures and tests) ---

    // An empty library in `folder` (none: "<sandbox root>/PhotoLibrary" at first use), status
    // NotDetermined with the answer Authorized, incremental change details, no observers.
    void reset(std::optional<std::filesystem::path> folder = std::nullopt);

    // Opens the library kept in `folder` (reading its manifest when there is one; files the
    // manifest names relative to the folder). Observers stay; they hear of no change.
    std::optional<Error> open(const std::filesystem::path& folder);

    std::filesystem::path folder() const;

    void setAuthorizationStatus(AuthorizationStatus status);
    void setAuthorizationAnswer(AuthorizationStatus answer);
    int authorizationRequestCount() const;

    // With false, change details report only the results after the change (no index sets).
    void setIncrementalChanges(bool incremental);

    struct NewAsset {
        std::filesystem::path file;
        // Unknown: found from the file (a picture the image decoders read, or a movie).
        AssetMediaType mediaType = AssetMediaType::Unknown;
        uint32_t mediaSubtypes = kAssetMediaSubtypeNone;
        std::optional<double> creationDate = std::nullopt;
        std::optional<Location> location = std::nullopt;
        bool isFavorite = false;
        std::optional<std::filesystem::path> pairedVideo = std::nullopt;
        // Copy the file into the library folder (otherwise the asset refers to it in place).
        bool copyIntoLibrary = false;
        // Held only by the cloud library (Asset::Properties::inCloud).
        bool inCloud = false;
    };

    struct AddResult {
        std::string localIdentifier;  // empty on failure
        std::optional<Error> error;
    };

    // Adds one asset; pixel size and duration come from the file.
    AddResult addAsset(const NewAsset& asset);
    bool removeAsset(const std::string& localIdentifier);
    // Edits an asset's properties (its identifier, file and revision stay; the revision grows).
    bool updateAsset(const std::string& localIdentifier,
                     const std::function<void(Asset::Properties&)>& edit);
    // A user album with these members; returns its identifier.
    std::string addAlbum(std::string title, std::vector<std::string> members);
    bool setAlbumMembers(const std::string& albumIdentifier, std::vector<std::string> members);

    std::shared_ptr<const LibraryState> state() const;
    AssetPtr asset(const std::string& localIdentifier) const;

    // For AssetChangeRequest: the change set of the block running on this thread, or null.
    struct PendingChanges;
    static PendingChanges* currentChanges();

private:
    friend class AssetChangeRequest;

    PhotoLibrary();

    std::string reserveIdentifier();
    std::optional<Error> applyLocked(PendingChanges& changes) PELMAR_REQUIRES(mutex_);
    void commit(std::shared_ptr<const LibraryState> next);
    // Edits a copy of the state; when `edit` answers true the copy becomes the state and the
    // observers hear of it.
    bool mutate(const std::function<bool(LibraryState&)>& edit);
    void saveManifest(const LibraryState& state, const std::filesystem::path& folder);
    std::filesystem::path folderLocked() const PELMAR_REQUIRES(mutex_);
    std::string newIdentifierLocked() PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    std::shared_ptr<const LibraryState> state_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::filesystem::path> folder_ PELMAR_GUARDED_BY(mutex_);
    AuthorizationStatus status_ PELMAR_GUARDED_BY(mutex_) = AuthorizationStatus::NotDetermined;
    AuthorizationStatus answer_ PELMAR_GUARDED_BY(mutex_) = AuthorizationStatus::Authorized;
    int requests_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool incremental_ PELMAR_GUARDED_BY(mutex_) = true;
    int64_t nextIdentifier_ PELMAR_GUARDED_BY(mutex_) = 1;
    std::vector<std::weak_ptr<PhotoLibraryChangeObserver>> observers_ PELMAR_GUARDED_BY(mutex_);
    // Orders change notices; also runs change blocks.
    std::shared_ptr<dispatch::Queue> changeQueue_;
};

}  // namespace pelmar::photos
