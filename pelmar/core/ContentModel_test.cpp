#include "pelmar/core/ContentModel.h"

#include <gtest/gtest.h>

namespace pelmar {
namespace {

void expectCleared(const ContentModel& model) {
    EXPECT_EQ(model.key, "");
    EXPECT_EQ(model.title, "");
    EXPECT_EQ(model.desc, "");
    EXPECT_EQ(model.stateString, "");
    EXPECT_EQ(model.token, "");
    EXPECT_EQ(model.date, 0.0);
    EXPECT_EQ(model.duration, 0.0);
}

TEST(ContentModelTest, EmptyOrMissingDictionaryGivesClearedFieldsNeverNone) {
    expectCleared(ContentModel());
    expectCleared(ContentModel(std::nullopt));
    expectCleared(ContentModel(Json::object()));
    expectCleared(ContentModel(Json("not an object")));
}

TEST(ContentModelTest, ReadsServiceKeysNotFieldNames) {
    const ContentModel model(Json{{"key", "videos/v1"},
                                  {"title", "Clip"},
                                  {"description", "about"},
                                  {"desc", "ignored"},
                                  {"state_string", "READY"},
                                  {"stateString", "ignored"},
                                  {"token", "v1"},
                                  {"created", 1700000000.5},
                                  {"date", 1.0},
                                  {"duration", "12.5"}});
    EXPECT_EQ(model.key, "videos/v1");
    EXPECT_EQ(model.title, "Clip");
    EXPECT_EQ(model.desc, "about");
    EXPECT_EQ(model.stateString, "READY");
    EXPECT_EQ(model.token, "v1");
    EXPECT_EQ(model.date, 1700000000.5);
    EXPECT_EQ(model.duration, 12.5);
}

TEST(ContentModelTest, SetInfoReplacesEveryField) {
    ContentModel model(Json{{"title", "old"}, {"duration", 3}});
    model.setInfo(Json{{"token", "t"}});
    EXPECT_EQ(model.title, "");
    EXPECT_EQ(model.duration, 0.0);
    EXPECT_EQ(model.token, "t");
}

}  // namespace
}  // namespace pelmar
