#include "pelmar/core/PelmarConfig.h"

#include <gtest/gtest.h>

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

TEST(PelmarConfigTest, FieldsCanBeReplaced) {
    PelmarConfig config("");
    config.setServerAPIUrl("http://127.0.0.1:8080");
    config.setFileServerUrl("http://127.0.0.4:8080");
    EXPECT_EQ(config.serverAPIUrl(), "http://127.0.0.1:8080");
    EXPECT_EQ(config.fileServerUrl(), "http://127.0.0.4:8080");
}

}  // namespace
}  // namespace pelmar
