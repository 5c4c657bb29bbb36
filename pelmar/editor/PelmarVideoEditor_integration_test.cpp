#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/editor/PelmarVideoEditor.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "testing/App.h"
#include "testing/CountingMovie.h"
#include "testing/NginxHttpServer.h"

namespace pelmar {
namespace {

using av::test::MovieProbe;
using photos::AuthorizationStatus;
using photos::PhotoLibrary;

// Frames of the counting movies come at 10 per second.
constexpr int kRate = 10;
// The strip of a 12-second movie: seconds 1, 3, 5, 7, 9 and 11.
const std::vector<int> k12SecondFrames = {10, 30, 50, 70, 90, 110};

class PelmarVideoEditorIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        PhotoLibrary::shared().reset(app_.sandboxRoot() / "Photos");
        PhotoLibrary::shared().setAuthorizationStatus(AuthorizationStatus::Authorized);
    }

    void TearDown() override { PhotoLibrary::shared().reset(app_.sandboxRoot() / "Photos"); }

    // A counting movie of `seconds` outside Documents.
    std::filesystem::path movie(double seconds, bool audio = false) {
        const auto path = app_.sandboxRoot() / ("clip-" + std::to_string(seconds) + ".mp4");
        test::CountingMovie spec;
        spec.seconds = seconds;
        spec.audio = audio;
        EXPECT_EQ(spec.write(path).status, 0);
        return path;
    }

    // The editor on `path` (or URL), presented and past its first second.
    std::shared_ptr<PelmarVideoEditor> open(const std::filesystem::path& path) {
        return open(path.string());
    }

    std::shared_ptr<PelmarVideoEditor> open(const std::string& videoUrl) {
        auto editor = PelmarVideoEditor::create(app_.sdk(), videoUrl);
        editor->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        app_.root()->present(editor, true);
        app_.advance(1);
        return editor;
    }

    std::vector<std::shared_ptr<ui::Button>> thumbnails(PelmarVideoEditor& editor) {
        std::vector<std::shared_ptr<ui::Button>> buttons;
        for (const auto& view : editor.imageFrameView.lock()->subviews()) {
            if (auto button = std::dynamic_pointer_cast<ui::Button>(view)) {
                buttons.push_back(button);
            }
        }
        return buttons;
    }

    // The strip holds six untouchable slots showing frames `frames` of `source` (-1: no picture).
    void expectStrip(PelmarVideoEditor& editor,
                     const std::filesystem::path& source,
                     const std::vector<int>& frames) {
        const auto buttons = thumbnails(editor);
        ASSERT_EQ(buttons.size(), frames.size());
        for (size_t i = 0; i < buttons.size(); ++i) {
            SCOPED_TRACE(i);
            auto image = buttons[i]->image(ui::ControlState::Normal);
            EXPECT_FALSE(buttons[i]->isUserInteractionEnabled());
            if (frames[i] < 0) {
                EXPECT_FALSE(image);
            } else {
                ASSERT_TRUE(image);
                EXPECT_TRUE(test::ShowsFrame(image->bitmap().get(), source, frames[i]));
            }
        }
    }

    // The centres of the thumbs as painted along the slider's middle row, left to right (the
    // track is clear, so only thumbs put ink there).
    static std::vector<double> drawnThumbCentres(RangeSlider& slider) {
        std::vector<double> centres;
        const auto bitmap = ui::render(slider);
        if (!bitmap) {
            ADD_FAILURE() << "the slider paints nothing";
            return centres;
        }
        const int y = bitmap->height() / 2;
        int runStart = -1;
        for (int x = 0; x <= bitmap->width(); ++x) {
            const bool ink = x < bitmap->width() && bitmap->pixel(x, y)[3] > 127;
            if (ink && runStart < 0) {
                runStart = x;
            } else if (!ink && runStart >= 0) {
                centres.push_back((runStart + x) / 2.0);
                runStart = -1;
            }
        }
        return centres;
    }

