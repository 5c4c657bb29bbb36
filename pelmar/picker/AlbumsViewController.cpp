#include "pelmar/picker/AlbumsViewController.h"

#include <algorithm>

#include "pelmar/platform/photos/Asset.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar {

namespace {

constexpr double kThumbnail = 84;
constexpr double kMargin = 8;
// The check mark's room at the row's right edge, and the mark itself.
constexpr double kAccessoryWidth = 40;
constexpr ui::Size kCheckmark{14, 11};
constexpr double kCheckmarkLine = 2;

// The list's root view: the table fills it, the hairline runs along its bottom edge.
class AlbumsRootView : public ui::View {
public:
    AlbumsRootView(std::shared_ptr<ui::TableView> table, std::shared_ptr<ui::View> line)
        : table_(std::move(table)), line_(std::move(line)) {}

    void layoutSubviews() override {
        const ui::Rect b = bounds();
        table_->setFrame({0, 0, b.width, b.height});
        line_->setFrame({0, b.height - 0.5, b.width, 0.5});
    }

private:
    std::shared_ptr<ui::TableView> table_;
    std::shared_ptr<ui::View> line_;
};

}  // namespace

void AlbumsViewController::loadView() {
    setView(std::make_shared<AlbumsRootView>(tableView_, lineView_));
}

const std::shared_ptr<ui::ImageView>& AlbumCell::albumImageView() {
    if (!imageView_) {
        imageView_ = std::make_shared<ui::ImageView>();
        imageView_->setContentMode(ui::ContentMode::ScaleAspectFill);
        imageView_->setClipsToBounds(true);
        addSubview(imageView_);
    }
    return imageView_;
}

const std::shared_ptr<ui::Label>& AlbumCell::albumTitleLabel() {
    if (!titleLabel_) {
        titleLabel_ = std::make_shared<ui::Label>();
        // A long title wraps onto as many lines as the row has room for.
        titleLabel_->setNumberOfLines(0);
        titleLabel_->setLineBreakMode(ui::LineBreakMode::ByWordWrapping);
        addSubview(titleLabel_);
    }
    return titleLabel_;
}

void AlbumCell::setTitle(const std::string& title, const TextAttributes& attributes) {
    albumTitleLabel()->setText(title);
    albumTitleLabel()->setFont(attributes.font);
    albumTitleLabel()->setTextColor(attributes.foregroundColor);
    titleAttributes_ = attributes;
}

void AlbumCell::prepareForReuse() {
    ItemCell::prepareForReuse();
    albumImageView()->setImage(nullptr);
    albumTitleLabel()->setText("");
}

void AlbumCell::setSelected(bool selected) {
    ItemCell::setSelected(selected);
    // The title makes room for the check mark, or takes it back.
    setNeedsLayout();
    layoutIfNeeded();
    setNeedsDisplay();
}

void AlbumCell::layoutSubviews() {
    ItemCell::layoutSubviews();
    const ui::Rect b = bounds();
    const double accessory = isSelected() ? kAccessoryWidth : 0;
    albumImageView()->setFrame({kMargin, kMargin, kThumbnail, kThumbnail});
    albumTitleLabel()->setFrame({kMargin * 2 + kThumbnail, 0,
                                 std::max(0.0, b.width - kMargin * 3 - kThumbnail - accessory),
                                 b.height});
}

ui::Rect AlbumCell::checkmarkRect() const {
    const ui::Rect b = bounds();
    return {b.x + b.width - (kAccessoryWidth + kCheckmark.width) / 2,
            b.y + (b.height - kCheckmark.height) / 2, kCheckmark.width, kCheckmark.height};
}

void AlbumCell::draw(ui::GraphicsContext& context) {
    if (!isSelected()) {
        return;
    }
    const ui::Rect r = checkmarkRect();
    context.setStrokeColor(effectiveTintColor());
    context.setLineWidth(kCheckmarkLine);
    context.moveTo({r.x, r.y + r.height * 0.55});
    context.lineTo({r.x + r.width * 0.35, r.y + r.height});
    context.lineTo({r.x + r.width, r.y});
    context.strokePath();
}

