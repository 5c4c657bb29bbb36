#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/picker/Settings.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// CheckmarkView: the tick inside a selection badge, drawn by the badge.
class CheckmarkView : public ui::View {
public:
    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "CheckmarkView"; }
};

// NumberView: the selection number inside a badge: bold 12 points on one line, centred, the font
// shrinking so that two or three digits fit the badge; drawn by the badge (never added as a
// subview) in its frame, in its tint colour.
class NumberView : public ui::Label {
public:
    NumberView();

    // Also the text colour.
    void setTintColor(ui::Color tint);

    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "NumberView"; }
};

// SelectionView: the round badge of a selected cell: a filled, outlined circle holding a tick or
// the asset's number in the selection (position + 1), coloured from the theme; the fill casts a
// soft shadow in the theme's shadow colour (offset kShadowOffset, blurred over kShadowBlur
// points), read from the theme at each drawing. The icon is chosen from the theme's style when
// first needed and kept.
// Ownership: reference object from std::make_shared; shares the picker's Settings.
// Threads: main thread only.
// Errors: none; settings must be set before an index is set or the badge drawn.
class SelectionView : public ui::View {
public:
    // A tenth of a point right and down on screen (a drawing-space offset of (0.1, -0.1) in a
    // space whose y grows upwards).
    static constexpr ui::Size kShadowOffset{0.1, 0.1};
    static constexpr double kShadowBlur = 2.5;

    std::shared_ptr<Settings> settings() const { return settings_; }

    void setSettings(std::shared_ptr<Settings> settings);

    std::optional<int64_t> selectionIndex() const { return selectionIndex_; }

    // A set index shows index + 1 on a number icon; none leaves the last number.
    void setSelectionIndex(std::optional<int64_t> index);

    // Made on first use: a NumberView when the style is numbered, else a CheckmarkView.
    const std::shared_ptr<ui::View>& icon();

    // The circle and the icon's frame for the current bounds.
    ui::Rect circleRect() const;
    ui::Rect iconRect() const;

    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "SelectionView"; }

private:
    std::shared_ptr<Settings> settings_;
    std::optional<int64_t> selectionIndex_;
    std::shared_ptr<ui::View> icon_;
};

}  // namespace pelmar