    // A finger drags the thumb painted at the place of `value` to where the slider paints
    // `to`; the thumb must then be painted under the finger.
    void dragThumb(PelmarVideoEditor& editor, double value, double to) {
        auto& slider = *editor.rangeSlider;
        const double y = slider.bounds().height / 2;
        const bool lower = value == slider.lowerValue();
        ASSERT_TRUE(lower || value == slider.upperValue());
        const auto before = drawnThumbCentres(slider);
        ASSERT_EQ(before.size(), 2u);
        const double from = slider.positionForValue(value);
        ASSERT_NEAR(lower ? before.front() : before.back(), from, 1) << "no thumb painted there";
        const double target = slider.positionForValue(to);
        ui::TouchSequence finger(app_.window());
        ASSERT_FALSE(finger.begin({slider.convertTo(ui::Point{from, y}, nullptr)}));
        finger.move({slider.convertTo(ui::Point{target, y}, nullptr)});
        const auto after = drawnThumbCentres(slider);
        finger.end();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_NEAR(lower ? after.front() : after.back(), target, 1) << "the thumb left the finger";
        EXPECT_NEAR(lower ? slider.lowerValue() : slider.upperValue(), to, 1e-9);
    }

    // The nib's close control: the button titled "Close".
    static std::shared_ptr<ui::Button> closeControl(PelmarVideoEditor& editor) {
        for (const auto& view : editor.view()->subviews()) {
            auto button = std::dynamic_pointer_cast<ui::Button>(view);
            if (button && button->title() == "Close") {
                return button;
            }
        }
        return nullptr;
    }

    static std::vector<std::filesystem::path> outputs() {
        return foundation::FileManager::contentsOfDirectory(
                foundation::Sandbox::documentsDirectory() / "output");
    }

    // Waits for the export's console line, then lets the library and the dismissal finish.
    bool finishExport(const foundation::Console::Capture& console, const std::string& line) {
        if (!app_.runUntil([&] { return console.contains(line); }, 120)) {
            return false;
        }
        app_.settle();
        app_.advance(1);
        app_.settle();
        app_.advance(1);
        return true;
    }

    test::App app_;
};

