#include "pelmar/qr/PelmarQRCodeReaderViewController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/testing/CodeImage.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/ui/InterfaceOrientation.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"

namespace pelmar {
namespace {

using av::CaptureMetadataOutput;
using av::MetadataObject;

constexpr const char* kText = "https://example.test/a?b=1";

// Writes every QR delegate call as a line ("scanned <text>", "cancelled").
class ScannerEvents : public PelmarQRScannerDelegate {
public:
    void qrCodeScaned(const std::string& text) override { lines.push_back("scanned " + text); }

    void qrCodeScanCancelledByUser() override { lines.emplace_back("cancelled"); }

    std::vector<std::string> lines;
};

class PelmarQRCodeReaderViewControllerTest : public ::testing::Test {
protected:
    // Opens the scanner through the facade (with the options dictionary, or from the facade's
    // QR options) and waits until it is on screen.
    std::shared_ptr<PelmarQRCodeReaderViewController> open() { return show(false, std::nullopt); }

    std::shared_ptr<PelmarQRCodeReaderViewController> openWith(std::optional<Json> options) {
        return show(true, std::move(options));
    }

    std::shared_ptr<PelmarQRCodeReaderViewController> show(bool withOptions,
                                                           std::optional<Json> options) {
        app_.sdk()->setQrScannerDelegate(events_);
        if (withOptions) {
            app_.sdk()->startQrScanner(options);
        } else {
            app_.sdk()->startQrScanner();
        }
        auto scanner = app_.find<PelmarQRCodeReaderViewController>();
        EXPECT_TRUE(scanner);
        app_.advance(1.0);  // the presentation's animation
        EXPECT_EQ(app_.topViewController(), scanner);
        return scanner;
    }

    // Moves the clock in camera-frame steps, letting the camera catch up at each.
    void advanceCamera(const std::shared_ptr<PelmarQRCodeReaderViewController>& scanner,
                       double seconds) {
        constexpr double kStep = 0.1;
        for (double t = 0; t < seconds - 1e-9; t += kStep) {
            app_.advance(kStep);
            scanner->captureSession()->pumpDevices();
            app_.settle();
        }
    }

    // A machine-readable code (it has corners), or with `corners` false another object.
    static MetadataObject code(const char* type,
                               std::optional<std::string> text,
                               bool corners = true) {
        MetadataObject object;
        object.type = type;
        object.stringValue = std::move(text);
        if (corners) {
            object.corners = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        }
        return object;
    }

