#include "pelmar/platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "pelmar/platform/foundation/Log.h"
#include "testing/TempSandbox.h"

namespace pelmar::foundation {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path defaultsFile(const test::TempSandbox& sandbox) {
    return sandbox.root() / "Library" / "Preferences" / "defaults.json";
}

class UserDefaultsTest : public ::testing::Test {
protected:
    test::TempSandbox sandbox_;
    UserDefaults& defaults_ = UserDefaults::standard();
};

TEST_F(UserDefaultsTest, PersistsValuesAndReloadsThemWhenTheRootComesBack) {
    defaults_.set("AppGroup", "group.demo");
    defaults_.set("count", 5);
    defaults_.set("gone", true);
    defaults_.remove("gone");
    EXPECT_EQ(defaults_.filePath(), defaultsFile(sandbox_));
    EXPECT_EQ(Json::parse(readFile(defaultsFile(sandbox_))),
              Json({{"AppGroup", "group.demo"}, {"count", 5}}));
    {
        test::TempSandbox other;
        EXPECT_EQ(defaults_.object("AppGroup"), std::nullopt);
        defaults_.set("AppGroup", "group.other");
    }
    EXPECT_EQ(defaults_.string("AppGroup"), "group.demo");
    EXPECT_EQ(defaults_.object("count"), Json(5));
    EXPECT_EQ(defaults_.object("gone"), std::nullopt);
}

TEST_F(UserDefaultsTest, StringOnlyForStringValues) {
    defaults_.set("text", "a b");
    defaults_.set("number", 1);
    defaults_.set("list", Json::array({"x"}));
    EXPECT_EQ(defaults_.string("text"), "a b");
    EXPECT_EQ(defaults_.string("number"), std::nullopt);
    EXPECT_EQ(defaults_.string("list"), std::nullopt);
    EXPECT_EQ(defaults_.string("missing"), std::nullopt);
    EXPECT_EQ(defaults_.object("list"), Json::array({"x"}));
}

TEST_F(UserDefaultsTest, SettingNullRemovesTheKey) {
    defaults_.set("key", "value");
    defaults_.set("key", nullptr);
    EXPECT_EQ(defaults_.object("key"), std::nullopt);
}

TEST_F(UserDefaultsTest, CorruptFileReadsAsEmptyAndIsKeptAside) {
    const struct {
        const char* name;
        const char* content;
    } cases[] = {
            {"truncatedJson", "{\"AppGroup\": \"gro"},
            {"notAnObject", "[1, 2]"},
            {"bareString", "\"text\""},
            {"empty", ""},
            {"binary", "\xFF\xFE\x00\x01"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempSandbox sandbox;
        fs::create_directories(defaultsFile(sandbox).parent_path());
        std::ofstream(defaultsFile(sandbox), std::ios::binary) << c.content;
        Log::Capture log;
        UserDefaults& defaults = UserDefaults::standard();
        EXPECT_EQ(defaults.object("AppGroup"), std::nullopt);
        EXPECT_TRUE(log.contains("UserDefaults: ignoring unreadable"));

        fs::path aside = defaultsFile(sandbox);
        aside += ".corrupt";
        EXPECT_EQ(readFile(aside), c.content);
        defaults.set("AppGroup", "group.new");
        EXPECT_TRUE(defaults.synchronize());
        EXPECT_EQ(Json::parse(readFile(defaultsFile(sandbox))), Json({{"AppGroup", "group.new"}}));
    }
}

TEST_F(UserDefaultsTest, FailedWriteKeepsTheValueAndSynchronizeRetries) {
    // A file where the Preferences folder belongs makes every write fail.
    const fs::path blocker = sandbox_.root() / "Library" / "Preferences";
    fs::create_directories(blocker.parent_path());
    std::ofstream(blocker) << "in the way";
    Log::Capture log;
    defaults_.set("AppGroup", "group.demo");
    EXPECT_FALSE(defaults_.synchronize());
    EXPECT_TRUE(log.contains("UserDefaults: cannot write"));
    EXPECT_EQ(defaults_.string("AppGroup"), "group.demo");

    fs::remove(blocker);
    EXPECT_TRUE(defaults_.synchronize());
    EXPECT_EQ(Json::parse(readFile(defaultsFile(sandbox_))), Json({{"AppGroup", "group.demo"}}));
}

TEST_F(UserDefaultsTest, ValuesBeyondTheFileCapStayInMemoryAndOnDiskStaysReadable) {
    defaults_.set("small", "kept");
    Log::Capture log;
    defaults_.set("huge", std::string(UserDefaults::kMaxFileSize, 'x'));
    EXPECT_FALSE(defaults_.synchronize());
    EXPECT_TRUE(log.contains("UserDefaults: values exceed"));
    EXPECT_TRUE(defaults_.object("huge").has_value());
    EXPECT_EQ(Json::parse(readFile(defaultsFile(sandbox_))), Json({{"small", "kept"}}));
}

TEST_F(UserDefaultsTest, InvalidUtf8ValueDoesNotBreakTheFile) {
    defaults_.set("bad", std::string("a\xFF", 2));
    defaults_.set("good", "ok");
    EXPECT_TRUE(defaults_.synchronize());
    EXPECT_EQ(Json::parse(readFile(defaultsFile(sandbox_)))["good"], "ok");
}

}  // namespace
}  // namespace pelmar::foundation
