#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/messageui/MailComposeViewController.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "testing/App.h"

namespace pelmar {
namespace {

using messageui::MailComposeViewController;

// Every answer as a line ("camera true"), with whether it came on the main thread.
class Answers : public PelmarHardwarePermissionDelegate {
public:
    std::vector<std::string> lines;
    bool allOnMain = true;

    void checkHasCamera(bool v) override { add("has camera", v); }

    void checkHasMicrophone(bool v) override { add("has microphone", v); }

    void checkCameraPermission(bool v) override { add("camera", v); }

    void checkPhotoLibraryPermission(bool v) override { add("photos", v); }

    void checkMicrophonePermission(bool v) override { add("microphone", v); }

private:
    void add(const std::string& what, bool v) {
        allOnMain = allOnMain && dispatch::isMainThread();
        lines.push_back(what + (v ? " true" : " false"));
    }
};

// Lets a test make the device able to send mail, and puts it back.
struct MailAccount {
    explicit MailAccount(bool can) { MailComposeViewController::setCanSendMail(can); }

    ~MailAccount() { MailComposeViewController::setCanSendMail(false); }
};

TEST(PelmarSupportTest, SettingTheDelegateReportsHardwareThenPermissionsWithAnswersOnMain) {
    struct Case {
        const char* name;
        bool devices;
        av::AuthorizationStatus camera;
        photos::AuthorizationStatus photos;
        bool microphoneAnswer;
        std::vector<std::string> heard;
    };

    const Case cases[] = {
            {"all there and granted",
             true,
             av::AuthorizationStatus::Authorized,
             photos::AuthorizationStatus::Authorized,
             true,
             {"has camera true", "has microphone true", "camera true", "photos true",
              "microphone true"}},
            {"nothing there, limited photos, refused",
             false,
             av::AuthorizationStatus::Denied,
             photos::AuthorizationStatus::Limited,
             false,
             {"has camera false", "has microphone false", "camera false", "photos false",
              "microphone false"}},
            {"camera not asked yet",
             true,
             av::AuthorizationStatus::NotDetermined,
             photos::AuthorizationStatus::Denied,
             true,
             {"has camera true", "has microphone true", "camera false", "photos false",
              "microphone true"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        photos::PhotoLibrary::shared().reset();
        photos::PhotoLibrary::shared().setAuthorizationStatus(c.photos);
        if (c.devices) {
            app.devices().addBackCamera().addMicrophone();
        }
        app.devices().setAuthorizationStatus(av::MediaType::Video, c.camera);
        app.permissions().ask(av::MediaType::Audio, c.microphoneAnswer);
        auto answers = std::make_shared<Answers>();
        app.sdk()->setHardwarePermissionDelegate(answers);
        ASSERT_TRUE(app.runUntil([&] { return answers->lines.size() == 5; }));
        app.settle();
        // The hardware and camera answers come first, in order; the two questions are answered
        // whenever the platform answers them.
        ASSERT_EQ(answers->lines.size(), c.heard.size());
        EXPECT_EQ(std::vector<std::string>(answers->lines.begin(), answers->lines.begin() + 3),
                  std::vector<std::string>(c.heard.begin(), c.heard.begin() + 3));
        EXPECT_EQ(std::set<std::string>(answers->lines.begin() + 3, answers->lines.end()),
                  std::set<std::string>(c.heard.begin() + 3, c.heard.end()));
        EXPECT_TRUE(answers->allOnMain);
    }
}

TEST(PelmarSupportTest, OnlyABuiltInOrHeadsetMicrophoneCountsAsAMicrophone) {
    using Port = av::AudioSessionPortDescription;
    const Port builtIn{std::string(av::kAudioSessionPortBuiltInMic), "Built-in", "mic-1"};
    const Port headset{std::string(av::kAudioSessionPortHeadsetMic), "Headset", "mic-2"};
    const Port bluetooth{std::string(av::kAudioSessionPortBluetoothHFP), "Car", "bt-1"};
    const Port lineIn{std::string(av::kAudioSessionPortLineIn), "Line", "line-1"};

    struct Case {
        const char* name;
        std::vector<Port> inputs;
        bool hasMicrophone;
    };

    const Case cases[] = {
            {"built-in", {builtIn}, true},
            {"headset only", {headset}, true},
            {"headset after other inputs", {bluetooth, lineIn, headset}, true},
            {"other inputs only", {bluetooth, lineIn}, false},
            {"no input", {}, false},
    };

    struct ScriptedInputs {
        ~ScriptedInputs() { av::AudioSession::shared().setAvailableInputs(std::nullopt); }
    } scripted;

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        // The capture environment has a microphone; the scripted inputs win over it.
        app.devices().addMicrophone();
        av::AudioSession::shared().setAvailableInputs(c.inputs);
        auto answers = std::make_shared<Answers>();
        app.sdk()->setHardwarePermissionDelegate(answers);
        ASSERT_GE(answers->lines.size(), 2U);
        EXPECT_EQ(answers->lines[1],
                  std::string("has microphone ") + (c.hasMicrophone ? "true" : "false"));
        app.settle();
    }
}

TEST(PelmarSupportTest, TheMicrophoneAnswerHoldsTheFacadeWeaklyThePhotoAnswerStrongly) {
    test::App app;
    photos::PhotoLibrary::shared().reset();
    photos::PhotoLibrary::shared().setAuthorizationStatus(photos::AuthorizationStatus::Authorized);
    app.permissions().ask(av::MediaType::Audio, true).answerAfter(1.0);
    auto answers = std::make_shared<Answers>();
    std::weak_ptr<Pelmar> weak;
    {
        auto facade = std::make_shared<Pelmar>();
        weak = facade;
        facade->setHardwarePermissionDelegate(answers);
    }
    // The photo question keeps the facade until its answer is told.
    ASSERT_TRUE(app.runUntil([&] {
        return std::find(answers->lines.begin(), answers->lines.end(), "photos true")
               != answers->lines.end();
    }));
    app.settle();
    EXPECT_TRUE(weak.expired());
    // The microphone answer comes after the facade ended: nobody is told.
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.devices().requestCount(av::MediaType::Audio), 1);
    for (const auto& line : answers->lines) {
        EXPECT_EQ(line.rfind("microphone", 0), std::string::npos) << line;
    }
}

TEST(PelmarSupportTest, WithoutADelegateThePermissionsAreStillAsked) {
    test::App app;
    photos::PhotoLibrary::shared().reset();
    app.permissions().ask(av::MediaType::Audio, true);
    app.sdk()->setHardwarePermissionDelegate(nullptr);
    app.settle();
    EXPECT_EQ(photos::PhotoLibrary::shared().authorizationRequestCount(), 1);
    EXPECT_EQ(app.devices().requestCount(av::MediaType::Audio), 1);
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PelmarSupportTest, AReportWritesTheLogAndMailsItToSupport) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::string bytes;
    };

