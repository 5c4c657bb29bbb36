#include "pelmar/core/Pelmar.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarConstants.h"
#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar {
namespace {

using foundation::Log;

std::shared_ptr<Pelmar> makeFacade(std::string token = "app-token") {
    return std::make_shared<Pelmar>(std::move(token));
}

TEST(PelmarTest, StartsWithTheDocumentedState) {
    auto pelmar = makeFacade("r1-token");
    EXPECT_EQ(pelmar->getAppToken(), "r1-token");
    EXPECT_EQ(pelmar->config().serverAPIUrl(), PelmarConfig("r1").serverAPIUrl());
    EXPECT_FALSE(pelmar->enableDebugLogs);
    EXPECT_EQ(pelmar->getClientAuthToken(), "");
    EXPECT_EQ(pelmar->getServerAuthToken(), "");
    EXPECT_FALSE(pelmar->clientAuthToken().has_value());
    EXPECT_EQ(pelmar->uploadingDelegate(), nullptr);
    EXPECT_EQ(pelmar->uploadingConfig(), Json::object());
    EXPECT_EQ(pelmar->extraArgsForPlayer(), Json::object());

    // The getters return the start-up objects with their own defaults.
    EXPECT_EQ(pelmar->getVideoRecorderConfig()->encode(), VideoRecorderConfig().encode());
    EXPECT_EQ(pelmar->getVideoPlayerConfig()->encode(), VideoPlayerConfig().encode());
    EXPECT_TRUE(pelmar->getQrScannerConfig()->shouldCloseAfterSuccessfulScan);
    EXPECT_EQ(pelmar->getFileSelectorConfig()->mediaType,
              (std::vector<std::string>{"public.movie", "public.video", "public.audio",
                                        "public.image"}));

    EXPECT_NE(pelmar->connect(), nullptr);

    const Pelmar bare;
    EXPECT_EQ(bare.connect(), nullptr);
    EXPECT_EQ(bare.getAppToken(), "");
    EXPECT_EQ(bare.config().serverAPIUrl(), PelmarConfig("").serverAPIUrl());
}

TEST(PelmarTest, LaterTokensDoNotSwitchTheRegion) {
    auto pelmar = makeFacade("abc");
    const std::string before = pelmar->config().serverAPIUrl();
    pelmar->setToken("r1-later");
    EXPECT_EQ(pelmar->getAppToken(), "r1-later");
    EXPECT_EQ(pelmar->config().serverAPIUrl(), before);

    pelmar->setClientAuthToken("client");
    pelmar->setServerAuthToken("");
    EXPECT_EQ(pelmar->getClientAuthToken(), "client");
    EXPECT_EQ(pelmar->serverAuthToken(), "");
}

TEST(PelmarTest, LogPrintsOnlyWithDebugLogsWhileLogErrorAlwaysPrints) {
    auto pelmar = makeFacade();
    // The reports go to a loopback port that refuses them: unit tests never reach the network.
    pelmar->config().setServerAPIUrl("http://127.0.0.1:1");
    Log::Capture capture;
    pelmar->log("quiet line");
    pelmar->logError("error line one");
    pelmar->enableDebugLogs = true;
    pelmar->log("debug line");
    pelmar->logError("error line two");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"error line one", "debug line", "error line two"}));
}

TEST(PelmarTest, ErrorReportBodyIsAFormFieldHoldingExactJson) {
    struct Case {
        const char* name;
        const char* item;
        const char* json;
    };

    const Case cases[] = {
            {"blank", "a b",
             R"([{"message":"a b","source":"pelmar.mobile.sdk","lineno":0,"colno":0,)"
             R"("time":1700000000}])"},
            {"form and JSON specials", "Tom & \"Jerry\" +1=2\\",
             R"([{"message":"Tom & \"Jerry\" +1=2\\","source":"pelmar.mobile.sdk",)"
             R"("lineno":0,"colno":0,"time":1700000000}])"},
            {"newline and non-ASCII", "line\nzwei \xc3\xa4",
             "[{\"message\":\"line\\nzwei \xc3\xa4\",\"source\":\"pelmar.mobile.sdk\","
             "\"lineno\":0,\"colno\":0,\"time\":1700000000}]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = Pelmar::errorReportBody(c.item, 1700000000);
        ASSERT_TRUE(body.starts_with("events="));
        const std::string encoded = body.substr(7);
        // Only unreserved characters and escapes remain, so no form decoder can split it.
        EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789-._~%"),
                  std::string::npos);
        const auto decoded = foundation::percentDecode(encoded);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(*decoded, c.json);
        EXPECT_EQ(Json::parse(*decoded)[0]["message"], c.item);
    }
    EXPECT_EQ(Pelmar::errorReportBody("a b", 1700000000),
              "events=%5B%7B%22message%22%3A%22a%20b%22%2C%22source%22%3A%22pelmar.mobile.sdk%22%2C"
              "%22lineno%22%3A0%2C%22colno%22%3A0%2C%22time%22%3A1700000000%7D%5D");
}

