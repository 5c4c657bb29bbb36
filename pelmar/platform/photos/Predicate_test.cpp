#include "pelmar/platform/photos/Predicate.h"

#include <gtest/gtest.h>

#include "pelmar/platform/photos/Asset.h"

namespace pelmar::photos {
namespace {

Asset makeAsset(AssetMediaType type, double duration) {
    Asset::Properties p;
    p.localIdentifier = "a";
    p.mediaType = type;
    p.duration = duration;
    return Asset(p);
}

TEST(PredicateTest, EvaluatesTheFetchFormsWithAndBindingTighterThanOr) {
    const Asset photo = makeAsset(AssetMediaType::Image, 0);
    const Asset shortClip = makeAsset(AssetMediaType::Video, 12);
    const Asset longClip = makeAsset(AssetMediaType::Video, 45);

    struct Case {
        const char* name;
        Predicate predicate;
        bool photo, shortClip, longClip;
    };

    const Case cases[] = {
            {"InImages", {"mediaType IN %@", {std::vector<int64_t>{1}}}, true, false, false},
            {"InBoth", {"mediaType IN %@", {std::vector<int64_t>{1, 2}}}, true, true, true},
            {"InNothing", {"mediaType IN %@", {std::vector<int64_t>{}}}, false, false, false},
            {"VideosUpTo30",
             {"mediaType = %d AND duration <= %f", {int64_t{2}, 30.0}},
             false,
             true,
             false},
            {"ImagesOrShortVideos",
             {"mediaType = %d OR mediaType = %d AND duration <= %f",
              {int64_t{1}, int64_t{2}, 30.0}},
             true,
             true,
             false},
            {"ParenthesesChangeTheBinding",
             {"(mediaType = %d OR mediaType = %d) AND duration <= %f",
              {int64_t{1}, int64_t{2}, 10.0}},
             true,
             false,
             false},
            {"LiteralsAndSymbols", {"mediaType == 2 && !(duration > 40)", {}}, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.predicate.evaluate(photo), c.photo);
        EXPECT_EQ(c.predicate.evaluate(shortClip), c.shortClip);
        EXPECT_EQ(c.predicate.evaluate(longClip), c.longClip);
    }
}

TEST(PredicateTest, RefusesFormatsItCannotEvaluate) {
    struct Case {
        const char* name;
        const char* format;
        std::vector<Predicate::Argument> arguments;
    };

    const Case cases[] = {
            {"UnknownKey", "title = %d", {int64_t{1}}},
            {"MissingArgument", "mediaType = %d AND duration <= %f", {int64_t{1}}},
            {"SurplusArgument", "mediaType = %d", {int64_t{1}, int64_t{2}}},
            {"InWithoutList", "mediaType IN %@", {int64_t{1}}},
            {"ListForNumber", "mediaType = %d", {std::vector<int64_t>{1}}},
            {"Unclosed", "(mediaType = 1", {}},
            {"DanglingOperator", "mediaType = 1 AND", {}},
            {"StrayCharacter", "mediaType = 1 ; duration = 2", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(Predicate(c.format, c.arguments), std::invalid_argument);
    }
}

TEST(PredicateTest, DescriptionPutsTheArgumentsIn) {
    EXPECT_EQ(Predicate("mediaType IN %@", {std::vector<int64_t>{1, 2}}).description(),
              "mediaType IN {1, 2}");
    EXPECT_EQ(Predicate("mediaType = %d AND duration <= %f", {int64_t{2}, 30.0}).description(),
              "mediaType = 2 AND duration <= 30");
}

}  // namespace
}  // namespace pelmar::photos
