#include "pelmar/core/testing/ServiceFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <utility>

#include "testing/Waits.h"

namespace pelmar::test {

void ServiceFixture::SetUp() {
    MainLoopFixture::SetUp();
    ASSERT_NO_THROW(emulator_.start());
    if (makeFacadeInSetUp()) {
        makeFacade();
    }
}

std::shared_ptr<Pelmar> makeFacadeFor(const ServiceEmulator& emulator,
                                      const std::string& appToken) {
    auto facade = std::make_shared<Pelmar>(appToken);
    auto& config = facade->config();
    config.setServerAPIUrl(emulator.apiBase());
    config.setCdnAPIUrl(emulator.cdnApiBase());
    config.setDevServerApiUrl(emulator.devApiBase());
    config.setFileServerUrl(emulator.fileServerBase());
    return facade;
}

void ServiceFixture::makeFacade() {
    facade_ = makeFacadeFor(emulator_, kApp);
    facade_->setUploadingDelegate(delegate_);
}

void ServiceFixture::TearDown() {
    emulator_.releaseHeld();
    facade_.reset();
    emulator_.stop();
    MainLoopFixture::TearDown();
}

void ServiceFixture::runUntil(const std::function<bool()>& predicate) {
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, predicate)) << "condition never held";
}

std::filesystem::path ServiceFixture::writeFile(const std::string& name, size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 random(static_cast<unsigned>(size));
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    const auto path = sandbox_.root() / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::vector<std::string> ServiceFixture::requestLines() const {
    std::vector<std::string> lines;
    for (const auto& request : emulator_.requests()) {
        if (request.path.ends_with("/session")) {
            continue;
        }
        lines.push_back(request.method + " " + std::string(roleName(request.role)) + " "
                        + request.path);
    }
    return lines;
}

int ServiceFixture::fail(std::string method,
                         Role role,
                         std::string pathPattern,
                         int status,
                         std::string body,
                         bool persistent) {
    ServiceEmulator::Fault fault;
    fault.method = std::move(method);
    fault.role = role;
    fault.pathPattern = std::move(pathPattern);
    fault.status = status;
    fault.body = std::move(body);
    fault.persistent = persistent;
    return emulator_.addFault(std::move(fault));
}

int ServiceFixture::hold(std::string method, Role role, std::string pathPattern) {
    ServiceEmulator::Fault fault;
    fault.method = std::move(method);
    fault.role = role;
    fault.pathPattern = std::move(pathPattern);
    fault.hold = true;
    return emulator_.addFault(std::move(fault));
}

}  // namespace pelmar::test
