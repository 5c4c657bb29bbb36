#include "pelmar/editor/CoverSelector.h"

#include <atomic>
#include <utility>

#include "pelmar/editor/CoverSelectorTableCell.h"
#include "pelmar/editor/internal/EditorNibs.h"
#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/MainThreadHold.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {

namespace {

av::ImageGenerator coverGenerator(const std::string& path) {
    av::ImageGenerator generator(path);
    generator.appliesPreferredTrackTransform = true;
    generator.maximumWidth = CoverSelector::kMaximumWidth;
    generator.maximumHeight = CoverSelector::kMaximumHeight;
    return generator;
}

// The duration of the video at `path`; zero when it cannot be read.
media::Time videoDuration(const std::string& path) {
    return av::URLAsset::create(path)->duration();
}

}  // namespace

std::shared_ptr<CoverSelector> CoverSelector::create(std::string videoPath) {
    return std::make_shared<CoverSelector>(std::move(videoPath));
}

CoverSelector::CoverSelector(std::optional<std::string> videoPath)
    : ui::ViewController("CoverSelectorController"), videoPath_(std::move(videoPath)) {
    editor::internal::registerEditorNibs();
}

void CoverSelector::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (auto table = tableView.lock()) {
        auto self = std::static_pointer_cast<CoverSelector>(shared_from_this());
        table->setDataSource(std::static_pointer_cast<ui::TableViewDataSource>(self));
        table->setDelegate(std::static_pointer_cast<ui::TableViewDelegate>(self));
    }
    // A screen restored without a path has nothing to show.
    if (videoPath_) {
        generateCovers(*videoPath_);
    }
}

std::vector<media::Time> CoverSelector::coverTimes(media::Time duration) {
    std::vector<media::Time> times;
    if (!duration.isNumeric()) {
        return times;
    }
    const int64_t wholeSeconds = duration.value / duration.timescale;
    const auto step = static_cast<int64_t>(kCoverIntervalSeconds);
    for (int64_t second = 0; second < wholeSeconds; second += step) {
        times.push_back(media::Time::make(second * duration.timescale, duration.timescale));
    }
    return times;
}

void CoverSelector::generateCovers(const std::string& path) {
    const auto generator = coverGenerator(path);
    const auto times = coverTimes(videoDuration(path));
    if (times.empty()) {
        return;
    }
    // The request keeps the screen until its last frame: frames that arrive after the screen was
    // closed still join its list. The screen is let go on the main queue.
    auto hold = std::make_shared<dispatch::MainThreadHold<CoverSelector>>(
            std::static_pointer_cast<CoverSelector>(shared_from_this()));
    generator.generateImagesAsynchronously(
            times, [hold](media::Time, av::ImageGenerator::Image bitmap, media::Time,
                          av::ImageGenerator::Result result, std::optional<Error>) {
                if (result != av::ImageGenerator::Result::Succeeded) {
                    return;
                }
                auto image = ui::Image::fromBitmap(std::move(bitmap));
                if (!image) {
                    return;
                }
                // The table reads the list on the main thread, so it only grows there.
                dispatch::Queue::main()->async([self = hold->get(), image] {
                    self->covers_.push_back(image);
                    if (auto table = self->tableView.lock()) {
                        table->reloadData();
                    }
                });
            });
}

void CoverSelector::getDefaultCover(
        const std::string& path, std::function<void(std::shared_ptr<const ui::Image>)> callback) {
    const auto generator = coverGenerator(path);
    const media::Time duration = videoDuration(path);
    // An unreadable file has no frames, so its request fails and still calls back.
    const media::Time middle = duration.isNumeric()
                                       ? media::Time::make(duration.value / 2, duration.timescale)
                                       : media::Time::invalid();
    auto called = std::make_shared<std::atomic<bool>>(false);
    generator.generateImagesAsynchronously(
            {middle}, [called, callback = std::move(callback)](
                              media::Time, av::ImageGenerator::Image bitmap, media::Time,
                              av::ImageGenerator::Result result, std::optional<Error>) {
                if (called->exchange(true) || !callback) {
                    return;
                }
                callback(result == av::ImageGenerator::Result::Succeeded
                                 ? ui::Image::fromBitmap(std::move(bitmap))
                                 : nullptr);
            });
}

int CoverSelector::numberOfRows(ui::TableView& /*table*/, int /*section*/) {
    return static_cast<int>(covers_.size());
}

std::shared_ptr<ui::ItemCell> CoverSelector::cellForRow(ui::TableView& table, ui::IndexPath path) {
    if (!cellRegistered_) {
        table.registerCell(kCellIdentifier, [] { return CoverSelectorTableCell::create(); });
        cellRegistered_ = true;
    }
    auto cell = table.dequeueReusableCell(kCellIdentifier);
    auto cover = std::dynamic_pointer_cast<CoverSelectorTableCell>(cell);
    if (cover && path.row() >= 0 && path.row() < static_cast<int>(covers_.size())) {
        if (auto view = cover->coverView.lock()) {
            view->setImage(covers_[path.row()]);
        }
    }
    return cell;
}

double CoverSelector::heightForRow(ui::TableView& /*table*/, ui::IndexPath /*path*/) {
    return kRowHeight;
}

void CoverSelector::didSelectRow(ui::TableView& /*table*/, ui::IndexPath path) {
    if (path.row() < 0 || path.row() >= static_cast<int>(covers_.size())) {
        return;
    }
    finish(covers_[path.row()]);
}

void CoverSelector::useDefaultCover() {
    finish(nullptr);
}

void CoverSelector::finish(std::shared_ptr<const ui::Image> image) {
    dismiss(true);
    if (delegate) {
        delegate->coverSelected(videoPath_.value_or(""), std::move(image));
    }
}

}  // namespace pelmar
