#include "pelmar/recorder/testing/RecorderServiceApp.h"

#include <gtest/gtest.h>

namespace pelmar::test {

RecorderServiceApp::RecorderServiceApp() {
    emulator.start();
    facade = std::make_shared<Pelmar>("app-1");
    auto& config = facade->config();
    config.setServerAPIUrl(emulator.apiBase());
    config.setCdnAPIUrl(emulator.cdnApiBase());
    config.setDevServerApiUrl(emulator.devApiBase());
    config.setFileServerUrl(emulator.fileServerBase());
    facade->enableDebugLogs = true;
    facade->setUploadingDelegate(uploads);
    facade->setRecorderDelegate(events);
    facade->setSensorDelegate(events);
}

RecorderServiceApp::~RecorderServiceApp() {
    if (recorder) {
        if (auto session = recorder->session()) {
            session->stopRunning();
        }
        drainSessionQueue();
    }
    settle();
    emulator.releaseHeld();
}

}  // namespace pelmar::test
