#include "pelmar/recorder/ScalableConstraint.h"

#include <gtest/gtest.h>

#include <functional>

namespace pelmar {
namespace {

// Doubles the scale it reports, to show the product is taken through the getters.
class DoublingConstraint : public ScalableConstraint {
public:
    double scale() const override { return 2 * ScalableConstraint::scale(); }
};

TEST(ScalableConstraintTest, TheConstantFollowsScaleTimesBasicConstant) {
    struct Case {
        const char* name;
        std::function<void(ScalableConstraint&)> change;
        double constant;
    };

    // Each step applies to the same constraint, in order.
    const Case steps[] = {
            {"basicConstant 20", [](auto& c) { c.setBasicConstant(20); }, 20},
            {"scale 1.5", [](auto& c) { c.setScale(1.5); }, 30},
            {"basicConstant 0", [](auto& c) { c.setBasicConstant(0); }, 0},
            {"constant 7 directly", [](auto& c) { c.setConstant(7); }, 7},
            {"basicConstant 5 by key", [](auto& c) { EXPECT_TRUE(c.setValue("basicConstant", 5)); },
             7.5},
            {"scale 2 after a direct constant", [](auto& c) { c.setScale(2); }, 10},
            {"unknown key", [](auto& c) { EXPECT_FALSE(c.setValue("width", 3)); }, 10},
    };
    ScalableConstraint constraint;
    EXPECT_EQ(constraint.scale(), 1.0);
    EXPECT_EQ(constraint.basicConstant(), 1.0);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.change(constraint);
        EXPECT_EQ(constraint.constant(), step.constant);
    }
    EXPECT_EQ(constraint.scale(), 2.0);
    EXPECT_EQ(constraint.basicConstant(), 5.0);

    auto decoded = ScalableConstraint::fromInterfaceFile();
    EXPECT_EQ(decoded->scale(), 0.0);
    EXPECT_EQ(decoded->basicConstant(), 0.0);

    DoublingConstraint doubling;
    doubling.setBasicConstant(3);
    EXPECT_EQ(doubling.constant(), 6.0);
}

}  // namespace
}  // namespace pelmar