    const Case cases[] = {
            {"two lines", {"a", "b"}, "a\nb"},
            {"no lines", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        MailAccount account(true);
        const auto log = foundation::Sandbox::documentsDirectory() / Pelmar::kSupportLogFileName;
        std::ofstream(log) << "the last report";
        app.sdk()->sendReport(c.lines);
        EXPECT_EQ(readAll(log), c.bytes);
        // The report is for the user and support alone, whatever the umask lets through.
        EXPECT_EQ(std::filesystem::status(log).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        app.settle();
        auto mail = std::dynamic_pointer_cast<MailComposeViewController>(app.topViewController());
        ASSERT_NE(mail, nullptr);
        EXPECT_EQ(mail->toRecipients(), std::vector<std::string>{"support@pelmar.io"});
        EXPECT_EQ(mail->subject(), Pelmar::kSupportReportSubject);
        EXPECT_EQ(mail->messageBody(), "");
        EXPECT_TRUE(mail->isHTML());
        ASSERT_EQ(mail->attachments().size(), 1U);
        const auto& attachment = mail->attachments()[0];
        EXPECT_EQ(std::string(attachment.data.begin(), attachment.data.end()), c.bytes);
        EXPECT_EQ(attachment.mimeType, "text/plain");
        EXPECT_TRUE(std::regex_match(attachment.fileName,
                                     std::regex(R"(PelmarLogs_[0-9]+\.[0-9]+\.log)")))
                << attachment.fileName;

        // The user sends it: the facade dismisses the mail screen.
        mail->finish(messageui::MailComposeResult::Sent);
        app.advance(1.0);
        app.settle();
        EXPECT_EQ(app.topViewController(), app.root());
    }
}

TEST(PelmarSupportTest, AReportIsAttachedWhenTheDocumentsPathHoldsURLSyntax) {
    test::App app;
    MailAccount account(true);
    const auto settings = foundation::Sandbox::settings();
    // "%" and "#" would read as an escape and a fragment in a file URL that is not encoded.
    foundation::Sandbox::setRoot(app.sandboxRoot() / "50% off #2");
    app.sdk()->sendReport({"x"});
    app.settle();
    auto mail = std::dynamic_pointer_cast<MailComposeViewController>(app.topViewController());
    foundation::Sandbox::restore(settings);
    ASSERT_NE(mail, nullptr);
    ASSERT_EQ(mail->attachments().size(), 1U);
    EXPECT_EQ(std::string(mail->attachments()[0].data.begin(), mail->attachments()[0].data.end()),
              "x");
}

TEST(PelmarSupportTest, AMailToSupportCarriesWhatItWasGivenOrNothingItCannotRead) {
    test::App app;
    MailAccount account(true);
    app.sdk()->config().setSupportEmailAddress("help@example.org");
    const auto file = foundation::Sandbox::documentsDirectory() / "my notes.txt";
    std::ofstream(file) << "notes";
    app.sdk()->sendEmailToSupport("Subject", "<b>Body</b>",
                                  FileInfoData::fromPath(file.string(), "text/plain", "n.txt"));
    app.settle();
    auto mail = std::dynamic_pointer_cast<MailComposeViewController>(app.topViewController());
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->toRecipients(), std::vector<std::string>{"help@example.org"});
    EXPECT_EQ(mail->subject(), "Subject");
    EXPECT_EQ(mail->messageBody(), "<b>Body</b>");
    ASSERT_EQ(mail->attachments().size(), 1U);  // a blank in the name reads all the same
    EXPECT_EQ(mail->attachments()[0].fileName, "n.txt");
    mail->finish(messageui::MailComposeResult::Cancelled);
    app.advance(1.0);
    app.settle();

    app.sdk()->sendEmailToSupport("Subject", "",
                                  FileInfoData::fromPath("/no/such/file", "text/plain", "x"));
    app.settle();
    mail = std::dynamic_pointer_cast<MailComposeViewController>(app.topViewController());
    ASSERT_NE(mail, nullptr);
    EXPECT_TRUE(mail->attachments().empty());
}

TEST(PelmarSupportTest, ADeviceThatCannotSendMailShowsNothing) {
    test::App app;
    MailAccount account(false);
    app.sdk()->sendEmailToSupport();
    app.sdk()->sendReport({"a"});
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
    // The report's file is still written.
    EXPECT_EQ(readAll(foundation::Sandbox::documentsDirectory() / Pelmar::kSupportLogFileName),
              "a");
}

}  // namespace
}  // namespace pelmar