TEST(PelmarTest, ErrorReportReplacesInvalidUtf8) {
    const auto decoded =
            foundation::percentDecode(Pelmar::errorReportBody("bad \xff byte", 1).substr(7));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(Json::parse(*decoded)[0]["message"], "bad \xef\xbf\xbd byte");
}

TEST(PelmarTest, VideoRecorderConfigSetterReadsEachKeyByType) {
    struct Case {
        const char* name;
        std::optional<Json> dict;
        std::string expected;  // encoded result
    };

    const std::string allDefaults =
            R"({"isLiveStreaming":false,"blurMode":false,"shouldSendImmediately":false,)"
            R"("shouldDisableCameraSwitch":false,"shouldEnableCoverShot":false,"startDelay":0,)"
            R"("shouldAutoStartRecording":false,"videoQuality":1,"shouldShowFaceOutline":false,)"
            R"("facing":0,"maxDuration":0})";
    const Case cases[] = {
            {"no dictionary", std::nullopt, allDefaults},
            {"empty dictionary", Json::object(), allDefaults},
            {"start delay as text", Json{{"startDelay", "5"}, {"blurMode", true}},
             R"({"isLiveStreaming":false,"blurMode":true,"shouldSendImmediately":false,)"
             R"("shouldDisableCameraSwitch":false,"shouldEnableCoverShot":false,)"
             R"("startDelay":0,"shouldAutoStartRecording":false,"videoQuality":1,)"
             R"("shouldShowFaceOutline":false,"facing":0,"maxDuration":0})"},
            {"every key",
             Json{{"isLiveStreaming", true},
                  {"blurMode", true},
                  {"shouldSendImmediately", true},
                  {"shouldDisableCameraSwitch", true},
                  {"shouldEnableCoverShot", true},
                  {"shouldAutoStartRecording", true},
                  {"shouldShowFaceOutline", true},
                  {"facing", 7},
                  {"startDelay", 5},
                  {"videoQuality", -3},
                  {"maxDuration", 30},
                  {"unknown", 1}},
             R"({"isLiveStreaming":true,"blurMode":true,"shouldSendImmediately":true,)"
             R"("shouldDisableCameraSwitch":true,"shouldEnableCoverShot":true,)"
             R"("startDelay":5,"shouldAutoStartRecording":true,"videoQuality":-3,)"
             R"("shouldShowFaceOutline":true,"facing":7,"maxDuration":30})"},
            {"wrong types",
             Json{{"blurMode", 1}, {"facing", true}, {"maxDuration", 2.5}, {"videoQuality", "2"}},
             allDefaults},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pelmar = makeFacade();
        pelmar->setVideoRecorderConfig(c.dict);
        EXPECT_EQ(pelmar->getVideoRecorderConfig()->encode().dump(), c.expected);
    }
}

TEST(PelmarTest, DictionarySettersReplaceTheObjectWhileShortcutsEditItInPlace) {
    auto pelmar = makeFacade();
    auto before = pelmar->getVideoRecorderConfig();
    pelmar->setVideoRecorderConfig(Json{{"startDelay", 9}});
    EXPECT_EQ(before->startDelay, 3);
    auto current = pelmar->getVideoRecorderConfig();
    EXPECT_NE(before, current);

    pelmar->setStartDelay(4);
    EXPECT_EQ(current->startDelay, 4);
    pelmar->setAutostartRecordingAfter(6);
    EXPECT_EQ(current->startDelay, 6);
    pelmar->setLiveStreamingEnabled(true);
    pelmar->setCoverSelectorEnabled(true);
    pelmar->setSendImmediately(true);
    pelmar->setBlurMode(true);
    pelmar->setCameraSwitchEnabled(true);
    EXPECT_TRUE(current->isLiveStreaming);
    EXPECT_TRUE(current->shouldEnableCoverShot);
    EXPECT_TRUE(current->shouldSendImmediately);
    EXPECT_TRUE(current->blurMode);
    EXPECT_TRUE(current->shouldDisableCameraSwitch);  // stored as given, not negated
}

