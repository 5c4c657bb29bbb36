#include "pelmar/platform/photos/PhotoLibrary.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "pelmar/platform/photos/AssetChangeRequest.h"
#include "pelmar/platform/photos/FetchOptions.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "testing/Matchers.h"
#include "testing/TempDir.h"

namespace pelmar::photos {
namespace {

using pelmar::test::IsError;

class PhotoLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { library().reset(dir_.path() / "library"); }

    void TearDown() override { library().reset(); }

    static PhotoLibrary& library() { return PhotoLibrary::shared(); }

    static void grant() { library().setAuthorizationStatus(AuthorizationStatus::Authorized); }

    pelmar::test::TempDir dir_;
};

struct Answered {
    AuthorizationStatus status;
    std::thread::id thread;
};

Answered requestAndWait() {
    std::promise<Answered> answered;
    PhotoLibrary::requestAuthorization([&](AuthorizationStatus status) {
        answered.set_value({status, std::this_thread::get_id()});
    });
    return answered.get_future().get();
}

TEST_F(PhotoLibraryTest, AuthorizationRequestAsksOnlyWhileUndeterminedAndAnswersOffTheCaller) {
    struct Case {
        const char* name;
        AuthorizationStatus before;
        AuthorizationStatus userAnswer;
        AuthorizationStatus expected;
    };

    const Case cases[] = {
            {"UserGrants", AuthorizationStatus::NotDetermined, AuthorizationStatus::Authorized,
             AuthorizationStatus::Authorized},
            {"UserRefuses", AuthorizationStatus::NotDetermined, AuthorizationStatus::Denied,
             AuthorizationStatus::Denied},
            {"UserLimits", AuthorizationStatus::NotDetermined, AuthorizationStatus::Limited,
             AuthorizationStatus::Limited},
            {"DeniedEarlierStaysDenied", AuthorizationStatus::Denied,
             AuthorizationStatus::Authorized, AuthorizationStatus::Denied},
            {"Restricted", AuthorizationStatus::Restricted, AuthorizationStatus::Authorized,
             AuthorizationStatus::Restricted},
            {"GrantedEarlier", AuthorizationStatus::Authorized, AuthorizationStatus::Denied,
             AuthorizationStatus::Authorized},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library().reset(dir_.path() / "library");
        library().setAuthorizationStatus(c.before);
        library().setAuthorizationAnswer(c.userAnswer);
        const auto first = requestAndWait();
        EXPECT_EQ(first.status, c.expected);
        EXPECT_NE(first.thread, std::this_thread::get_id());
        EXPECT_EQ(PhotoLibrary::authorizationStatus(), c.expected);
        // Asking again never asks the user again.
        library().setAuthorizationAnswer(AuthorizationStatus::Restricted);
        EXPECT_EQ(requestAndWait().status, c.expected);
        EXPECT_EQ(library().authorizationRequestCount(), 2);
    }
}

TEST_F(PhotoLibraryTest, SavesAPictureAndReportsItToObserversBeforeTheCompletion) {
    grant();

    struct Observer : PhotoLibraryChangeObserver {
        void photoLibraryDidChange(const PhotoLibraryChange& change) override {
            details = change.changeDetails(before);
            seen = true;
        }

        FetchResult<Asset> before = Asset::fetchAssets();
        std::optional<FetchResultChangeDetails> details;
        bool seen = false;
    };

    auto observer = std::make_shared<Observer>();
    library().registerChangeObserver(observer);
    const auto picture = test::writeJpeg(dir_.path(), "shot.jpg", 64, 48);

    std::string placeholder;
    std::promise<std::pair<bool, std::optional<Error>>> done;
    library().performChanges(
            [&] {
                placeholder = AssetChangeRequest::creationRequestForAssetFromImage(picture)
                                      ->placeholderForCreatedAsset();
            },
            [&](bool success, std::optional<Error> error) {
                EXPECT_TRUE(observer->seen);
                done.set_value({success, error});
            });
    const auto [success, error] = done.get_future().get();
    ASSERT_TRUE(success);
    EXPECT_FALSE(error);

    const auto saved = library().asset(placeholder);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->mediaType(), AssetMediaType::Image);
    EXPECT_EQ(saved->pixelWidth(), 64);
    EXPECT_EQ(saved->pixelHeight(), 48);
    EXPECT_TRUE(saved->creationDate());
    // The library keeps its own copy: the original may go.
    std::filesystem::remove(picture);
    EXPECT_TRUE(std::filesystem::exists(saved->file()));
    ASSERT_TRUE(observer->details);
    EXPECT_EQ(observer->details->insertedIndexes(), std::vector<std::size_t>{0});
    // The manifest lets the library open again with the same asset.
    library().reset();
    ASSERT_FALSE(library().open(dir_.path() / "library"));
    grant();
    ASSERT_TRUE(library().asset(placeholder));
    EXPECT_EQ(library().asset(placeholder)->pixelWidth(), 64);
}

