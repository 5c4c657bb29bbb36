#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/ContentMode.h"
#include "pelmar/platform/ui/EdgeInsets.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::ui {

class GestureRecognizer;
class GraphicsContext;
class ViewController;
class Window;

// View: a node of the headless screen model. Geometry is a bounds rectangle (its origin is the
// scroll position of the content), a centre in the superview's bounds coordinates and a transform
// applied around that centre; frame() is the bounding box of the transformed bounds in the
// superview. A view also has hidden, alpha and user-interaction flags, a backing layer, subviews
// and gesture recognisers. Views that paint themselves override draw(); snapshots call it.
// Layout is what code does: setNeedsLayout() marks a view, layoutIfNeeded() runs layoutSubviews()
// on marked views top-down. A view that moves in or out of a window hears it through
// willMoveToWindow/didMoveToWindow, and so does every view below it.
// Ownership: reference object made with std::make_shared; a view owns its subviews, its layer
// and its recognisers, and refers to its superview and to the controller it is the view of weakly.
// Threads: main thread only; in debug builds the mutators abort with a message off it.
// Errors: adding a view to itself or to one of its own subviews is ignored with a warning on
// stderr. alpha is clamped to [0, 1] (NaN counts as 0).
class View : public std::enable_shared_from_this<View> {
public:
    View() = default;
    explicit View(Rect frame);
    virtual ~View();

    View(const View&) = delete;
    View& operator=(const View&) = delete;

    Rect frame() const;

    // Sets the centre and the bounds size; the transform stays.
    void setFrame(Rect frame);

    Rect bounds() const { return bounds_; }

    void setBounds(Rect bounds);

    Point center() const { return center_; }

    void setCenter(Point center);

    AffineTransform transform() const { return transform_; }

    void setTransform(AffineTransform transform);

    ContentMode contentMode() const { return contentMode_; }

    void setContentMode(ContentMode mode);

    bool isHidden() const { return hidden_; }

    void setHidden(bool hidden);

    double alpha() const { return alpha_; }

