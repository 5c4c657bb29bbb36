#pragma once

#include <string_view>

namespace pelmar::ui {

// LayoutConstraint: a layout rule of an interface file; the model keeps only its constant. Keyed
// values let an interface builder set properties by name, as interface files do.
// Ownership: reference object made with std::make_shared; held by the views it constrains.
// Threads: main thread only.
// Errors: setValue() reports an unknown key by returning false.
class LayoutConstraint {
public:
    LayoutConstraint() = default;

    explicit LayoutConstraint(double constant) : constant_(constant) {}

    virtual ~LayoutConstraint();

    LayoutConstraint(const LayoutConstraint&) = delete;
    LayoutConstraint& operator=(const LayoutConstraint&) = delete;

    double constant() const { return constant_; }

    void setConstant(double constant) { constant_ = constant; }

    bool isActive() const { return active_; }

    void setActive(bool active) { active_ = active; }

    // Sets a property by key ("constant"; subclasses add theirs).
    virtual bool setValue(std::string_view key, double value);

private:
    double constant_ = 0;
    bool active_ = true;
};

}  // namespace pelmar::ui
