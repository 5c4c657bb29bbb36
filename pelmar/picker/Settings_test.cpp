#include "pelmar/picker/Settings.h"

#include <gtest/gtest.h>

#include <limits>

namespace pelmar {
namespace {

using MediaTypes = Settings::Fetch::Assets::MediaTypes;
using Arguments = std::vector<photos::Predicate::Argument>;

TEST(SettingsTest, AFreshSettingsReadsItsDefaults) {
    Settings s;
    EXPECT_EQ(s.selection()->max(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(s.selection()->min(), 1);
    EXPECT_FALSE(s.selection()->unselectOnReachingMax());
    EXPECT_EQ(s.theme()->selectionStyle(), Settings::SelectionStyle::Checked);
    EXPECT_EQ(s.theme()->selectionStrokeColor(), ui::Color::white());
    EXPECT_EQ(s.theme()->dropDownBackgroundColor(), ui::Color::clear());
    EXPECT_EQ(s.theme()->previewTitleAttributes().font.size, 16);
    EXPECT_EQ(s.theme()->previewSubtitleAttributes().font.size, 12);
    EXPECT_EQ(s.theme()->albumTitleAttributes().font.size, 18);
    EXPECT_EQ(s.list()->spacing(), 2.0);
    EXPECT_TRUE(s.preview()->enabled());
    EXPECT_TRUE(s.dismiss()->enabled());
    EXPECT_FALSE(s.dismiss()->allowSwipe());
    EXPECT_EQ(s.fetch()->assets()->supportedMediaTypes(), std::set{MediaTypes::Image});
    EXPECT_EQ(s.fetch()->assets()->maxDuration(), 0.0f);
    EXPECT_TRUE(s.fetch()->preview()->photoOptions().networkAccessAllowed);
    EXPECT_TRUE(s.fetch()->preview()->videoOptions().networkAccessAllowed);
    // Groups are shared objects: two reads give the same one.
    EXPECT_EQ(s.theme(), s.theme());
    EXPECT_NE(Settings().theme(), s.theme());
    EXPECT_EQ(Settings::shared(), Settings::shared());
}

TEST(SettingsTest, AssetOptionsFollowTheMediaTypesAndMaximumDuration) {
    struct Case {
        const char* name;
        std::set<MediaTypes> types;
        float maxDuration;
        const char* format;
        Arguments arguments;
    };

    const Case cases[] = {
            {"Default", {MediaTypes::Image}, 0, "mediaType IN %@", {std::vector<int64_t>{1}}},
            {"VideoUpTo30",
             {MediaTypes::Video},
             30,
             "mediaType = %d AND duration <= %f",
             {int64_t{2}, 30.0}},
            {"VideoUnlimited",
             {MediaTypes::Video},
             0,
             "mediaType IN %@",
             {std::vector<int64_t>{2}}},
            {"BothUpTo30",
             {MediaTypes::Image, MediaTypes::Video},
             30,
             "mediaType = %d OR mediaType = %d AND duration <= %f",
             {int64_t{1}, int64_t{2}, 30.0}},
            {"BothNegative",
             {MediaTypes::Image, MediaTypes::Video},
             -5,
             "mediaType IN %@",
             {std::vector<int64_t>{1, 2}}},
            {"ImagesIgnoreTheLimit",
             {MediaTypes::Image},
             30,
             "mediaType IN %@",
             {std::vector<int64_t>{1}}},
            {"Nothing", {}, 30, "mediaType IN %@", {std::vector<int64_t>{}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings s;
        s.fetch()->assets()->setSupportedMediaTypes(c.types);
        s.fetch()->assets()->setMaxDuration(c.maxDuration);
        const auto options = s.fetch()->assets()->options();
        ASSERT_TRUE(options->predicate);
        EXPECT_EQ(options->predicate->format(), c.format);
        EXPECT_EQ(options->predicate->arguments(), c.arguments);
        EXPECT_EQ(options->sortDescriptors,
                  (std::vector<photos::SortDescriptor>{
                          {"mediaType", false}, {"duration", true}, {"creationDate", false}}));
        EXPECT_EQ(options->fetchLimit, 0u);
    }
}

TEST(SettingsTest, AssetOptionsAreBuiltOnceAtTheFirstRead) {
    Settings s;
    const auto first = s.fetch()->assets()->options();
    s.fetch()->assets()->setSupportedMediaTypes({MediaTypes::Video});
    EXPECT_EQ(s.fetch()->assets()->options(), first);
    EXPECT_EQ(first->predicate->arguments(), Arguments{std::vector<int64_t>{1}});
}

TEST(SettingsTest, CellsPerRowFollowsTheSizeClasses) {
    using S = UserInterfaceSizeClass;

    struct Case {
        S vertical, horizontal;
        int64_t cells;
    };

    const Case cases[] = {{S::Regular, S::Regular, 7},     {S::Compact, S::Compact, 5},
                          {S::Compact, S::Regular, 3},     {S::Regular, S::Compact, 3},
                          {S::Unspecified, S::Regular, 3}, {S::Compact, S::Unspecified, 3}};
    Settings s;
    const auto rule = s.list()->cellsPerRow();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.vertical) << "," << int(c.horizontal));
        EXPECT_EQ(rule(c.vertical, c.horizontal), c.cells);
    }
}

TEST(SettingsTest, StrokeColorFollowsTheAppearanceAndResizeScales) {
    EXPECT_EQ(PickerColors::systemStrokeColor(UserInterfaceStyle::Dark), ui::Color::white());
    EXPECT_EQ(PickerColors::systemStrokeColor(UserInterfaceStyle::Light), ui::Color::black());
    EXPECT_EQ(resize({100, 50}, 2), (ui::Size{200, 100}));
}

}  // namespace
}  // namespace pelmar