    void setAlpha(double alpha);

    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }

    void setUserInteractionEnabled(bool enabled);

    int tag() const { return tag_; }

    void setTag(int tag) { tag_ = tag; }

    // This view or the first view below it (depth first) with `tag`, or null.
    std::shared_ptr<View> viewWithTag(int tag);

    // Back to front.
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

    std::shared_ptr<View> superview() const { return superview_.lock(); }

    // Adds `view` on top, taking it from its previous superview.
    void addSubview(const std::shared_ptr<View>& view);

    // Adds `view` at `index` (clamped to the end) among the subviews.
    void insertSubview(const std::shared_ptr<View>& view, std::size_t index);

    void bringSubviewToFront(const std::shared_ptr<View>& view);

    void removeFromSuperview();

    // True for this view itself and every view below it.
    bool isDescendant(const View& ancestor) const;

    // The window this view is in (this view itself when it is one), or null.
    std::shared_ptr<Window> window();

    // In a window, not hidden, alpha above 0, and the same for every view up to the window: what
    // a user could see (being covered by another view is not considered).
    bool isEffectivelyVisible();

    // The view controller this view is the root view of, or null.
    std::shared_ptr<ViewController> viewController() const { return viewController_.lock(); }

    // Converts between this view's bounds coordinates and `other`'s (null: the window's, or the
    // top view's when this view is in no window). Both views must share a top view.
    Point convertTo(Point point, const View* other) const;

    Point convertFrom(Point point, const View* other) const;

    // The bounding box of the converted corners.
    Rect convertTo(Rect rect, const View* other) const;

    Rect convertFrom(Rect rect, const View* other) const;

    // Whether `point` (bounds coordinates) is inside this view.
    virtual bool pointInside(Point point) const;

    // The deepest visible, interactive view under `point` (bounds coordinates): this view, one of
    // its subviews (front first), or null when the point misses, or this view is hidden, has
    // alpha 0 or takes no user interaction.
    virtual std::shared_ptr<View> hitTest(Point point);

    // The window's safe area (Screen insets for a full-screen window) where it overlaps this
    // view, in this view's bounds coordinates; zero outside a window.
    virtual EdgeInsets safeAreaInsets();

    void setNeedsLayout();

    bool needsLayout() const { return needsLayout_; }

    // Lays out this view if marked, then its subviews, top-down.
    void layoutIfNeeded();

    // The backing layer, made by makeLayer() on first use.
    std::shared_ptr<Layer> layer();

    // Whether content and subviews are cut at the bounds: the layer's masksToBounds.
    bool clipsToBounds() { return layer()->masksToBounds(); }

    void setClipsToBounds(bool clips) { layer()->setMasksToBounds(clips); }

    // Attaches `recognizer` (taking it from another view).
    void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);

    void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);

    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const {
        return recognizers_;
    }

    // Paints the view's own content in its own coordinates (origin at its top left), over its
    // layer's background and under its subviews. The default draws nothing.
    virtual void draw(GraphicsContext&) {}

    void setNeedsDisplay() { ++displayRequests_; }

    // How often setNeedsDisplay() was called.
    int displayRequests() const { return displayRequests_; }

    // The colour of the view's template images and control marks; none: the platform's own.
    std::optional<Color> tintColor() const { return tintColor_; }

    void setTintColor(std::optional<Color> color) { tintColor_ = color; }

    // The tint in effect: this view's, else the nearest superview's, else the platform's blue.
    Color effectiveTintColor() const;

    // What assistive technologies read out for the view; none: nothing (an empty text is a
    // label that reads nothing).
    const std::optional<std::string>& accessibilityLabel() const { return accessibilityLabel_; }

    void setAccessibilityLabel(std::optional<std::string> label) {
        accessibilityLabel_ = std::move(label);
    }

    // A one-line description for diagnostics ("Button {10, 20, 44, 44}").
    std::string describe() const;

    // The name of the view's class as describe() gives it ("Button").
    std::string typeName() const { return className(); }

    // Applies `animations` at once (the model has no frames in between) and calls `completion`
    // with true once `duration` seconds have passed on the installed clock, on the main queue
    // (on a later main-loop turn when the duration is 0).
    static void animate(double duration,
                        const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = nullptr);

protected:
    // Makes the backing layer; subclasses with a special layer override it.
    virtual std::shared_ptr<Layer> makeLayer();

    // Positions subviews; the default does nothing.
    virtual void layoutSubviews() {}

    // `window` is the window this view is about to be in (null: leaving every window).
    virtual void willMoveToWindow(const std::shared_ptr<Window>& /*window*/) {}

    virtual void didMoveToWindow() {}

    virtual void didMoveToSuperview() {}

    // The name describe() uses.
    virtual std::string className() const { return "View"; }

private:
    friend class ViewController;

    void setSuperview(const std::shared_ptr<View>& parent);
    void notifyWillMoveToWindow(const std::shared_ptr<Window>& window);
    void notifyDidMoveToWindow();
    // Maps a point from this view's bounds coordinates to its superview's, and back.
    Point toSuperview(Point p) const;
    Point fromSuperview(Point p) const;

    Rect bounds_;
    Point center_;
    AffineTransform transform_;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    bool hidden_ = false;
    double alpha_ = 1.0;
    bool userInteractionEnabled_ = true;
    int tag_ = 0;
    bool needsLayout_ = false;
    std::vector<std::shared_ptr<View>> subviews_;
    std::weak_ptr<View> superview_;
    std::weak_ptr<ViewController> viewController_;
    std::shared_ptr<Layer> layer_;
    std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
    int displayRequests_ = 0;
    std::optional<Color> tintColor_;
    std::optional<std::string> accessibilityLabel_;
};

}  // namespace pelmar::ui
