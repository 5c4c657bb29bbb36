#include "pelmar/picker/AssetCollectionViewCell.h"

#include <algorithm>

#include "pelmar/picker/SelectionView.h"
#include "pelmar/picker/internal/Animations.h"
#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/GradientLayer.h"
#include "pelmar/platform/ui/Layer.h"

namespace pelmar {

namespace {

constexpr double kBadgeSide = 25;
constexpr double kBadgeMargin = 4;
constexpr double kOverlayAlpha = 0.3;
constexpr double kBounceSeconds = 0.1;
constexpr double kBounceScale = 0.95;
constexpr double kGradientHeight = 30;
constexpr double kLabelLead = 8;
constexpr double kLabelInset = 4;

// A view whose layer is a gradient.
class GradientView : public ui::View {
protected:
    std::shared_ptr<ui::Layer> makeLayer() override {
        return std::make_shared<ui::GradientLayer>();
    }

    std::string className() const override { return "PelmarImagePickerGradientView"; }
};

}  // namespace

AssetCollectionViewCell::AssetCollectionViewCell()
    : imageView_(std::make_shared<ui::ImageView>()),
      overlay_(std::make_shared<ui::View>()),
      selectionView_(std::make_shared<SelectionView>()) {
    imageView_->setContentMode(ui::ContentMode::ScaleAspectFill);
    imageView_->setClipsToBounds(true);
    applySelectionAlphas(false);
    setAccessibilityLabel("select image");
}

void AssetCollectionViewCell::layoutSubviews() {
    ItemCell::layoutSubviews();
    ensureSubviews();
    const ui::Rect b = bounds();
    imageView_->setFrame({0, 0, b.width, b.height});
    overlay_->setFrame({0, 0, b.width, b.height});
    selectionView_->setFrame({b.width - kBadgeMargin - kBadgeSide,
                              b.height - kBadgeMargin - kBadgeSide, kBadgeSide, kBadgeSide});
}

void AssetCollectionViewCell::ensureSubviews() {
    if (!subviewsAdded_) {
        // Later ones lie on top.
        addSubview(imageView_);
        addSubview(overlay_);
        addSubview(selectionView_);
        overlay_->layer()->setBackgroundColor(PickerColors::systemOverlayColor());
        selectionView_->layer()->setBackgroundColor(ui::Color::clear());
        subviewsAdded_ = true;
    }
}

void AssetCollectionViewCell::setSettings(std::shared_ptr<Settings> settings) {
    ensureSubviews();
    setNeedsLayout();
    layoutIfNeeded();
    settings_ = settings;
    selectionView_->setSettings(std::move(settings));
}

void AssetCollectionViewCell::setSelectionIndex(std::optional<int64_t> index) {
    selectionIndex_ = index;
    selectionView_->setSelectionIndex(index);
}

void AssetCollectionViewCell::applySelectionAlphas(bool selected) {
    selectionView_->setAlpha(selected ? 1 : 0);
    overlay_->setAlpha(selected ? kOverlayAlpha : 0);
}

void AssetCollectionViewCell::setSelected(bool selected) {
    const bool changed = selected != isSelected();
    ItemCell::setSelected(selected);
    if (!changed) {
        return;
    }
    setAccessibilityLabel(selected ? "deselect image" : "select image");
    if (!picker::internal::animationsEnabled()) {
        applySelectionAlphas(selected);
        return;
    }
    std::weak_ptr<ui::View> weak = shared_from_this();
    ui::View::animate(
            kBounceSeconds,
            [this, selected] {
                applySelectionAlphas(selected);
                setTransform(ui::AffineTransform::scale(kBounceScale, kBounceScale));
            },
            [weak](bool) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                ui::View::animate(kBounceSeconds,
                                  [self] { self->setTransform(ui::AffineTransform::scale(1, 1)); });
            });
}

void AssetCollectionViewCell::prepareForReuse() {
    ItemCell::prepareForReuse();
    imageView_->setImage(nullptr);
    setSelectionIndex(std::nullopt);
    applySelectionAlphas(false);
    setAccessibilityLabel("select image");
}

VideoCollectionViewCell::VideoCollectionViewCell()
    : gradientView_(std::make_shared<GradientView>()),
      durationLabel_(std::make_shared<ui::Label>()) {
    durationLabel_->setText("0:03");
    durationLabel_->setTextAlignment(ui::TextAlignment::Right);
    durationLabel_->setTextColor(ui::Color::white());
    durationLabel_->setFont(ui::Font::boldSystemFont(12));
    auto gradient = std::static_pointer_cast<ui::GradientLayer>(gradientView_->layer());
    gradient->setColors({ui::Color::clear(), ui::Color::black()});
    gradient->setLocations({0.0, 0.7});
}

void VideoCollectionViewCell::ensureSubviews() {
    AssetCollectionViewCell::ensureSubviews();
    if (!gradientView_->superview()) {
        imageView()->addSubview(gradientView_);
        gradientView_->addSubview(durationLabel_);
    }
}

void VideoCollectionViewCell::layoutSubviews() {
    AssetCollectionViewCell::layoutSubviews();
    const ui::Rect b = imageView()->bounds();
    gradientView_->setFrame({0, b.height - kGradientHeight, b.width, kGradientHeight});
    // From 8 points left of the gradient to 8 points short of its right edge, one line high and
    // 4 points above its bottom: the right-aligned text ends 8 points from the cell's right edge.
    // While the badge shows in that corner the text ends the badge's margin before it instead, so
    // the badge never hides the duration.
    const double height = std::min(durationLabel_->sizeThatFits().height, kGradientHeight);
    const double shift = isSelected() ? kBadgeSide + 2 * kBadgeMargin - kLabelLead : 0;
    durationLabel_->setFrame(
            {-kLabelLead - shift, kGradientHeight - kLabelInset - height, b.width, height});
}

void VideoCollectionViewCell::setSelected(bool selected) {
    AssetCollectionViewCell::setSelected(selected);
    // Nothing else lays a cell out after a tap: the duration moves clear of the badge now.
    setNeedsLayout();
    layoutIfNeeded();
}

}  // namespace pelmar
