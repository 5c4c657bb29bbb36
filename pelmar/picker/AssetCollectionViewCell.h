#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/picker/Settings.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/ItemCell.h"
#include "pelmar/platform/ui/Label.h"

namespace pelmar {

class SelectionView;

// AssetCollectionViewCell: one grid cell: the thumbnail filling the cell and, when selected, a
// translucent overlay and the 25-point badge 4 points from the bottom-right corner. A selection
// change fades the badge and overlay and bounces the cell (0.95, then back, 0.1 s each) unless
// animations are off, when it switches at once.
// Ownership: reference object made by the grid's collection view; shares the picker's Settings.
// Threads: main thread only.
// Errors: none.
class AssetCollectionViewCell : public ui::ItemCell {
public:
    AssetCollectionViewCell();

    const std::shared_ptr<ui::ImageView>& imageView() const { return imageView_; }

    std::shared_ptr<Settings> settings() const { return settings_; }

    void setSettings(std::shared_ptr<Settings> settings);

    std::optional<int64_t> selectionIndex() const { return selectionIndex_; }

    void setSelectionIndex(std::optional<int64_t> index);

    const std::shared_ptr<SelectionView>& selectionView() const { return selectionView_; }

    const std::shared_ptr<ui::View>& selectionOverlayView() const { return overlay_; }

    // What assistive technology is told a cell is.
    enum class AccessibilityTraits : uint32_t { None = 0, Button = 1 };

    // The label reads "deselect image" when selected, "select image" otherwise.

    const std::string& accessibilityIdentifier() const { return accessibilityIdentifier_; }

    void setAccessibilityIdentifier(std::string id) { accessibilityIdentifier_ = std::move(id); }

    AccessibilityTraits accessibilityTraits() const { return accessibilityTraits_; }

    void setAccessibilityTraits(AccessibilityTraits traits) { accessibilityTraits_ = traits; }

    bool isAccessibilityElement() const { return accessibilityElement_; }

    void setIsAccessibilityElement(bool element) { accessibilityElement_ = element; }

    void setSelected(bool selected) override;
    void prepareForReuse() override;
    void layoutSubviews() override;

protected:
    std::string className() const override { return "AssetCollectionViewCell"; }

protected:
    // Puts the image view, overlay and badge in (a view cannot add subviews while it is made).
    virtual void ensureSubviews();

private:
    void applySelectionAlphas(bool selected);

    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<ui::View> overlay_;
    std::shared_ptr<SelectionView> selectionView_;
    std::shared_ptr<Settings> settings_;
    std::optional<int64_t> selectionIndex_;
    std::string accessibilityIdentifier_;
    AccessibilityTraits accessibilityTraits_ = AccessibilityTraits::None;
    bool accessibilityElement_ = false;
    bool subviewsAdded_ = false;
};

// VideoCollectionViewCell: a grid cell for a movie: a 30-point dark gradient along the bottom of
// the thumbnail carrying the duration (white, bold 12 points, right-aligned).
class VideoCollectionViewCell : public AssetCollectionViewCell {
public:
    VideoCollectionViewCell();

    const std::shared_ptr<ui::Label>& durationLabel() const { return durationLabel_; }

    const std::shared_ptr<ui::View>& gradientView() const { return gradientView_; }

    // While selected, the duration ends before the badge instead of under it.
    void setSelected(bool selected) override;
    void layoutSubviews() override;

protected:
    std::string className() const override { return "VideoCollectionViewCell"; }

    void ensureSubviews() override;

private:
    std::shared_ptr<ui::View> gradientView_;
    std::shared_ptr<ui::Label> durationLabel_;
};

}  // namespace pelmar