TEST(PelmarTest, QualityAndCameraShortcutsKeepTheirCrosswiseValues) {
    auto pelmar = makeFacade();

    struct QualityCase {
        int64_t argument;
        int64_t stored;
    };

    for (const auto& c : {QualityCase{0, 0}, QualityCase{1, 1}, QualityCase{2, 2},
                          QualityCase{3, 1}, QualityCase{-1, 1}, QualityCase{qualityHigh, 0}}) {
        SCOPED_TRACE(c.argument);
        pelmar->setQuality(c.argument);
        EXPECT_EQ(pelmar->getVideoRecorderConfig()->videoQuality, c.stored);
    }
    EXPECT_EQ(fromRaw<RecordingQuality>(pelmar->getVideoRecorderConfig()->videoQuality),
              RecordingQuality::LowQuality);

    struct CameraCase {
        std::string_view argument;
        int64_t facing;
    };

    for (const auto& c : {CameraCase{REAR_CAMERA, 1}, CameraCase{FRONT_CAMERA, 1},
                          CameraCase{"REAR_CAMERA", 0}, CameraCase{"", 1}}) {
        SCOPED_TRACE(c.argument);
        pelmar->setCamera(c.argument);
        EXPECT_EQ(pelmar->getVideoRecorderConfig()->facing, c.facing);
    }
}

TEST(PelmarTest, QrScannerConfigTakesOnlyABoolean) {
    struct Case {
        const char* name;
        std::optional<Json> dict;
        bool expected;
    };

    const Case cases[] = {
            {"no dictionary", std::nullopt, true},
            {"empty", Json::object(), true},
            {"text no", Json{{"closeAfterSuccessfulScan", "no"}}, true},
            {"number 0", Json{{"closeAfterSuccessfulScan", 0}}, true},
            {"false", Json{{"closeAfterSuccessfulScan", false}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pelmar = makeFacade();
        auto before = pelmar->getQrScannerConfig();
        pelmar->setQrScannerConfig(c.dict);
        EXPECT_EQ(pelmar->getQrScannerConfig()->shouldCloseAfterSuccessfulScan, c.expected);
        EXPECT_TRUE(before->shouldCloseAfterSuccessfulScan);
    }
}

TEST(PelmarTest, VideoPlayerConfigAndStyleSetters) {
    auto pelmar = makeFacade();

    pelmar->setVideoPlayerConfig(Json{{"shouldShowSubtitles", true}, {"isMuted", "yes"}});
    auto config = pelmar->getVideoPlayerConfig();
    EXPECT_TRUE(config->shouldShowSubtitles);
    EXPECT_FALSE(config->isMuted);
    EXPECT_EQ(config->playerStyle->controllerStyle, 5);  // default style, own look

    // A style dictionary without "controllerStyle" gives the DEFAULT look, in the new options
    // only: the options fetched before keep their style object and its values.
    const auto earlierStyle = config->playerStyle;
    pelmar->setVideoPlayerConfig(Json{{"playerStyle", Json{{"textColor", 0x112233},
                                                           {"muteOffImageDrawable", 4},
                                                           {"muteOnImageDrawable", 5},
                                                           {"tintColor", "red"}}}});
    auto style = pelmar->getVideoPlayerStyle();
    EXPECT_EQ(style->controllerStyle, 0);
    EXPECT_EQ(style->textColor, 0x112233);
    EXPECT_EQ(style->muteOffImageDrawable, 4);
    EXPECT_EQ(style->muteOnImageDrawable, 5);
    EXPECT_FALSE(style->tintColor.has_value());
    EXPECT_EQ(pelmar->getVideoPlayerConfig()->playerStyle, style);
    EXPECT_EQ(config->playerStyle, earlierStyle);
    EXPECT_EQ(config->playerStyle->controllerStyle, 5);
    EXPECT_FALSE(config->playerStyle->textColor.has_value());

    auto returned = pelmar->setVideoPlayerStyle(Json{{"controllerStyle", 9}});
    auto stored = pelmar->getVideoPlayerStyle();
    EXPECT_NE(returned, stored);
    EXPECT_EQ(returned->encode(), stored->encode());
    EXPECT_EQ(stored->controllerStyle, 9);

    pelmar->setVideoPlayerStyle(std::nullopt);
    EXPECT_EQ(pelmar->getVideoPlayerStyle()->controllerStyle, 0);
}

TEST(PelmarTest, FileSelectorConfigMapsMediaWordsAndKinds) {
    const std::string movie = "public.movie";
    const std::string video = "public.video";
    const std::string audio = "public.audio";
    const std::string image = "public.image";
    const std::vector<std::string> all = {movie, video, audio, image};

    struct Case {
        const char* name;
        std::optional<Json> dict;
        std::vector<std::string> expected;
    };

    const Case cases[] = {
            {"no dictionary", std::nullopt, {}},
            {"empty dictionary", Json::object(), all},
            {"no media_type key", Json{{"other", 1}}, all},
            {"words", Json{{"media_type", {"image", "video"}}}, {movie, video, image}},
            {"audio word", Json{{"media_type", {"audio", "unknown"}}}, {audio}},
            {"unknown words only", Json{{"media_type", {"gif"}}}, {}},
            {"kind 4", Json{{"media_type", {4}}}, {image}},
            {"kinds 2 and 1", Json{{"media_type", {2, 1}}}, {movie, video, audio}},
            {"kind 3", Json{{"media_type", {3}}}, {}},
            {"not a list", Json{{"media_type", "video"}}, all},
            {"empty list", Json{{"media_type", Json::array()}}, all},
            {"mixed list", Json{{"media_type", {"video", 4}}}, all},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pelmar = makeFacade();
        pelmar->setFileSelectorConfig(c.dict);
        EXPECT_EQ(pelmar->getFileSelectorConfig()->mediaType, c.expected);
        EXPECT_EQ(pelmar->getFileSelectorConfig()->encode()["mediaType"], Json(c.expected));
    }
}

TEST(PelmarTest, DictionaryStoresReplaceWhole) {
    auto pelmar = makeFacade();
    pelmar->setUploadingConfig(Json{{"a", 1}, {"b", 2}});
    pelmar->setUploadingConfig(Json{{"c", 3}});
    EXPECT_EQ(pelmar->uploadingConfig(), (Json{{"c", 3}}));
    pelmar->setThemeArgsForPlayer(Json{{"hidePlayerControls", "true"}});
    EXPECT_EQ(pelmar->themeArgsForPlayer()["hidePlayerControls"], "true");
    EXPECT_EQ(pelmar->themeArgsForRecorder(), Json::object());
}

TEST(PelmarTest, EnumerationsRoundTripTheirRawValues) {
    EXPECT_EQ(rawValue(Pelmar_Key_Type::BYTES_TOTAL), "totalBytes");
    EXPECT_EQ(rawValue(Pelmar_Key_Type::TAGS), "tags");
    EXPECT_EQ(fromRaw<Pelmar_Status_Type>(std::string_view("READY")),
              Pelmar_Status_Type::STATUS_READY);
    EXPECT_EQ(rawValue(Pelmar_Theme_Key_Type::KEY_HIDE_PLAYER_CONTROLS), "hidePlayerControls");
    EXPECT_EQ(fromRaw<Media_Type>(std::string_view("video")), Media_Type::Video);
    EXPECT_FALSE(fromRaw<Media_Type>(std::string_view("Video")).has_value());
    EXPECT_FALSE(fromRaw<Media_Type_Int>(3).has_value());
    EXPECT_EQ(fromRaw<Media_Type_Int>(4), Media_Type_Int::Image);
    EXPECT_EQ(rawValue(RecordingQuality::HighestQuality), 2);
    EXPECT_EQ(CONTROLLERS_MUTE_ON_STYLE, "muteOffImageDrawable");
}

// A key window whose root controller is `root`, removed again at the end of the test.
class PelmarScreensTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        auto window = std::make_shared<ui::Window>(ui::Rect{0, 0, 390, 844});
        window->setRootViewController(root_);
        ui::Application::shared().setKeyWindow(window);
    }

    void TearDown() override {
        ui::Application::shared().setKeyWindow(nullptr);
        MainLoopFixture::TearDown();
    }

    std::shared_ptr<ui::ViewController> root_ = std::make_shared<ui::ViewController>();
};