TEST_F(PelmarVideoEditorIntegrationTest, TrimsThroughTheFacadeSavesDismissesAndConfirms) {
    const auto source = movie(12, true);
    app_.sdk()->trimVideo(source.string());
    app_.advance(1);
    auto editor = app_.find<PelmarVideoEditor>();
    ASSERT_TRUE(editor);
    const auto copy = foundation::Sandbox::documentsDirectory() / "video.mp4";
    EXPECT_EQ(editor->videoUrl, copy.string());
    EXPECT_EQ(editor->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);

    // Six frames at 1, 3, 5, 7, 9 and 11 s of the 12-second copy.
    expectStrip(*editor, copy, k12SecondFrames);
    ASSERT_TRUE(editor->rangeSlider);
    EXPECT_EQ(editor->rangeSlider->maximumValue(), 5);
    // The video shows once its item is ready, as on a phone.
    ASSERT_TRUE(app_.runUntil([&] { return editor->playerLayer->isReadyForDisplay(); }, 30));
    app_.writeSnapshot(*editor->view(), "PelmarVideoEditor_trim.png");
    app_.expectLooksRight(*editor->view(), /*pictures=*/1);

    // The members a host may use for its own ends: untouched, and the cache new and empty.
    EXPECT_FALSE(editor->playbackTimeCheckerTimer);
    EXPECT_FALSE(editor->playerItem);
    ASSERT_TRUE(editor->cache);
    EXPECT_EQ(editor->cache->count(), 0u);

    // Loading played once, so the user's first tap pauses.
    ASSERT_TRUE(editor->player);
    EXPECT_EQ(editor->player->rate(), 1);
    EXPECT_FALSE(editor->isPlaying);
    ASSERT_TRUE(app_.tap(editor->videoLayer));
    EXPECT_TRUE(editor->isPlaying);
    EXPECT_EQ(editor->player->rate(), 0);
    ASSERT_TRUE(app_.tap(editor->videoLayer));
    EXPECT_EQ(editor->player->rate(), 1);

    // Each drag pauses the player and seeks it to the moved thumb.
    dragThumb(*editor, 5, 4);
    app_.settle();
    EXPECT_NEAR(editor->cropEndTime, 4.0, 1e-9);
    EXPECT_NEAR(editor->videoPlaybackPosition, 4.0, 1e-9);
    EXPECT_EQ(editor->player->rate(), 0);
    EXPECT_NEAR(editor->player->currentTime().seconds(), 4.0, 1e-6);
    dragThumb(*editor, 0, 1);
    app_.settle();
    EXPECT_NEAR(editor->cropStartTime, 1.0, 1e-9);
    EXPECT_NEAR(editor->videoPlaybackPosition, 1.0, 1e-9);
    EXPECT_NEAR(editor->player->currentTime().seconds(), 1.0, 1e-6);

    foundation::Console::Capture console;
    ASSERT_TRUE(app_.tap(editor->cropButton));
    ASSERT_TRUE(finishExport(console, "exported at "));
    const auto files = outputs();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_THAT(files[0].filename().string(),
                ::testing::MatchesRegex("Pelmar_[0-9]+\\.[0-9]+\\.mp4"));
    // The line names the output by its file URL.
    EXPECT_TRUE(console.contains("exported at " + foundation::fileURLFromPath(files[0])));
    const auto probe = MovieProbe::probe(files[0]);
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->videoDuration, 3.0, 1.0 / kRate);
    const auto first = MovieProbe::pixel(files[0], 0, 160, 120);
    const auto expected = MovieProbe::pixel(source, 1 * kRate, 160, 120);
    ASSERT_TRUE(first && expected);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR((*first)[c], (*expected)[c], 4) << c;
    }

    ASSERT_TRUE(app_.runUntil([&] { return app_.shownAlert() != nullptr; }));
    auto alert = app_.shownAlert();
    EXPECT_EQ(alert->title(), "Trimmed video was successfully saved.");
    EXPECT_EQ(alert->message(), "");
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0].title, "OK");
    EXPECT_EQ(alert->presentingViewController(), app_.root());
    EXPECT_EQ(PhotoLibrary::shared().state()->assets.size(), 1u);
    // The alert is drawn (its title has ink, its button draws) and a finger answers it.
    EXPECT_TRUE(app_.expectLooksRight(*alert->view()));
    EXPECT_TRUE(app_.tapAlertAction("OK"));
    EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(editor)));
}

TEST_F(PelmarVideoEditorIntegrationTest, ThumbnailsTakeOneSecondPlusASixthOfTheDurationEach) {
    struct Case {
        const char* name;
        double seconds;
        std::vector<int> frames;  // -1: no picture
    } cases[] = {
            {"4 s", 4, {10, 10, 10, 10, 10, 10}},
            // The last slot falls on the end: it shows the last frame.
            {"6 s", 6, {10, 20, 30, 40, 50, 59}},
            {"30 s", 30, {10, 60, 110, 160, 210, 260}},
            {"under 1 s", 0.8, {-1, -1, -1, -1, -1, -1}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = movie(c.seconds);
        foundation::Console::Capture console;
        auto editor = open(path);
        expectStrip(*editor, path, c.frames);
        EXPECT_EQ(console.contains("no thumbnail at 1 s"), c.frames[0] < 0);
        // The slider spans the first five seconds whatever the length.
        EXPECT_EQ(editor->rangeSlider->maximumValue(), 5);
        EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(editor)));
    }
}

