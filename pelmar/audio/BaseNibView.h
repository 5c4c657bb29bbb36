#pragma once

#include <memory>
#include <string>

#include "pelmar/platform/ui/View.h"

namespace pelmar {

// BaseNibView: a view that can host the contents of the interface file named after its own class
// (nibName(), e.g. "AudioVisualizationView"). Once a contentView is given, awakeFromNib() loads
// that file with the view as its owner (so the file binds the view's outlets) and puts
// contentView inside the view, filling it. A view made in code without a contentView shows no
// file contents.
// Ownership: reference object made with std::make_shared; owns contentView as a subview.
// Threads: main thread only.
// Errors: loading a contentView's file that is not registered throws std::logic_error (see
//     ui::Nib).
class BaseNibView : public ui::View {
public:
    explicit BaseNibView(ui::Rect frame = {});

    // Set before awakeFromNib(), by code or by an interface file.
    std::shared_ptr<ui::View> contentView;

    // The class's own name.
    std::string nibName() const { return className(); }

    bool shouldAwakeFromNib() const { return shouldAwakeFromNib_; }

    // What an interface file calls once it has built the view.
    void awakeFromNib();

protected:
    void layoutSubviews() override;

    std::string className() const override { return "BaseNibView"; }

private:
    void createFromNib();

    bool shouldAwakeFromNib_ = true;
};

}  // namespace pelmar
