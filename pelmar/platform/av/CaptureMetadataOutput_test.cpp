#include "pelmar/platform/av/CaptureMetadataOutput.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureDeviceDiscoverySession.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/CapturePhotoOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/testing/CodeImage.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;
using test::CodeImage;

// Keeps every delivery of objects (main queue only).
class Deliveries : public MetadataOutputObjectsDelegate {
public:
    void metadataOutputObjects(const std::shared_ptr<CaptureMetadataOutput>&,
                               const std::vector<MetadataObject>& objects,
                               const std::shared_ptr<CaptureConnection>&) override {
        lists.push_back(objects);
    }

    std::vector<std::vector<MetadataObject>> lists;
};

MetadataObject object(const char* type, std::optional<std::string> text = std::nullopt) {
    MetadataObject o;
    o.type = type;
    o.stringValue = std::move(text);
    return o;
}

class CaptureMetadataOutputTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        CaptureEnvironment::shared().reset();
        CaptureEnvironment::shared().addBackCamera();
        session_ = CaptureSession::create();
        ASSERT_TRUE(session_->addInput(
                CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Video))));
        ASSERT_TRUE(session_->addOutput(output_));
        output_->setMetadataObjectsDelegate(deliveries_, dispatch::Queue::main());
    }

    void TearDown() override {
        session_->stopRunning();
        session_.reset();
        CaptureEnvironment::shared().reset();
        MainLoopFixture::TearDown();
    }

    std::shared_ptr<CaptureSession> session_;
    std::shared_ptr<CaptureMetadataOutput> output_ = CaptureMetadataOutput::create();
    std::shared_ptr<Deliveries> deliveries_ = std::make_shared<Deliveries>();
};

TEST_F(CaptureMetadataOutputTest, CameraFramesShowingAQrCodeDeliverItsTextAndCorners) {
    EXPECT_TRUE(CaptureMetadataOutput::create()->availableMetadataObjectTypes().empty());
    output_->setMetadataObjectTypes(output_->availableMetadataObjectTypes());
    EXPECT_EQ(output_->metadataObjectTypes().size(), CaptureMetadataOutput::codeTypes().size() + 1);
    CaptureEnvironment::shared().setCameraImage(
            CodeImage::qrCode("https://example.test/a?b=1", 1080, 1920, {240, 660, 600}));
    session_->startRunning();
    ASSERT_TRUE(RunLoop::runUntil([&] { return !deliveries_->lists.empty(); }));

    const auto& objects = deliveries_->lists[0];
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].type, CaptureMetadataOutput::kQRCode);
    EXPECT_EQ(objects[0].stringValue, "https://example.test/a?b=1");
    ASSERT_EQ(objects[0].corners.size(), 4u);
    // The symbol lies inside the placed square (its quiet zone makes it a little smaller).
    EXPECT_GT(objects[0].x, 240.0 / 1080);
    EXPECT_LT(objects[0].x + objects[0].width, 840.0 / 1080);
    EXPECT_GT(objects[0].y, 660.0 / 1920);
    EXPECT_LT(objects[0].y + objects[0].height, 1260.0 / 1920);
    EXPECT_GT(objects[0].width, 400.0 / 1080);
}

TEST_F(CaptureMetadataOutputTest, OnlyTheAskedForTypesAreReported) {
    output_->setMetadataObjectTypes({CaptureMetadataOutput::kQRCode, "not a type"});
    EXPECT_THAT(output_->metadataObjectTypes(),
                ::testing::ElementsAre(CaptureMetadataOutput::kQRCode));
    auto barcode = CodeImage::ean13("590123412345", 1080, 1920, {140, 200, 800});
    CodeImage::drawQrCode(*barcode, "second", {290, 1100, 500});
    EXPECT_EQ(output_->decodeFrame(*barcode), 1u);

    EXPECT_FALSE(output_->deliverObjects({object(CaptureMetadataOutput::kEAN13)}));
    EXPECT_TRUE(output_->deliverObjects({object(CaptureMetadataOutput::kEAN13),
                                         object(CaptureMetadataOutput::kQRCode, "injected")}));
    ASSERT_TRUE(RunLoop::runUntil([&] { return deliveries_->lists.size() == 2; }));
    EXPECT_EQ(deliveries_->lists[0].at(0).stringValue, "second");
    ASSERT_EQ(deliveries_->lists[1].size(), 1u);
    EXPECT_EQ(deliveries_->lists[1][0].stringValue, "injected");

    // Both codes are found, in the decoder's order, once the bar code is asked for too.
    output_->setMetadataObjectTypes(
            {CaptureMetadataOutput::kQRCode, CaptureMetadataOutput::kEAN13});
    EXPECT_EQ(output_->decodeFrame(*barcode), 2u);
    ASSERT_TRUE(RunLoop::runUntil([&] { return deliveries_->lists.size() == 3; }));
    std::vector<std::string> found;
    for (const auto& object : deliveries_->lists[2]) {
        found.push_back(*object.stringValue);
    }
    EXPECT_THAT(found, ::testing::UnorderedElementsAre("second", "5901234123457"));
}

TEST_F(CaptureMetadataOutputTest, AFrameWithoutCodesIsNotReported) {
    output_->setMetadataObjectTypes(output_->availableMetadataObjectTypes());
    auto blank = CodeImage::qrCode("x", 64, 64, {0, 0, 1});
    EXPECT_EQ(output_->decodeFrame(*blank), 0u);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(deliveries_->lists.empty());
}

TEST(CaptureDeviceDiscoverySessionTest, FindsTheWideAngleCamerasAtThePositionAsked) {
    auto& environment = CaptureEnvironment::shared();
    environment.reset();
    const std::vector<CaptureDeviceType> wide{CaptureDeviceType::BuiltInWideAngleCamera};
    using Discovery = CaptureDeviceDiscoverySession;
    EXPECT_TRUE(
            Discovery::discoverySession(wide, MediaType::Video, CaptureDevicePosition::Unspecified)
                    .devices()
                    .empty());
    environment.addFrontCamera()
            .addDualCamera(CaptureDevicePosition::Back)
            .addMicrophone()
            .addBackCamera();
    const auto any =
            Discovery::discoverySession(wide, MediaType::Video, CaptureDevicePosition::Unspecified);
    ASSERT_EQ(any.devices().size(), 2u);
    EXPECT_EQ(any.devices()[0]->position(), CaptureDevicePosition::Front);
    EXPECT_EQ(any.devices()[1]->position(), CaptureDevicePosition::Back);
    const auto back =
            Discovery::discoverySession(wide, MediaType::Video, CaptureDevicePosition::Back);
    ASSERT_EQ(back.devices().size(), 1u);
    EXPECT_EQ(back.devices()[0]->deviceType(), CaptureDeviceType::BuiltInWideAngleCamera);
    environment.reset();
}

}  // namespace
}  // namespace pelmar::av
