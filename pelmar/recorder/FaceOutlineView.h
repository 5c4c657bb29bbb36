#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "pelmar/platform/ui/View.h"
#include "pelmar/recorder/Face.h"

namespace pelmar {

// FaceOutlineView: yellow rectangles around the faces the camera finds. Each redraw strokes every
// known face with its opacity, then fades it by 0.05 and counts down its visibility; a face not
// seen again for 26 redraws is forgotten. A face seen again keeps fading (only its place and its
// visibility are renewed), so an outline disappears 20 redraws after the face first appeared.
// Ownership: reference object made with std::make_shared (by the recorder's interface file).
// Threads: main thread only.
// Errors: none.
class FaceOutlineView : public ui::View {
public:
    static constexpr double kFadePerRedraw = 0.05;

    using ui::View::View;

    // Faces by identifier.
    std::map<int64_t, std::shared_ptr<Face>> faces;

    // Adds the face `faceID` at `rect` (this view's coordinates) or renews the one known.
    void addFace(int64_t faceID, ui::Rect rect);

    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "FaceOutlineView"; }
};

}  // namespace pelmar