AlbumsTableViewDataSource::AlbumsTableViewDataSource(std::vector<photos::AssetCollectionPtr> albums,
                                                     double scale)
    : albums_(std::move(albums)),
      scale_(scale),
      imageManager_(photos::ImageManager::defaultManager()) {}

std::shared_ptr<ui::ItemCell> AlbumsTableViewDataSource::cellForRow(ui::TableView& table,
                                                                    ui::IndexPath path) {
    auto cell =
            std::static_pointer_cast<AlbumCell>(table.dequeueReusableCell(AlbumCell::kIdentifier));
    const auto& album = albums_.at(static_cast<std::size_t>(path.item));
    cell->setTitle(album->localizedTitle().value_or(""),
                   settings_->theme()->albumTitleAttributes());
    // The cell now belongs to this row, picture or not: a late thumbnail for the row it showed
    // before must not land on it.
    cell->setTag(static_cast<int>(path.item) + 1);
    const int row = cell->tag();
    photos::FetchOptions options = *settings_->fetch()->assets()->options();
    options.fetchLimit = 1;
    const auto first = photos::Asset::fetchAssets(*album, &options).firstObject();
    if (!first) {
        return cell;
    }
    const photos::ImageRequestOptions request = settings_->fetch()->preview()->photoOptions();
    std::weak_ptr<AlbumCell> weak = cell;
    imageManager_->requestImage(
            first, {kThumbnail * scale_, kThumbnail * scale_}, photos::ImageContentMode::AspectFill,
            request, [weak, row](std::shared_ptr<image::Bitmap> bitmap, const auto&) {
                auto c = weak.lock();
                // A reused row shows only its own album's picture.
                if (bitmap && c && c->tag() == row) {
                    c->albumImageView()->setImage(ui::Image::fromBitmap(std::move(bitmap)));
                }
            });
    return cell;
}

AlbumsViewController::AlbumsViewController()
    : tableView_(std::make_shared<ui::TableView>()), lineView_(std::make_shared<ui::View>()) {}

void AlbumsViewController::setSettings(std::shared_ptr<Settings> settings) {
    settings_ = settings;
    if (dataSource_) {
        dataSource_->setSettings(std::move(settings));
    }
}

void AlbumsViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    dataSource_ = std::make_shared<AlbumsTableViewDataSource>(albums_, ui::Screen::main().scale());
    dataSource_->setSettings(settings_);
    auto root = view();
    tableView_->setRowHeight(kThumbnail + 2 * kMargin);
    tableView_->registerCell(AlbumCell::kIdentifier, [] { return std::make_shared<AlbumCell>(); });
    tableView_->setDataSource(dataSource_);
    tableView_->setDelegate(std::dynamic_pointer_cast<AlbumsViewController>(shared_from_this()));
    tableView_->layer()->setBackgroundColor(settings_->theme()->dropDownBackgroundColor());
    root->addSubview(tableView_);
    lineView_->layer()->setBackgroundColor(ui::Color{0.5, 0.5, 0.5, 1});
    root->addSubview(lineView_);
    tableView_->reloadData();
}

void AlbumsViewController::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    if (isBeingDismissed()) {
        if (auto d = delegate_.lock()) {
            d->didDismissAlbumsViewController(*this);
        }
    }
}

void AlbumsViewController::didSelectRow(ui::TableView&, ui::IndexPath path) {
    if (path.item < 0 || static_cast<std::size_t>(path.item) >= albums_.size()) {
        return;
    }
    if (auto d = delegate_.lock()) {
        d->albumsViewControllerDidSelectAlbum(*this, albums_[static_cast<std::size_t>(path.item)]);
    }
}

DropdownPresentationController::DropdownPresentationController(
        const std::shared_ptr<ui::ViewController>& presented,
        const std::shared_ptr<ui::ViewController>& presenting)
    : PresentationController(presented, presenting), backgroundView_(std::make_shared<ui::View>()) {
    backgroundView_->layer()->setBackgroundColor(ui::Color::clear());
    backgroundView_->addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>(
            [this](ui::TapGestureRecognizer&) { backgroundTapped(); }));
}

