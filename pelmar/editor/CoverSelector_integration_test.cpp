#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>

#include "pelmar/editor/CoverSelector.h"
#include "pelmar/editor/CoverSelectorTableCell.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "testing/App.h"
#include "testing/CountingMovie.h"

namespace pelmar {
namespace {

class RecordingDelegate : public CoverSelectorDelegate {
public:
    explicit RecordingDelegate(std::weak_ptr<ui::ViewController> screen)
        : screen_(std::move(screen)) {}

    void coverSelected(const std::string& videoPath,
                       std::shared_ptr<const ui::Image> image) override {
        ++calls;
        path = videoPath;
        chosen = std::move(image);
        auto screen = screen_.lock();
        dismissingFirst = screen && screen->isBeingDismissed();
    }

    int calls = 0;
    std::string path;
    std::shared_ptr<const ui::Image> chosen;
    bool dismissingFirst = false;

private:
    std::weak_ptr<ui::ViewController> screen_;
};

class CoverSelectorIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        movie_ = (app_.sandboxRoot() / "clip.mp4").string();
        test::CountingMovie spec;
        spec.seconds = 12.5;
        ASSERT_EQ(spec.write(movie_).status, 0);
    }

    std::shared_ptr<CoverSelector> present(const std::string& path) {
        auto selector = CoverSelector::create(path);
        selector->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        app_.root()->present(selector, true);
        app_.advance(1);  // the presentation's transition
        EXPECT_FALSE(selector->isBeingPresented());
        return selector;
    }

    test::App app_;
    std::string movie_;
};

TEST_F(CoverSelectorIntegrationTest, ShowsKeyFramesEveryFourSecondsInRowsOf200Points) {
    auto selector = present(movie_);
    ASSERT_TRUE(app_.runUntil([&] { return selector->covers().size() == 3; }));
    auto table = selector->tableView.lock();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->numberOfItems(0), 3);
    // Default tolerance: each request takes the key frame at or before it (every 3 s here).
    const int frames[] = {0, 30, 60};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(table->rectForRow({0, row}).height, 200);
        EXPECT_TRUE(test::ShowsFrame(selector->covers()[row]->bitmap().get(), movie_, frames[row]));
    }
    auto cell = std::dynamic_pointer_cast<CoverSelectorTableCell>(table->cellForRow({0, 1}));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->coverView.lock()->image(), selector->covers()[1]);
    app_.writeSnapshot(*selector->view(), "CoverSelector_covers.png");
    app_.expectLooksRight(*selector->view());
}

TEST_F(CoverSelectorIntegrationTest, SelectionAndDefaultDismissBeforeTellingTheDelegate) {
    struct Case {
        const char* name;
        bool pickRow;
    } cases[] = {{"row", true}, {"default cover", false}};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto selector = present(movie_);
        auto delegate = std::make_shared<RecordingDelegate>(selector);
        selector->delegate = delegate;
        ASSERT_TRUE(app_.runUntil([&] { return selector->covers().size() == 3; }));
        if (c.pickRow) {
            auto table = selector->tableView.lock();
            app_.tap(table->cellForRow({0, 2}));
        } else {
            app_.tap(app_.find<ui::Button>(
                    [](const ui::Button& b) { return b.title() == "Use default cover"; }));
        }
        EXPECT_EQ(delegate->calls, 1);
        EXPECT_TRUE(delegate->dismissingFirst);
        EXPECT_EQ(delegate->path, movie_);
        EXPECT_EQ(delegate->chosen, c.pickRow ? selector->covers()[2] : nullptr);
        selector->delegate = nullptr;
        EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(selector)));
    }
}

TEST_F(CoverSelectorIntegrationTest, FramesThatArriveAfterTheScreenIsGoneStillJoinItsList) {
    // Closed at once: nobody but the frame request holds the screen any more.
    auto selector = CoverSelector::create(movie_);
    selector->generateCovers(movie_);
    std::weak_ptr<CoverSelector> weak = selector;
    selector.reset();
    auto closed = weak.lock();
    ASSERT_TRUE(closed);
    ASSERT_TRUE(app_.runUntil([&] { return closed->covers().size() == 3; }));
    closed.reset();
    app_.settle();
    EXPECT_TRUE(weak.expired());
}

TEST_F(CoverSelectorIntegrationTest, UnreadableFilesAndMissingPathsShowNoFrames) {
    const auto text = app_.sandboxRoot() / "notes.txt";
    test::RunProgram("sh", "-c 'echo hello > " + text.string() + "'");
    for (const std::string& path : {text.string(), std::string("/no/such/clip.mp4")}) {
        SCOPED_TRACE(path);
        auto selector = present(path);
        app_.settle();
        EXPECT_TRUE(selector->covers().empty());
        EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(selector)));
    }
    auto restored = std::make_shared<CoverSelector>(std::nullopt);
    app_.root()->present(restored, false);
    app_.settle();
    EXPECT_TRUE(restored->covers().empty());
    EXPECT_TRUE(app_.expectFreedAfterDismiss(std::move(restored)));
}

TEST_F(CoverSelectorIntegrationTest, DefaultCoverCallsBackExactlyOnce) {
    const auto text = app_.sandboxRoot() / "notes.txt";
    test::RunProgram("sh", "-c 'echo hello > " + text.string() + "'");

    struct Case {
        const char* name;
        std::string path;
        bool image;
    } cases[] = {
            {"movie", movie_, true},
            {"unreadable file", text.string(), false},
            {"missing file", "/no/such/clip.mp4", false},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto calls = std::make_shared<std::atomic<int>>(0);
        std::promise<std::shared_ptr<const ui::Image>> first;
        CoverSelector::getDefaultCover(c.path, [calls, &first](auto image) {
            if (calls->fetch_add(1) == 0) {
                first.set_value(image);
            }
        });
        const auto image = first.get_future().get();
        app_.settle();
        EXPECT_EQ(calls->load(), 1);
        EXPECT_EQ(image != nullptr, c.image);
        if (image) {
            // The middle of 12.5 s is 6.25 s; its key frame is at 6 s.
            EXPECT_TRUE(test::ShowsFrame(image->bitmap().get(), movie_, 60));
        }
    }
}

}  // namespace
}  // namespace pelmar
