#include "pelmar/recorder/FaceOutlineView.h"

#include <vector>

#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar {

void FaceOutlineView::addFace(int64_t faceID, ui::Rect rect) {
    auto& face = faces[faceID];
    if (!face) {
        face = std::make_shared<Face>();
    }
    face->faceID = faceID;
    face->rect = rect;
    face->faceVisible = Face::kVisibleRedraws;
}

void FaceOutlineView::draw(ui::GraphicsContext& context) {
    std::vector<int64_t> forgotten;
    for (auto& [id, face] : faces) {
        const ui::Rect r = face->rect;
        context.moveTo({r.x, r.y});
        context.lineTo({r.x + r.width, r.y});
        context.lineTo({r.x + r.width, r.y + r.height});
        context.lineTo({r.x, r.y + r.height});
        context.lineTo({r.x, r.y});
        context.setStrokeColor(ui::Color{1, 1, 0, face->alpha});
        context.strokePath();
        face->alpha -= kFadePerRedraw;
        face->faceVisible -= 1;
        if (face->alpha <= 0) {
            face->alpha = 0;
        }
        if (face->faceVisible < 0) {
            forgotten.push_back(id);
        }
    }
    for (const auto id : forgotten) {
        faces.erase(id);
    }
}

}  // namespace pelmar