// The strip's rounded border cuts the thumbnails: nothing shows outside its corners. A square
// movie fills each square slot of the strip to its edges.
TEST_F(PelmarVideoEditorIntegrationTest, ThumbnailStripIsCutAtItsRoundedCorners) {
    test::CountingMovie square;
    square.seconds = 6;
    square.size = "240x240";
    const auto path = app_.sandboxRoot() / "square.mp4";
    ASSERT_EQ(square.write(path).status, 0);
    auto editor = open(path);
    auto strip = editor->imageFrameView.lock();
    ASSERT_TRUE(strip);
    const auto bitmap = ui::render(*strip);
    ASSERT_TRUE(bitmap);
    const int w = bitmap->width();
    const int h = bitmap->height();

    const struct {
        const char* name;
        int x;
        int y;
    } corners[] = {
            {"top left", 0, 0},
            {"top right", w - 1, 0},
            {"bottom left", 0, h - 1},
            {"bottom right", w - 1, h - 1},
    };

    for (const auto& c : corners) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bitmap->pixel(c.x, c.y)[3], 0);
    }
    // Inside the border the first and the last thumbnail show.
    EXPECT_EQ(bitmap->pixel(6, 6)[3], 255);
    EXPECT_EQ(bitmap->pixel(w - 7, h - 7)[3], 255);
}

TEST_F(PelmarVideoEditorIntegrationTest, LoadsAVideoServedOverHTTPAndRefusesAStringThatIsNoURL) {
    test::NginxHttpServer server;
    server.Start();
    test::CountingMovie spec;
    spec.seconds = 12;
    const auto served = server.root() / "clip.mp4";
    ASSERT_EQ(spec.write(served).status, 0);

    auto editor = open(server.Url("/clip.mp4"));
    EXPECT_EQ(editor->url, server.Url("/clip.mp4"));
    ASSERT_TRUE(editor->asset);
    EXPECT_NEAR(editor->asset->duration().seconds(), 12, 0.2);
    expectStrip(*editor, served, k12SecondFrames);
    ASSERT_TRUE(editor->rangeSlider);
    EXPECT_EQ(editor->rangeSlider->maximumValue(), 5);
    ASSERT_TRUE(app_.runUntil([&] { return editor->playerLayer->isReadyForDisplay(); }, 30));
    EXPECT_EQ(editor->player->rate(), 1);
    EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(editor)));

    for (const std::string text :
         {"/data/http://clip.mp4", "http://", "https:///clip.mp4", "http://host/a clip.mp4"}) {
        SCOPED_TRACE(text);
        foundation::Console::Capture console;
        auto refused = open(text);
        EXPECT_TRUE(
                console.contains("PelmarVideoEditor: cannot load " + text + ": not a usable URL"));
        EXPECT_FALSE(refused->asset);
        EXPECT_FALSE(refused->rangeSlider);
        EXPECT_TRUE(thumbnails(*refused).empty());
        EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(refused)));
    }
}

TEST_F(PelmarVideoEditorIntegrationTest, CropBeforeAnySliderMoveExportsNothingAndFails) {
    auto editor = open(movie(6));
    foundation::Console::Capture console;
    ASSERT_TRUE(app_.tap(editor->cropButton));
    ASSERT_TRUE(finishExport(console, "failed "));
    EXPECT_TRUE(outputs().empty());
    EXPECT_FALSE(app_.shownAlert());
    EXPECT_EQ(app_.topViewController(), editor);
}

