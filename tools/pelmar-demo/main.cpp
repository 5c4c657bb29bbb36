// The host app of the README's main job: creates the SDK facade the way an app does at start-up
// and shows what it holds: the service endpoints of each region and the options it starts with.
#include <cstdio>
#include <memory>
#include <string>

#include "pelmar/core/Pelmar.h"

namespace {

void printFacade(const std::string& token) {
    auto pelmar = std::make_shared<pelmar::Pelmar>(token);
    const pelmar::PelmarConfig& config = pelmar->config();
    std::printf("facade for token \"%s\"\n", pelmar->getAppToken().c_str());
    std::printf("  serverAPIUrl     %s\n", config.serverAPIUrl().c_str());
    std::printf("  cdnAPIUrl        %s\n", config.cdnAPIUrl().c_str());
    std::printf("  devServerApiUrl  %s\n", config.devServerApiUrl().c_str());
    std::printf("  fileServerUrl    %s\n", config.fileServerUrl().c_str());
    std::printf("  videoRecorderConfig  %s\n",
                pelmar->getVideoRecorderConfig()->encode().dump().c_str());
    std::printf("  videoPlayerConfig    %s\n",
                pelmar->getVideoPlayerConfig()->encode().dump().c_str());
    std::printf("  qrCodeReaderConfig   %s\n",
                pelmar->getQrScannerConfig()->encode().dump().c_str());
    std::printf("  fileSelectorConfig   %s\n",
                pelmar->getFileSelectorConfig()->encode().dump().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            printFacade(argv[i]);
        }
        return 0;
    }
    printFacade("demo-app-token");
    printFacade("r1-demo-app-token");
    return 0;
}
