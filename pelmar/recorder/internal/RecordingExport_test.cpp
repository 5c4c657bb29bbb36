#include "pelmar/recorder/internal/RecordingExport.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/TempDir.h"

namespace pelmar::recorder::internal {
namespace {

using Status = av::AssetExportSession::Status;

TEST(RecordingExportTest, EachEndOfAnExportHasItsOwnWords) {
    struct Case {
        const char* name;
        Status status;
        std::optional<Error> error;
        bool completed;
        std::optional<std::string> log;
        std::optional<std::string> logError;
    };

    const Case cases[] = {
            {"completed", Status::Completed, std::nullopt, true, std::nullopt, std::nullopt},
            {"failed", Status::Failed, Error{"pelmar.av.export", 5, "the encoder stopped"}, false,
             std::nullopt, "Export failed: the encoder stopped"},
            {"failed without an error", Status::Failed, std::nullopt, false, std::nullopt,
             "Export failed: nil"},
            {"cancelled", Status::Cancelled, Error{"pelmar.av.export", 6, "cancelled"}, false,
             "Export canceled", std::nullopt},
            {"never started", Status::Unknown, std::nullopt, false, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = exportOutcome(c.status, c.error);
        EXPECT_EQ(outcome.completed, c.completed);
        EXPECT_EQ(outcome.log, c.log);
        EXPECT_EQ(outcome.logError, c.logError);
    }
}

TEST(RecordingExportTest, TwoExportsInOneSecondGetTwoNames) {
    test::TempDir folder;
    EXPECT_EQ(exportPath(folder.path(), 786000123.9), folder.path() / "786000123.mp4");
    std::ofstream(folder.path() / "786000123.mp4") << "first";
    EXPECT_EQ(exportPath(folder.path(), 786000123.2), folder.path() / "786000123-1.mp4");
    std::ofstream(folder.path() / "786000123-1.mp4") << "second";
    EXPECT_EQ(exportPath(folder.path(), 786000123.2), folder.path() / "786000123-2.mp4");
}

}  // namespace
}  // namespace pelmar::recorder::internal
