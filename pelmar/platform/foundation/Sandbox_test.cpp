#include "pelmar/platform/foundation/Sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "testing/TempSandbox.h"

namespace pelmar::foundation {
namespace {

namespace fs = std::filesystem;

TEST(SandboxTest, FoldersLiveUnderTheRootAndAreCreated) {
    test::TempSandbox sandbox;
    ASSERT_EQ(Sandbox::root(), sandbox.root());

    const struct {
        const char* name;
        fs::path path;
        fs::path expected;
    } cases[] = {
            {"documents", Sandbox::documentsDirectory(), sandbox.root() / "Documents"},
            {"temporary", Sandbox::temporaryDirectory(), sandbox.root() / "tmp"},
            {"caches", Sandbox::cachesDirectory(), sandbox.root() / "Library" / "Caches"},
            {"preferences", Sandbox::preferencesDirectory(),
             sandbox.root() / "Library" / "Preferences"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.path, c.expected);
        EXPECT_TRUE(fs::is_directory(c.path));
    }
}

TEST(SandboxTest, FolderGetterReturnsPathEvenWhenItCannotCreateIt) {
    test::TempSandbox sandbox;
    fs::create_directories(sandbox.root() / "Library");
    std::ofstream(sandbox.root() / "Library" / "Caches") << "a file in the way";
    EXPECT_EQ(Sandbox::cachesDirectory(), sandbox.root() / "Library" / "Caches");
}

TEST(SandboxTest, AppGroupContainerOnlyForRegisteredGroupsAndCreatesNothing) {
    test::TempSandbox sandbox;
    EXPECT_EQ(Sandbox::containerForAppGroup("group.unknown"), std::nullopt);
    ASSERT_TRUE(Sandbox::registerAppGroup("group.demo"));
    EXPECT_EQ(Sandbox::containerForAppGroup("group.demo"),
              sandbox.root() / "AppGroups" / "group.demo");
    EXPECT_FALSE(fs::exists(sandbox.root() / "AppGroups"));
    EXPECT_EQ(Sandbox::containerForAppGroup("group.unknown"), std::nullopt);
}

TEST(SandboxTest, RefusesNamesThatAreNotASingleFolder) {
    test::TempSandbox sandbox;
    const std::string names[] = {"", ".", "..", "a/b", "../x", std::string("a\0b", 3)};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Sandbox::registerAppGroup(name));
        EXPECT_EQ(Sandbox::containerForAppGroup(name), std::nullopt);
        EXPECT_FALSE(Sandbox::setAppIdentifier(name));
    }
    EXPECT_EQ(Sandbox::root(), sandbox.root());
}

// Saves and puts back an environment variable.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }

    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SandboxTest, DefaultRootFollowsXdgDataHomeHomeAndAppIdentifier) {
    test::TempSandbox sandbox;  // puts the settings back afterwards
    Sandbox::setRoot({});
    ScopedEnv home("HOME", "/home/tester");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data/xdg");
        EXPECT_EQ(Sandbox::root(), fs::path("/data/xdg/pelmar/pelmar-app"));
        ASSERT_TRUE(Sandbox::setAppIdentifier("demo"));
        EXPECT_EQ(Sandbox::root(), fs::path("/data/xdg/pelmar/demo"));
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/ignored");
        EXPECT_EQ(Sandbox::root(), fs::path("/home/tester/.local/share/pelmar/demo"));
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(Sandbox::root(), fs::path("/home/tester/.local/share/pelmar/demo"));
}

TEST(SandboxTest, TempSandboxPutsBackSettingsAndRemovesItsFolder) {
    test::TempSandbox outer;
    ASSERT_TRUE(Sandbox::registerAppGroup("group.outer"));
    fs::path innerRoot;
    {
        test::TempSandbox inner;
        innerRoot = inner.root();
        EXPECT_NE(innerRoot, outer.root());
        EXPECT_EQ(Sandbox::containerForAppGroup("group.outer"), std::nullopt);
        Sandbox::documentsDirectory();
    }
    EXPECT_FALSE(fs::exists(innerRoot));
    EXPECT_EQ(Sandbox::root(), outer.root());
    EXPECT_TRUE(Sandbox::containerForAppGroup("group.outer").has_value());
}

}  // namespace
}  // namespace pelmar::foundation
