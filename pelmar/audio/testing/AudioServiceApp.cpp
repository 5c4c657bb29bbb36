#include "pelmar/audio/testing/AudioServiceApp.h"

#include <gtest/gtest.h>

namespace pelmar::test {

AudioServiceApp::AudioServiceApp() {
    EXPECT_NO_THROW(emulator.start());
    facade = std::make_shared<Pelmar>("app-1");
    auto& config = facade->config();
    config.setServerAPIUrl(emulator.apiBase());
    config.setCdnAPIUrl(emulator.cdnApiBase());
    config.setDevServerApiUrl(emulator.devApiBase());
    config.setFileServerUrl(emulator.fileServerBase());
    facade->setUploadingDelegate(uploads);
}

AudioServiceApp::~AudioServiceApp() {
    facade.reset();
    settle();
    emulator.releaseHeld();
}

}  // namespace pelmar::test
