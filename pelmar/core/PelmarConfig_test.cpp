#include "pelmar/core/PelmarConfig.h"

#include <gtest/gtest.h>

#include <string>

namespace pelmar {
namespace {

TEST(PelmarConfigTest, TokenPrefixR1SelectsTheSecondRegion) {
    const PelmarConfig defaults("");
    const PelmarConfig second("r1");

    struct Case {
        const char* token;
        bool secondRegion;
    };

    const Case cases[] = {
            {"", false},  {"R1abc", false}, {"xr1", false},  {"abc", false},
            {"r", false}, {"r1", true},     {"r1abc", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        const PelmarConfig config(c.token);
        const PelmarConfig& expected = c.secondRegion ? second : defaults;
        EXPECT_EQ(config.serverAPIUrl(), expected.serverAPIUrl());
        EXPECT_EQ(config.cdnAPIUrl(), expected.cdnAPIUrl());
        EXPECT_EQ(config.devServerApiUrl(), expected.devServerApiUrl());
        EXPECT_EQ(config.fileServerUrl(), expected.fileServerUrl());
    }
}

TEST(PelmarConfigTest, RegionsDifferInTheirEmbedAndRegionalHostsOnly) {
    const PelmarConfig defaults("");
    const PelmarConfig second("r1");
    EXPECT_NE(defaults.serverAPIUrl(), second.serverAPIUrl());
    EXPECT_NE(defaults.cdnAPIUrl(), second.cdnAPIUrl());
    EXPECT_NE(defaults.devServerApiUrl(), second.devServerApiUrl());
    EXPECT_EQ(defaults.fileServerUrl(), second.fileServerUrl());
    for (const PelmarConfig* config : {&defaults, &second}) {
        EXPECT_TRUE(config->devServerApiUrl().ends_with("/embed"));
        for (const auto& url : {config->serverAPIUrl(), config->cdnAPIUrl(),
                                config->devServerApiUrl(), config->fileServerUrl()}) {
            EXPECT_TRUE(url.starts_with("https://")) << url;
            EXPECT_FALSE(url.ends_with("/")) << url;
        }
    }
}

// Tests point the SDK at a local service by replacing the bases one by one: each setter must
// change its own base and leave the other three as they were.
TEST(PelmarConfigTest, EachSetterReplacesOnlyItsOwnBase) {
    using Setter = void (PelmarConfig::*)(std::string);
    using Getter = std::string (PelmarConfig::*)() const;

    struct Base {
        const char* name;
        Setter set;
        Getter get;
    };

    const Base bases[] = {
            {"server", &PelmarConfig::setServerAPIUrl, &PelmarConfig::serverAPIUrl},
            {"cdn", &PelmarConfig::setCdnAPIUrl, &PelmarConfig::cdnAPIUrl},
            {"dev", &PelmarConfig::setDevServerApiUrl, &PelmarConfig::devServerApiUrl},
            {"file", &PelmarConfig::setFileServerUrl, &PelmarConfig::fileServerUrl},
    };
    const PelmarConfig defaults("");
    for (const Base& replaced : bases) {
        SCOPED_TRACE(replaced.name);
        PelmarConfig config("");
        (config.*replaced.set)(std::string("http://127.0.0.9:8080/") + replaced.name);
        for (const Base& base : bases) {
            const std::string expected = &base == &replaced
                                                 ? std::string("http://127.0.0.9:8080/") + base.name
                                                 : (defaults.*base.get)();
            EXPECT_EQ((config.*base.get)(), expected) << base.name;
        }
    }
}

}  // namespace
}  // namespace pelmar
