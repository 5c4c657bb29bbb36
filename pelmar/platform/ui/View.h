#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::ui {

class GraphicsContext;
class TapGestureRecognizer;
class Window;

// View: a node of the headless screen model: a frame, hidden and alpha flags, a backing layer,
// subviews and tap recognisers. Nothing is drawn; setNeedsDisplay() only counts requests.
// Ownership: reference object made with std::make_shared; a view owns its subviews, its layer
// and its recognisers, and refers to its superview weakly.
// Threads: main thread only.
// Errors: adding a view to itself or to one of its own subviews is ignored with a warning on
// stderr. alpha is clamped to [0, 1] (NaN counts as 0).
class View : public std::enable_shared_from_this<View> {
public:
    View() = default;
    explicit View(Rect frame);
    virtual ~View();

    View(const View&) = delete;
    View& operator=(const View&) = delete;

    Rect frame() const { return frame_; }

    void setFrame(Rect frame) { frame_ = frame; }

    bool isHidden() const { return hidden_; }

    void setHidden(bool hidden) { hidden_ = hidden; }

    double alpha() const { return alpha_; }

    void setAlpha(double alpha);

    // Back to front.
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

    std::shared_ptr<View> superview() const { return superview_.lock(); }

    // Adds `view` on top, taking it from its previous superview.
    void addSubview(const std::shared_ptr<View>& view);

    void removeFromSuperview();

    // The window this view is in (this view itself when it is one), or null.
    std::shared_ptr<Window> window();

    // The backing layer, made by makeLayer() on first use.
    std::shared_ptr<Layer> layer();

    void addGestureRecognizer(const std::shared_ptr<TapGestureRecognizer>& recognizer);

    const std::vector<std::shared_ptr<TapGestureRecognizer>>& gestureRecognizers() const {
        return recognizers_;
    }

    // Paints the view's own content in its own coordinates (origin at its top left), over its
    // layer's background and under its subviews. The default draws nothing.
    virtual void draw(GraphicsContext&) {}

    void setNeedsDisplay() { ++displayRequests_; }

    // How often setNeedsDisplay() was called.
    int displayRequests() const { return displayRequests_; }

    // Applies `animations` at once (the model has no frames in between) and calls `completion`
    // with true once `duration` seconds have passed on the installed clock, on the main queue.
    static void animate(double duration,
                        const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = nullptr);

protected:
    // Makes the backing layer; subclasses with a special layer override it.
    virtual std::shared_ptr<Layer> makeLayer();

private:
    Rect frame_;
    bool hidden_ = false;
    double alpha_ = 1.0;
    std::vector<std::shared_ptr<View>> subviews_;
    std::weak_ptr<View> superview_;
    std::shared_ptr<Layer> layer_;
    std::vector<std::shared_ptr<TapGestureRecognizer>> recognizers_;
    int displayRequests_ = 0;
};

}  // namespace pelmar::ui