    test::App app_;
    std::shared_ptr<ScannerEvents> events_ = std::make_shared<ScannerEvents>();
};

TEST_F(PelmarQRCodeReaderViewControllerTest, ReportsTheCodeTheCameraSeesTwoSecondsLaterAndCloses) {
    app_.devices().addFrontCamera().addBackCamera().setFrameRate(10).setCameraImage(
            av::test::CodeImage::qrCode(kText, 1080, 1920, {240, 660, 600}));
    auto scanner = open();
    EXPECT_EQ(scanner->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    EXPECT_TRUE(scanner->closeAfterSuccessfulScan);
    ASSERT_TRUE(scanner->currentDevice());
    EXPECT_EQ(scanner->currentDevice(), scanner->mainCamera());
    EXPECT_EQ(scanner->innerCamera()->position(), av::CaptureDevicePosition::Front);
    EXPECT_TRUE(scanner->flashSupported());
    ASSERT_TRUE(scanner->photoOutput());
    EXPECT_EQ(scanner->photoOutput()->preparedPhotoSettingsArray(),
              std::vector<av::CapturePhotoSettings>{{av::CapturePhotoOutput::kJPEG}});
    EXPECT_EQ(scanner->view()->subviews().front()->layer(), scanner->cameraPreviewLayer());

    // The first frame is accepted: the camera stops at once, the report waits 2.0 s.
    ASSERT_TRUE(app_.runUntil([&] { return !scanner->captureSession()->isRunning(); }));
    app_.writeSnapshot(*app_.window(), "PelmarQRCodeReaderViewController_scanning.png");
    app_.expectLooksRight(*app_.window(), /*pictures=*/1);
    app_.advance(1.9);
    EXPECT_TRUE(events_->lines.empty());
    EXPECT_EQ(app_.topViewController(), scanner);
    app_.advance(0.2);
    app_.advance(1.0);  // the dismissal's animation
    ASSERT_TRUE(app_.runUntil([&] { return !events_->lines.empty(); }));
    EXPECT_EQ(events_->lines, std::vector<std::string>{std::string("scanned ") + kText});
    EXPECT_EQ(app_.topViewController(), app_.root());
    app_.expectFreedAfterDismiss(std::move(scanner));
}

// Without closing, every frame that shows the code while the screen is there is reported; once
// the screen has gone the camera stops, nothing more is reported and the reader is freed.
TEST_F(PelmarQRCodeReaderViewControllerTest, WithoutClosingFramesAreReportedUntilTheScreenHasGone) {
    app_.devices().addBackCamera().setFrameRate(5).setCameraImage(
            av::test::CodeImage::qrCode(kText, 1080, 1920));
    auto scanner = openWith(Json{{"closeAfterSuccessfulScan", false}});
    EXPECT_FALSE(scanner->closeAfterSuccessfulScan);
    advanceCamera(scanner, 1.0);
    EXPECT_TRUE(scanner->captureSession()->isRunning());
    EXPECT_TRUE(events_->lines.empty());
    // Frames from 0 s on, one every 0.2 s, each reported 2.0 s after it was seen: the first
    // report's dismissal takes the screen away, and the frames whose 2.0 s ended while it went
    // are reported as it ends.
    advanceCamera(scanner, 2.0);
    EXPECT_EQ(app_.topViewController(), app_.root());
    EXPECT_FALSE(scanner->captureSession()->isRunning());
    const auto reported = events_->lines;
    EXPECT_GE(reported.size(), 2u);
    for (const auto& line : reported) {
        EXPECT_EQ(line, std::string("scanned ") + kText);
    }
    advanceCamera(scanner, 10.0);
    EXPECT_EQ(events_->lines, reported);
    app_.expectFreedAfterDismiss(std::move(scanner));
}

// The width in points of the test pattern's dark moving square where the screen paints it: the
// camera's frame is 1080 wide in portrait and 1440 wide in landscape, its square 180 pixels
// either way, and the picture fills the screen.
double paintedSquareWidth(ui::View& screen) {
    auto painted = ui::render(screen);
    if (!painted) {
        return 0;
    }
    const ui::Color square{40.0 / 255, 40.0 / 255, 40.0 / 255, 1};
    int widest = 0;
    for (int y = 0; y < painted->height(); ++y) {
        int run = 0;
        for (int x = 0; x < painted->width(); ++x) {
            run = ui::test::looksLike(ui::test::colorAt(*painted, x + 0.5, y + 0.5), square, 0.03)
                          ? run + 1
                          : 0;
            widest = std::max(widest, run);
        }
    }
    return widest;
}

TEST_F(PelmarQRCodeReaderViewControllerTest, ThePictureStandsUprightInTheInterfacesOrientation) {
    app_.devices().addBackCamera();
    auto scanner = open();
    ASSERT_TRUE(scanner->cameraPreviewLayer());
    // At 2.5 s (frame 75) the square is in the middle of the picture in both orientations.
    app_.advance(2.5 - app_.clock().now());
    // Portrait: a 1080 x 1440 frame filling 390 x 844 is drawn at 844 / 1440 of its size.
    EXPECT_NEAR(paintedSquareWidth(*scanner->view()), 180.0 * 844 / 1440, 2.0);

    app_.window()->rotate(ui::InterfaceOrientation::LandscapeRight);
    app_.settle();
    EXPECT_EQ(scanner->cameraPreviewLayer()->connection()->videoOrientation(),
              av::VideoOrientation::LandscapeRight);
    // Landscape: a 1440 x 1080 frame filling 844 x 390 is drawn at 844 / 1440 again; a portrait
    // frame turned sideways would be drawn at 844 / 1080.
    EXPECT_NEAR(paintedSquareWidth(*scanner->view()), 180.0 * 844 / 1440, 2.0);

    app_.window()->rotate(ui::InterfaceOrientation::Portrait);
    app_.settle();
    EXPECT_EQ(scanner->cameraPreviewLayer()->connection()->videoOrientation(),
              av::VideoOrientation::Portrait);
    app_.expectFreedAfterDismiss(std::move(scanner));
}

TEST_F(PelmarQRCodeReaderViewControllerTest, AScreenOpenedInLandscapeShowsALandscapePicture) {
    app_.devices().addBackCamera();
    app_.window()->rotate(ui::InterfaceOrientation::LandscapeLeft);
    auto scanner = open();
    ASSERT_TRUE(scanner->cameraPreviewLayer());
    EXPECT_EQ(scanner->cameraPreviewLayer()->connection()->videoOrientation(),
              av::VideoOrientation::LandscapeLeft);
    app_.advance(2.5 - app_.clock().now());
    EXPECT_NEAR(paintedSquareWidth(*scanner->view()), 180.0 * 844 / 1440, 2.0);
    app_.window()->rotate(ui::InterfaceOrientation::Portrait);
    app_.settle();
    app_.expectFreedAfterDismiss(std::move(scanner));
}

TEST_F(PelmarQRCodeReaderViewControllerTest, TheCloseFlagComesFromABooleanOptionOnly) {
    struct Case {
        const char* name;
        std::optional<Json> options;
        bool useConfig;
        bool close;
    };

    const Case cases[] = {
            {"no dictionary", std::nullopt, false, true},
            {"empty dictionary", Json::object(), false, true},
            {"missing key", Json{{"other", false}}, false, true},
            {"string false", Json{{"closeAfterSuccessfulScan", "false"}}, false, true},
            {"number 0", Json{{"closeAfterSuccessfulScan", 0}}, false, true},
            {"Boolean false", Json{{"closeAfterSuccessfulScan", false}}, false, false},
            {"Boolean true", Json{{"closeAfterSuccessfulScan", true}}, false, true},
            {"config false", Json{{"closeAfterSuccessfulScan", false}}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<PelmarQRCodeReaderViewController> scanner;
        if (c.useConfig) {
            app_.sdk()->setQrScannerConfig(c.options);
            scanner = open();
        } else {
            scanner = openWith(c.options);
        }
        ASSERT_TRUE(scanner);
        EXPECT_EQ(scanner->closeAfterSuccessfulScan, c.close);
        EXPECT_EQ(scanner->qrScannerDelegate, events_);
        app_.expectFreedAfterDismiss(std::move(scanner));
    }
}

TEST_F(PelmarQRCodeReaderViewControllerTest, OnlyADeliveryLedByAQrCodeWithTextIsReported) {
    struct Case {
        const char* name;
        bool close;
        std::vector<std::vector<MetadataObject>> deliveries;
        std::vector<std::string> reported;
    };

    const Case cases[] = {
            {"other code first",
             true,
             {{code(CaptureMetadataOutput::kEAN13, "5901234123457"),
               code(CaptureMetadataOutput::kQRCode, "a")}},
             {}},
            {"face first", true, {{code(CaptureMetadataOutput::kFace, std::nullopt, false)}}, {}},
            {"QR code without text",
             true,
             {{code(CaptureMetadataOutput::kQRCode, std::nullopt)}},
             {}},
            // Two deliveries queued before the camera stops: closing reports the first only.
            {"closing after the first",
             true,
             {{code(CaptureMetadataOutput::kQRCode, "a")},
              {code(CaptureMetadataOutput::kQRCode, "b")}},
             {"scanned a"}},
            {"scanning on",
             false,
             {{code(CaptureMetadataOutput::kQRCode, "a")},
              {code(CaptureMetadataOutput::kQRCode, "b")}},
             {"scanned a", "scanned b"}},
    };
    // No back camera: nothing is captured, the screen still opens and works.
    app_.devices().addFrontCamera();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events_->lines.clear();
        foundation::Console::Capture console;
        auto scanner = openWith(Json{{"closeAfterSuccessfulScan", c.close}});
        ASSERT_TRUE(scanner);
        EXPECT_FALSE(scanner->currentDevice());
        EXPECT_FALSE(scanner->photoOutput());
        EXPECT_FALSE(scanner->flashSupported());
        EXPECT_TRUE(console.contains("Cannot use a missing device"));
        for (const auto& delivery : c.deliveries) {
            scanner->captureMetadataOutput()->deliverObjects(delivery);
        }
        app_.advance(3.0);
        app_.advance(1.0);
        app_.settle();
        EXPECT_EQ(events_->lines, c.reported);
        app_.expectFreedAfterDismiss(std::move(scanner));
    }
}

TEST_F(PelmarQRCodeReaderViewControllerTest, BackClosesTheScreenAndThenTellsTheDelegate) {
    auto scanner = open();
    ASSERT_TRUE(app_.tap(scanner->backButton));
    EXPECT_TRUE(events_->lines.empty());
    app_.advance(1.0);
    ASSERT_TRUE(app_.runUntil([&] { return !events_->lines.empty(); }));
    EXPECT_EQ(events_->lines, std::vector<std::string>{"cancelled"});
    EXPECT_EQ(app_.topViewController(), app_.root());

    // A delegate that listens to neither call: the screen still closes.
    app_.sdk()->setQrScannerDelegate(std::make_shared<PelmarQRScannerDelegate>());
    app_.sdk()->startQrScanner();
    auto silent = app_.find<PelmarQRCodeReaderViewController>();
    ASSERT_TRUE(silent);
    app_.advance(1.0);
    ASSERT_TRUE(app_.tap(silent->backButton));
    app_.advance(1.0);
    app_.settle();
    EXPECT_EQ(app_.topViewController(), app_.root());
    app_.expectFreedAfterDismiss(std::move(silent));
    app_.expectFreedAfterDismiss(std::move(scanner));
}

}  // namespace
}  // namespace pelmar
