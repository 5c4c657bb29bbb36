#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/editor/CoverSelectorDelegate.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/TableView.h"
#include "pelmar/platform/ui/ViewController.h"

// CoverSelector: a screen that offers frames of a local video, one every 4 seconds, as rows of a
// table; the user picks one, or the default cover, and the delegate hears of it after the screen
// has dismissed itself. getDefaultCover() takes the middle frame of a video without a screen.
// Ownership: made with create(); holds its delegate strongly and its frames; the frame request in
// flight holds the screen until its last frame, so frames that arrive after the screen was closed
// still join the closed screen's list, and the screen is freed once they are in.
// Threads: main thread only; frames are made on the global queue and added on the main queue.
// Errors: none reported. A file that cannot be read, or a screen without a video path, shows no
// frames; a frame that cannot be made is left out.

namespace pelmar {

class CoverSelector : public ui::ViewController,
                      public ui::TableViewDataSource,
                      public ui::TableViewDelegate {
public:
    static constexpr double kCoverIntervalSeconds = 4;
    static constexpr double kRowHeight = 200;
    static constexpr int kMaximumWidth = 1920;
    static constexpr int kMaximumHeight = 1080;
    static constexpr const char* kCellIdentifier = "CoverCell";

    // The screen for the video at `videoPath`; its view comes from "CoverSelectorController".
    static std::shared_ptr<CoverSelector> create(std::string videoPath);

    // Use create(); nullopt stands for a screen restored without a video path.
    explicit CoverSelector(std::optional<std::string> videoPath);

    std::weak_ptr<ui::TableView> tableView;

    std::shared_ptr<CoverSelectorDelegate> delegate;

    const std::optional<std::string>& videoPath() const { return videoPath_; }

    // The frames made so far, in the order they arrived.
    const std::vector<std::shared_ptr<const ui::Image>>& covers() const { return covers_; }

    // Asks for the frames of `path` at coverTimes() of its duration.
    void generateCovers(const std::string& path);

    // Dismisses the screen, then tells the delegate that the default cover is wanted.
    void useDefaultCover();

    // 0, 4, 8, ... whole seconds below the duration's whole seconds, at the duration's timescale;
    // none for an invalid duration.
    static std::vector<media::Time> coverTimes(media::Time duration);

    // Makes the frame at half the duration of the video at `path` and calls `callback` exactly
    // once on the global queue, with the frame or with null when none could be made.
    static void getDefaultCover(const std::string& path,
                                std::function<void(std::shared_ptr<const ui::Image>)> callback);

    bool prefersStatusBarHidden() const override { return true; }

    int numberOfRows(ui::TableView& table, int section) override;

    std::shared_ptr<ui::ItemCell> cellForRow(ui::TableView& table, ui::IndexPath path) override;

    double heightForRow(ui::TableView& table, ui::IndexPath path) override;

    void didSelectRow(ui::TableView& table, ui::IndexPath path) override;

protected:
    void viewDidLoad() override;

private:
    // Dismisses the screen, then tells the delegate.
    void finish(std::shared_ptr<const ui::Image> image);

    std::optional<std::string> videoPath_;
    std::vector<std::shared_ptr<const ui::Image>> covers_;
    bool cellRegistered_ = false;
};

}  // namespace pelmar