void DropdownPresentationController::backgroundTapped() {
    if (auto presenting = presentingViewController()) {
        presenting->dismiss(true);
    }
}

DropdownPresentationController::~DropdownPresentationController() {
    // The tap on the background refers to this controller.
    backgroundView_->removeFromSuperview();
}

void DropdownPresentationController::dismissalTransitionDidEnd(bool completed) {
    if (completed) {
        backgroundView_->removeFromSuperview();
    }
}

void DropdownPresentationController::presentationTransitionWillBegin() {
    if (auto container = containerView()) {
        // Over the screens below (a tap anywhere outside the list closes it) and under the list,
        // which the transition adds after this.
        backgroundView_->setFrame(container->bounds());
        container->addSubview(backgroundView_);
    }
    // Dropped from under a navigation bar, the list wears the bar's tint (set here, as the list
    // opens, rather than each time its frame is asked for).
    auto navigation =
            std::dynamic_pointer_cast<ui::NavigationController>(presentingViewController());
    auto presented = presentedViewController();
    if (navigation && presented && !navigation->isNavigationBarHidden()) {
        presented->view()->layer()->setBackgroundColor(navigation->navigationBar()->barTintColor());
    }
}

ui::Rect DropdownPresentationController::frameOfPresentedViewInContainerView() const {
    auto container = containerView();
    auto presenting = presentingViewController();
    if (!container || !presenting || !presenting->isViewLoaded()) {
        return {};
    }
    auto presentingView = presenting->view();
    const double width = presentingView->bounds().width;
    auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(presenting);
    if (navigation && !navigation->isNavigationBarHidden()) {
        auto bar = navigation->navigationBar();
        const ui::Rect barInWindow = bar->convertTo(bar->bounds(), nullptr);
        const ui::Point origin = presentingView->convertTo(ui::Point{0, 0}, container.get());
        return {origin.x, barInWindow.y + barInWindow.height, width, kDropDownHeight};
    }
    const auto insets = container->safeAreaInsets();
    return {insets.left, insets.top, width, kDropDownHeight};
}

void DropdownAnimator::animateTransition(ui::TransitionContext& context) {
    const bool presenting = context_ == Context::Present;
    const auto key = presenting ? ui::TransitionContext::Key::To : ui::TransitionContext::Key::From;
    auto view = context.view(key);
    auto container = context.containerView();
    if (!view) {
        context.completeTransition(!context.transitionWasCancelled());
        return;
    }
    if (presenting && container) {
        container->addSubview(view);
    }
    const ui::Rect final = presenting ? context.finalFrame(key) : view->frame();
    view->setFrame(presenting ? ui::Rect{final.x, final.y, final.width, 0} : final);
    auto shared = context.shared_from_this();
    ui::View::animate(
            transitionDuration(context),
            [view, final, presenting] {
                view->setFrame(presenting ? final : ui::Rect{final.x, final.y, final.width, 0});
                view->layoutIfNeeded();
            },
            [shared](bool finished) {
                shared->completeTransition(finished && !shared->transitionWasCancelled());
            });
}

std::shared_ptr<ui::AnimatedTransitioning>
DropdownTransitionDelegate::animationControllerForPresented(
        const std::shared_ptr<ui::ViewController>&, const std::shared_ptr<ui::ViewController>&) {
    return std::make_shared<DropdownAnimator>(DropdownAnimator::Context::Present);
}

std::shared_ptr<ui::AnimatedTransitioning>
DropdownTransitionDelegate::animationControllerForDismissed(
        const std::shared_ptr<ui::ViewController>&) {
    return std::make_shared<DropdownAnimator>(DropdownAnimator::Context::Dismiss);
}

std::shared_ptr<ui::PresentationController> DropdownTransitionDelegate::presentationController(
        const std::shared_ptr<ui::ViewController>& presented,
        const std::shared_ptr<ui::ViewController>& presenting) {
    return std::make_shared<DropdownPresentationController>(presented, presenting);
}

}  // namespace pelmar