// A refused library keeps the screen; two exports within one clock second get names of their own.
TEST_F(PelmarVideoEditorIntegrationTest, RefusedLibraryKeepsTheScreenAndExportsNeverShareAName) {
    PhotoLibrary::shared().setAuthorizationStatus(AuthorizationStatus::Denied);
    auto editor = open(movie(6));
    dragThumb(*editor, 5, 2);
    foundation::Console::Capture console;
    ASSERT_TRUE(app_.tap(editor->cropButton));
    ASSERT_TRUE(app_.tap(editor->cropButton));
    ASSERT_TRUE(app_.runUntil(
            [&] {
                int done = 0;
                for (const auto& line : console.lines()) {
                    done += line.rfind("exported at ", 0) == 0 ? 1 : 0;
                }
                return done == 2;
            },
            120));
    app_.settle();
    app_.advance(2);
    const auto files = outputs();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(files[0], files[1]);
    EXPECT_FALSE(app_.shownAlert());
    EXPECT_EQ(app_.topViewController(), editor);
    EXPECT_TRUE(PhotoLibrary::shared().state()->assets.empty());
}

// A library whose user was never asked: the first save asks; a grant saves the trim and shows
// the confirmation, a refusal is printed and keeps the screen.
TEST_F(PelmarVideoEditorIntegrationTest, AFirstSaveAsksForTheLibraryAndARefusalIsPrinted) {
    const struct {
        const char* name;
        AuthorizationStatus answer;
        bool saved;
    } cases[] = {
            {"granted", AuthorizationStatus::Authorized, true},
            {"refused", AuthorizationStatus::Denied, false},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PhotoLibrary::shared().reset(app_.sandboxRoot() / "Photos");
        app_.permissions().askPhotoLibrary(c.answer);
        auto editor = open(movie(6));
        dragThumb(*editor, 5, 2);
        foundation::Console::Capture console;
        ASSERT_TRUE(app_.tap(editor->cropButton));
        ASSERT_TRUE(finishExport(console, "exported at "));
        ASSERT_TRUE(app_.runUntil([&] {
            return app_.shownAlert() != nullptr
                   || console.contains("PelmarVideoEditor: the trimmed video was not saved: ");
        }));
        EXPECT_EQ(PhotoLibrary::shared().authorizationRequestCount(), 1);
        EXPECT_EQ(PhotoLibrary::authorizationStatus(), c.answer);
        if (c.saved) {
            auto alert = app_.shownAlert();
            ASSERT_TRUE(alert);
            EXPECT_EQ(alert->title(), "Trimmed video was successfully saved.");
            EXPECT_EQ(PhotoLibrary::shared().state()->assets.size(), 1u);
            EXPECT_TRUE(app_.tapAlertAction("OK"));
        } else {
            EXPECT_TRUE(
                    console.contains("PelmarVideoEditor: the trimmed video was not saved: "
                                     "access to the photo library is not granted"));
            EXPECT_FALSE(app_.shownAlert());
            EXPECT_EQ(app_.topViewController(), editor);
            EXPECT_TRUE(PhotoLibrary::shared().state()->assets.empty());
        }
        EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(editor)));
        app_.advance(1);  // the confirmation's dismissal
        std::filesystem::remove_all(foundation::Sandbox::documentsDirectory() / "output");
    }
}