TEST_F(PhotoLibraryTest, AFailedChangeAppliesNothingAndSaysWhy) {
    grant();
    const auto picture = test::writePng(dir_.path(), "fine.png", 16, 16);
    const auto notAMovie = test::writeJpeg(dir_.path(), "still.jpg", 16, 16);

    struct Case {
        const char* name;
        std::function<void()> changes;
        long code;
    };

    const Case cases[] = {
            {"MissingFile",
             [&] {
                 AssetChangeRequest::creationRequestForAssetFromImage(picture);
                 AssetChangeRequest::creationRequestForAssetFromVideo(dir_.path() / "gone.mp4");
             },
             kPhotosErrorInvalidResource},
            {"PictureAnnouncedAsMovie",
             [&] { AssetChangeRequest::creationRequestForAssetFromVideo(notAMovie); },
             kPhotosErrorInvalidResource},
            {"DeletingAnUnknownAsset", [] { AssetChangeRequest::deleteAssets({"asset-999"}); },
             kPhotosErrorChangeNotSupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THAT(library().performChangesAndWait(c.changes),
                    ::testing::Optional(IsError(kPhotosErrorDomain, c.code)));
        EXPECT_EQ(library().state()->assets.size(), 0u);
    }
    EXPECT_THAT(library().performChangesAndWait(nullptr), ::testing::Eq(std::nullopt));
}

TEST_F(PhotoLibraryTest, WithoutAccessChangesFailAndFetchesFindNothing) {
    const auto picture = test::writeJpeg(dir_.path(), "a.jpg", 8, 8);
    ASSERT_FALSE(library().addAsset({.file = picture}).error);
    library().setAuthorizationStatus(AuthorizationStatus::Denied);
    bool ran = false;
    EXPECT_THAT(library().performChangesAndWait([&] { ran = true; }),
                ::testing::Optional(IsError(kPhotosErrorDomain, kPhotosErrorNotAuthorized)));
    EXPECT_FALSE(ran);
    EXPECT_EQ(Asset::fetchAssets().count(), 0u);
    grant();
    EXPECT_EQ(Asset::fetchAssets().count(), 1u);
}

// The user has not been asked yet: the first change asks, as the device does on a first save,
// and the answer decides it and every later change; nobody is asked twice.
TEST_F(PhotoLibraryTest, AFirstChangeAsksTheUserAndTheAnswerDecidesIt) {
    const auto picture = test::writeJpeg(dir_.path(), "a.jpg", 8, 8);

    struct Case {
        const char* name;
        AuthorizationStatus answer;
        bool saved;
    } cases[] = {
            {"granted", AuthorizationStatus::Authorized, true},
            {"limited", AuthorizationStatus::Limited, true},
            {"refused", AuthorizationStatus::Denied, false},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library().reset(dir_.path() / "library");
        library().setAuthorizationAnswer(c.answer);
        ASSERT_EQ(PhotoLibrary::authorizationStatus(), AuthorizationStatus::NotDetermined);
        const auto save = [&] {
            return library().performChangesAndWait(
                    [&] { AssetChangeRequest::creationRequestForAssetFromImage(picture); });
        };
        const auto first = save();
        EXPECT_EQ(library().authorizationRequestCount(), 1);
        EXPECT_EQ(PhotoLibrary::authorizationStatus(), c.answer);
        library().setAuthorizationAnswer(AuthorizationStatus::Restricted);
        const auto second = save();
        EXPECT_EQ(library().authorizationRequestCount(), 1);
        if (c.saved) {
            EXPECT_EQ(first, std::nullopt);
            EXPECT_EQ(second, std::nullopt);
            EXPECT_EQ(library().state()->assets.size(), 2u);
        } else {
            EXPECT_THAT(first, ::testing::Optional(
                                       IsError(kPhotosErrorDomain, kPhotosErrorNotAuthorized)));
            EXPECT_THAT(second, ::testing::Optional(
                                        IsError(kPhotosErrorDomain, kPhotosErrorNotAuthorized)));
            EXPECT_TRUE(library().state()->assets.empty());
        }
    }
}

TEST_F(PhotoLibraryTest, ChangeRequestsOutsideAChangeBlockThrow) {
    EXPECT_THROW(AssetChangeRequest::creationRequestForAssetFromVideo("x.mp4"), std::logic_error);
    EXPECT_THROW(AssetChangeRequest::deleteAssets({}), std::logic_error);
}

TEST_F(PhotoLibraryTest, FetchesFilterSortAndLimitByAlbum) {
    grant();
    auto add = [&](const char* name, double created, bool favorite) {
        const auto file = test::writeJpeg(dir_.path(), name, 8, 8);
        return library()
                .addAsset({.file = file, .creationDate = created, .isFavorite = favorite})
                .localIdentifier;
    };
    const auto a = add("a.jpg", 10, false);
    const auto b = add("b.jpg", 30, true);
    const auto c = add("c.jpg", 20, true);
    const auto album = library().addAlbum("Trip", {c, a});

    FetchOptions newestFirst;
    newestFirst.sortDescriptors = {{"creationDate", false}};
    auto ids = [](const FetchResult<Asset>& result) {
        std::vector<std::string> out;
        for (const auto& asset : result) {
            out.push_back(asset->localIdentifier());
        }
        return out;
    };
    EXPECT_EQ(ids(Asset::fetchAssets(&newestFirst)), (std::vector{b, c, a}));
    newestFirst.fetchLimit = 1;
    EXPECT_EQ(ids(Asset::fetchAssets(&newestFirst)), (std::vector{b}));

    const auto smart = AssetCollection::fetchAssetCollections(
            AssetCollectionType::SmartAlbum, AssetCollectionSubtype::SmartAlbumFavorites);
    ASSERT_EQ(smart.count(), 1u);
    EXPECT_EQ(ids(Asset::fetchAssets(*smart.objectAt(0))), (std::vector{b, c}));
    const auto albums = AssetCollection::fetchAssetCollections(AssetCollectionType::Album,
                                                               AssetCollectionSubtype::Any);
    ASSERT_EQ(albums.count(), 1u);
    EXPECT_EQ(albums.objectAt(0)->localIdentifier(), album);
    EXPECT_EQ(albums.objectAt(0)->localizedTitle(), "Trip");
    EXPECT_EQ(ids(Asset::fetchAssets(*albums.objectAt(0))), (std::vector{c, a}));
}

TEST_F(PhotoLibraryTest, ObserversHearEditsAndRemovalsAsDetailsOfTheirFetch) {
    grant();
    std::vector<std::string> ids;
    for (int i = 0; i < 4; ++i) {
        const auto file = test::writeJpeg(dir_.path(), "p" + std::to_string(i) + ".jpg", 8, 8);
        ids.push_back(
                library().addAsset({.file = file, .creationDate = double(i)}).localIdentifier);
    }
    FetchOptions byDate;
    byDate.sortDescriptors = {{"creationDate", true}};
    const auto before = Asset::fetchAssets(&byDate);

    struct Collect : PhotoLibraryChangeObserver {
        void photoLibraryDidChange(const PhotoLibraryChange& change) override {
            changes.push_back(change);
            if (changes.size() == 2) {
                done.set_value();
            }
        }

        std::vector<PhotoLibraryChange> changes;
        std::promise<void> done;
    };

    auto observer = std::make_shared<Collect>();
    library().registerChangeObserver(observer);
    ASSERT_TRUE(library().removeAsset(ids[1]));
    // Moving the oldest to the end and editing another.
    ASSERT_TRUE(library().updateAsset(ids[0], [](Asset::Properties& p) { p.creationDate = 99; }));
    observer->done.get_future().get();
    library().unregisterChangeObserver(observer.get());

    const auto details = observer->changes.back().changeDetails(before);
    ASSERT_TRUE(details);
    EXPECT_TRUE(details->hasIncrementalChanges());
    EXPECT_EQ(details->removedIndexes(), std::vector<std::size_t>{1});
    EXPECT_TRUE(details->insertedIndexes().empty());
    EXPECT_EQ(details->changedIndexes(), std::vector<std::size_t>{2});
    std::vector<std::pair<std::size_t, std::size_t>> moves;
    details->enumerateMoves(
            [&](std::size_t from, std::size_t to) { moves.emplace_back(from, to); });
    EXPECT_EQ(moves, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}}));
    EXPECT_EQ(details->fetchResultAfterChanges().count(), 3u);
}

}  // namespace
}  // namespace pelmar::photos
