#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/picker/Settings.h"
#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/ui/AnimatedTransitioning.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/PresentationController.h"
#include "pelmar/platform/ui/TableView.h"
#include "pelmar/platform/ui/TransitioningDelegate.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

class AlbumsViewController;

// AlbumsViewControllerDelegate: the album chosen, and the list going away.
class AlbumsViewControllerDelegate {
public:
    virtual ~AlbumsViewControllerDelegate() = default;
    virtual void albumsViewControllerDidSelectAlbum(AlbumsViewController& list,
                                                    const photos::AssetCollectionPtr& album) = 0;
    virtual void didDismissAlbumsViewController(AlbumsViewController& list) = 0;
};

// AlbumCell: one album row: an 84-point thumbnail with 8-point margins and the title; while
// selected, a check mark in the tint at its right edge, the title ending before it.
class AlbumCell : public ui::ItemCell {
public:
    static constexpr const char* kIdentifier = "AlbumCell";

    const std::shared_ptr<ui::ImageView>& albumImageView();
    const std::shared_ptr<ui::Label>& albumTitleLabel();

    // The attributes the title was set with.
    const TextAttributes& titleAttributes() const { return titleAttributes_; }

    void setTitle(const std::string& title, const TextAttributes& attributes);

    bool showsCheckmark() const { return isSelected(); }

    // Where the check mark stands while selected.
    ui::Rect checkmarkRect() const;

    void setSelected(bool selected) override;
    void prepareForReuse() override;
    void layoutSubviews() override;
    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "AlbumCell"; }

private:
    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<ui::Label> titleLabel_;
    TextAttributes titleAttributes_;
};

// AlbumsTableViewDataSource: one row per album (no section without albums), each with the title
// and the thumbnail of its first asset under the picker's filter and order.
class AlbumsTableViewDataSource : public ui::TableViewDataSource {
public:
    AlbumsTableViewDataSource(std::vector<photos::AssetCollectionPtr> albums, double scale);

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }

    const std::vector<photos::AssetCollectionPtr>& albums() const { return albums_; }

    int numberOfSections(ui::TableView&) override { return albums_.empty() ? 0 : 1; }

    int numberOfRows(ui::TableView&, int) override { return static_cast<int>(albums_.size()); }

    std::shared_ptr<ui::ItemCell> cellForRow(ui::TableView& table, ui::IndexPath path) override;

private:
    std::shared_ptr<Settings> settings_;
    std::vector<photos::AssetCollectionPtr> albums_;
    double scale_;
    std::shared_ptr<photos::ImageManager> imageManager_;
};

// AlbumsViewController: the drop-down list of albums under the picker's navigation bar, with a
// hairline at its bottom edge. A row tap reports the album; the list reports its own dismissal.
// Ownership: reference object from std::make_shared, kept by the picker for its whole life; its
// delegate is held weakly.
// Threads: main thread only.
// Errors: none; settings must be set before the view loads.
class AlbumsViewController : public ui::ViewController, public ui::TableViewDelegate {
public:
    AlbumsViewController();

    void setDelegate(std::weak_ptr<AlbumsViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    std::shared_ptr<Settings> settings() const { return settings_; }

    void setSettings(std::shared_ptr<Settings> settings);

    const std::vector<photos::AssetCollectionPtr>& albums() const { return albums_; }

    void setAlbums(std::vector<photos::AssetCollectionPtr> albums) { albums_ = std::move(albums); }

    const std::shared_ptr<ui::TableView>& tableView() const { return tableView_; }

    const std::shared_ptr<ui::View>& lineView() const { return lineView_; }

    const std::shared_ptr<AlbumsTableViewDataSource>& dataSource() const { return dataSource_; }

    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    void didSelectRow(ui::TableView& table, ui::IndexPath path) override;

protected:
    // A root view that keeps the table filling it and the line along its bottom edge.
    void loadView() override;

private:
    std::weak_ptr<AlbumsViewControllerDelegate> delegate_;
    std::shared_ptr<Settings> settings_;
    std::vector<photos::AssetCollectionPtr> albums_;
    std::shared_ptr<AlbumsTableViewDataSource> dataSource_;
    std::shared_ptr<ui::TableView> tableView_;
    std::shared_ptr<ui::View> lineView_;
};

// DropdownPresentationController: places the album list under the presenting navigation bar,
// 200 points high across the presenter's width, over a clear background that closes it on a tap.
class DropdownPresentationController : public ui::PresentationController {
public:
    static constexpr double kDropDownHeight = 200;

    DropdownPresentationController(const std::shared_ptr<ui::ViewController>& presented,
                                   const std::shared_ptr<ui::ViewController>& presenting);

    const std::shared_ptr<ui::View>& backgroundView() const { return backgroundView_; }

    void backgroundTapped();

    ui::Rect frameOfPresentedViewInContainerView() const override;

    bool shouldRemovePresentersView() const override { return false; }

    void presentationTransitionWillBegin() override;
    void dismissalTransitionDidEnd(bool completed) override;
    ~DropdownPresentationController() override;

private:
    std::shared_ptr<ui::View> backgroundView_;
};

// DropdownAnimator: grows the list from 0 to its height (present) or back (dismiss) in 0.3 s.
class DropdownAnimator : public ui::AnimatedTransitioning {
public:
    enum class Context { Present, Dismiss };

    explicit DropdownAnimator(Context context) : context_(context) {}

    Context context() const { return context_; }

    double transitionDuration(const ui::TransitionContext&) const override { return 0.3; }

    void animateTransition(ui::TransitionContext& context) override;

private:
    Context context_;
};

// DropdownTransitionDelegate: the drop-down presentation and its two animators.
class DropdownTransitionDelegate : public ui::TransitioningDelegate {
public:
    std::shared_ptr<ui::AnimatedTransitioning> animationControllerForPresented(
            const std::shared_ptr<ui::ViewController>& presented,
            const std::shared_ptr<ui::ViewController>& presenting) override;
    std::shared_ptr<ui::AnimatedTransitioning> animationControllerForDismissed(
            const std::shared_ptr<ui::ViewController>& dismissed) override;
    std::shared_ptr<ui::PresentationController> presentationController(
            const std::shared_ptr<ui::ViewController>& presented,
            const std::shared_ptr<ui::ViewController>& presenting) override;
};

}  // namespace pelmar