// A finger on the close control dismisses the screen at once. An export under way goes on: its
// movie is written and saved, the confirmation shows on the screen below, and the editor is
// freed once that is done.
TEST_F(PelmarVideoEditorIntegrationTest, TheCloseControlDismissesAndAnExportUnderWayStillSaves) {
    const struct {
        const char* name;
        bool exporting;
    } cases[] = {
            {"nothing under way", false},
            {"during an export", true},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PhotoLibrary::shared().reset(app_.sandboxRoot() / "Photos");
        app_.permissions().photoLibrary(AuthorizationStatus::Authorized);
        auto editor = open(movie(6));
        dragThumb(*editor, 5, 2);
        foundation::Console::Capture console;
        if (c.exporting) {
            ASSERT_TRUE(app_.tap(editor->cropButton));
        }
        auto close = closeControl(*editor);
        ASSERT_TRUE(close);
        ASSERT_TRUE(app_.tap(close));
        app_.advance(1);
        EXPECT_FALSE(editor->presentingViewController());
        EXPECT_EQ(app_.topViewController(), app_.root());
        if (c.exporting) {
            ASSERT_TRUE(finishExport(console, "exported at "));
            ASSERT_EQ(outputs().size(), 1u);
            EXPECT_TRUE(MovieProbe::probe(outputs()[0]));
            ASSERT_TRUE(app_.runUntil([&] { return app_.shownAlert() != nullptr; }));
            auto alert = app_.shownAlert();
            EXPECT_EQ(alert->title(), "Trimmed video was successfully saved.");
            EXPECT_EQ(alert->presentingViewController(), app_.root());
            EXPECT_EQ(PhotoLibrary::shared().state()->assets.size(), 1u);
            EXPECT_TRUE(app_.tapAlertAction("OK"));
        } else {
            app_.settle();
            app_.advance(2);
            EXPECT_TRUE(outputs().empty());
            EXPECT_FALSE(app_.shownAlert());
            EXPECT_TRUE(PhotoLibrary::shared().state()->assets.empty());
        }
        EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(editor)));
        app_.advance(1);  // the confirmation's dismissal
        std::filesystem::remove_all(foundation::Sandbox::documentsDirectory() / "output");
    }
}

TEST_F(PelmarVideoEditorIntegrationTest, UncreatableOutputFolderStopsTheExportAndKeepsWhatIsThere) {
    auto editor = open(movie(6));
    dragThumb(*editor, 5, 2);
    const auto blocker = foundation::Sandbox::documentsDirectory() / "output";
    std::ofstream(blocker) << "keep me";
    foundation::Console::Capture console;
    ASSERT_TRUE(app_.tap(editor->cropButton));
    app_.settle();
    app_.advance(2);
    EXPECT_FALSE(console.contains("exported at "));
    EXPECT_FALSE(console.contains("failed "));
    ASSERT_TRUE(std::filesystem::is_regular_file(blocker));
    std::ifstream in(blocker);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(PelmarVideoEditorIntegrationTest, TrimVideoRefusesRemoteAddressesWithAnAlertOnly) {
    for (const std::string path :
         {"https://example.com/clip.mp4", "http://example.com/clip.mp4", "/data/http://clip.mp4"}) {
        SCOPED_TRACE(path);
        app_.sdk()->trimVideo(path);
        app_.advance(1);
        auto alert = app_.shownAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->title(), "");
        EXPECT_EQ(alert->message(), "Pelmar can trim only local video.");
        ASSERT_EQ(alert->actions().size(), 1u);
        EXPECT_EQ(alert->actions()[0].title, "OK");
        EXPECT_FALSE(app_.find<PelmarVideoEditor>());
        EXPECT_TRUE(app_.tapAlertAction("OK"));
        app_.advance(1);
    }
}

TEST_F(PelmarVideoEditorIntegrationTest, TrimVideoKeepsItsOwnCopyAndOpensNothingWithoutOne) {
    const auto copy = foundation::Sandbox::documentsDirectory() / "video.mp4";
    ASSERT_EQ(test::CountingMovie{}.write(copy).status, 0);
    const auto size = std::filesystem::file_size(copy);

    // Trimming the copy again keeps it.
    app_.sdk()->trimVideo(copy.string());
    app_.advance(1);
    auto editor = app_.find<PelmarVideoEditor>();
    ASSERT_TRUE(editor);
    EXPECT_EQ(std::filesystem::file_size(copy), size);
    EXPECT_EQ(thumbnails(*editor).size(), 6u);
    EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(editor)));

    // A file that cannot be copied opens no editor on the earlier copy.
    app_.sdk()->trimVideo((app_.sandboxRoot() / "missing.mp4").string());
    app_.advance(1);
    EXPECT_FALSE(app_.find<PelmarVideoEditor>());
    EXPECT_EQ(app_.topViewController(), app_.root());
}

}  // namespace
}  // namespace pelmar