TEST_F(PelmarScreensTest, ParentViewControllerIsTheTopOfThePresentedChain) {
    auto pelmar = makeFacade();
    EXPECT_EQ(pelmar->getParentViewController(), root_);

    auto b = std::make_shared<ui::ViewController>();
    auto c = std::make_shared<ui::ViewController>();
    root_->present(b, true);
    b->present(c, false);
    EXPECT_EQ(pelmar->getParentViewController(), c);

    // Screens shown through the file utilities go on top of that chain, animated.
    auto d = std::make_shared<ui::ViewController>();
    Utils::showPresentViewController(d);
    EXPECT_EQ(c->presentedViewController(), d);
    EXPECT_EQ(d->lastPresentationAnimated(), true);
    EXPECT_EQ(pelmar->getParentViewController(), d);
}

TEST(PelmarTest, WithoutAKeyWindowOrItsRootThereIsNoParentAndNothingIsPresented) {
    ui::Application::shared().setKeyWindow(nullptr);
    EXPECT_EQ(makeFacade()->getParentViewController(), nullptr);
    auto screen = std::make_shared<ui::ViewController>();
    Utils::showPresentViewController(screen);
    EXPECT_EQ(screen->presentingViewController(), nullptr);
    EXPECT_FALSE(screen->isBeingPresented());

    auto window = std::make_shared<ui::Window>(ui::Rect{0, 0, 1, 1});
    ui::Application::shared().setKeyWindow(window);
    EXPECT_EQ(makeFacade()->getParentViewController(), nullptr);
    Utils::showPresentViewController(screen);
    EXPECT_EQ(screen->presentingViewController(), nullptr);
    EXPECT_EQ(window->rootViewController(), nullptr);
    ui::Application::shared().setKeyWindow(nullptr);
}

}  // namespace
}  // namespace pelmar
