// pelmar-demo and pelmar-service as child processes: their options reach the service they name,
// the demo reports a failing or odd service with an error and a non-zero exit instead of a crash
// or an empty success, and the demo's whole road runs against a pelmar-service on its own port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/LoopbackPort.h"
#include "testing/RunProgram.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempDir.h"

namespace {

namespace fs = std::filesystem;
using pelmar::test::FreeLoopbackPort;
using pelmar::test::RunProgram;
using pelmar::test::ServiceEmulator;
using pelmar::test::TempDir;

pelmar::test::ProgramResult RunDemo(const std::string& args) {
    return RunProgram(PELMAR_DEMO_PATH, args);
}

fs::path WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

class PelmarDemoIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override { service_.start(); }

    std::string Service() const { return " --service " + service_.apiBase(); }

    ServiceEmulator service_;
    TempDir dir_;
};

TEST_F(PelmarDemoIntegrationTest, ServiceAndTokenOptionsReachTheServiceGiven) {
    const fs::path file = WriteFile(dir_.path() / "clip.mp4", std::string(3000, 'v'));

    const pelmar::test::ProgramResult upload =
            RunDemo("upload '" + file.string() + "'" + Service() + " --token app-7");
    ASSERT_EQ(upload.status, 0) << upload.output;
    const auto stored = service_.uploads();
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(stored[0].appToken, "app-7");
    EXPECT_EQ(stored[0].size, 3000U);

    // Options may come before the command too.
    const pelmar::test::ProgramResult list = RunDemo("--token app-7" + Service() + " list");
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("videos (1)"), std::string::npos) << list.output;
    EXPECT_FALSE(service_.requestsMatching("GET", "/v1/applications/app-7/videos").empty());
}

TEST_F(PelmarDemoIntegrationTest, RefusesAServiceThatIsNotAnHttpUrlWithAHost) {
    const std::string port = std::to_string(service_.port(pelmar::test::Role::Api));
    for (const std::string& url : {"127.0.0.1:" + port, std::string("http://"),
                                   "http://:" + port + "/x", "ftp://127.0.0.1:" + port}) {
        SCOPED_TRACE(url);
        const pelmar::test::ProgramResult result = RunDemo("list --service '" + url + "'");
        EXPECT_EQ(result.status, 2) << result.output;
        EXPECT_NE(result.output.find("--service needs an http:// or https:// URL"),
                  std::string::npos)
                << result.output;
    }
    EXPECT_TRUE(service_.requests().empty());
}

TEST_F(PelmarDemoIntegrationTest, ListOfAFailingServiceExitsNonZeroWithTheError) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        std::string contentType;
    };

    const Case cases[] = {
            {"server error", 500, R"({"error":"boom"})", "application/json"},
            {"forbidden", 403, R"({"error":"no"})", "application/json"},
            {"html page", 200, "<html><body>maintenance</body></html>", "text/html"},
            {"malformed json", 200, "[{\"token\":", "application/json"},
            {"object instead of list", 200, R"({"videos":[]})", "application/json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearFaults();
        ServiceEmulator::Fault fault;
        fault.method = "GET";
        fault.pathPattern = ".*/videos";
        fault.persistent = true;
        fault.status = c.status;
        fault.body = c.body;
        fault.contentType = c.contentType;
        service_.addFault(fault);

        const pelmar::test::ProgramResult result = RunDemo("list" + Service());
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find("list failed"), std::string::npos) << result.output;
    }
}

TEST_F(PelmarDemoIntegrationTest, ConfirmAnswerOfAnUnexpectedTypeFailsTheUploadWithoutCrashing) {
    const fs::path file = WriteFile(dir_.path() / "clip.mp4", "abc");
    ServiceEmulator::Fault fault;
    fault.method = "POST";
    fault.pathPattern = ".*/confirm-video";
    fault.status = 200;
    fault.body = R"({"token":3,"title":["x"]})";
    service_.addFault(fault);

    const pelmar::test::ProgramResult result =
            RunDemo("upload '" + file.string() + "'" + Service());
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("the confirm answer has no token"), std::string::npos)
            << result.output;
}

// pelmar-service running in the background until the object ends (SIGTERM, then reaped).
class ServiceProcess {
public:
    // Starts the program with `args` and reads its start-up lines up to "data ..."; false when
    // it ended before (for example because the port was taken).
    bool Start(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return false;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv{const_cast<char*>(PELMAR_SERVICE_PATH)};
            for (const auto& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(PELMAR_SERVICE_PATH, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
        char line[1024];
        while (std::fgets(line, sizeof line, out_) != nullptr) {
            output_ += line;
            if (std::string(line).rfind("data ", 0) == 0) {
                return true;
            }
        }
        return false;
    }

    ~ServiceProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ != nullptr) {
            std::fclose(out_);
        }
    }

    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string output_;
};

TEST(PelmarServiceIntegrationTest, DemoRunsItsWholeRoadAgainstAServiceOnItsOwnPort) {
    TempDir data;
    ServiceProcess service;
    uint16_t port = 0;
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
        const uint16_t candidate = FreeLoopbackPort();
        if (service.Start({"--port", std::to_string(candidate), "--data", data.path().string(),
                           "--no-session"})) {
            port = candidate;
        }
    }
    ASSERT_NE(port, 0) << service.output();
    const std::string api = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_NE(service.output().find("api " + api + "\n"), std::string::npos) << service.output();
    EXPECT_NE(service.output().find("data " + data.path().string()), std::string::npos);

    const pelmar::test::ProgramResult road = RunDemo("--service " + api + "/ --token road-app");
    ASSERT_EQ(road.status, 0) << road.output;
    EXPECT_NE(road.output.find("the whole road works"), std::string::npos) << road.output;
    // The upload reached this service, not one the demo started itself.
    EXPECT_FALSE(fs::is_empty(data.path() / "files"));
}

TEST(PelmarServiceIntegrationTest, RefusesBadOptionsWithUsage) {
    for (const char* args : {"--port 65536", "--port x1", "--port", "--data ''", "--bogus"}) {
        SCOPED_TRACE(args);
        const pelmar::test::ProgramResult result = RunProgram(PELMAR_SERVICE_PATH, args);
        EXPECT_EQ(result.status, 2) << result.output;
        EXPECT_NE(result.output.find("usage: pelmar-service"), std::string::npos);
    }
}

}  // namespace
