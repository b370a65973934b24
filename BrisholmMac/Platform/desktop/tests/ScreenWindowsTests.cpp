#include "Platform/desktop/ScreenWindows.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace vantrel::desktop {
namespace {

using Type = WindowFacts::Type;

// An ordinary window of process 42, 800x600 at 100,50 with openbox's decorations around it.
StackedWindowFacts ordinary() {
    StackedWindowFacts facts;
    facts.window = 7;
    facts.type = Type::normal;
    facts.viewable = true;
    facts.pid = 42;
    facts.area = Rect{100, 50, 800, 600};
    facts.extents = {1, 1, 20, 5};
    return facts;
}

TEST(ScreenWindows, AnOrdinaryWindowCountsWithItsDecorations) {
    EXPECT_EQ(screenWindow(ordinary()), (WindowList::Window{7, 42, Rect{99, 30, 802, 625}}));
}

struct FilterCase {
    const char* name;
    std::function<void(StackedWindowFacts&)> change;
    bool counts;
};

class ScreenWindowFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ScreenWindowFilter, OnlyOrdinaryVisibleOwnedWindowsOfUsefulSizeCount) {
    auto facts = ordinary();
    GetParam().change(facts);
    EXPECT_EQ(screenWindow(facts).has_value(), GetParam().counts);
}

constexpr std::uint32_t opaque = 0xffffffff;

INSTANTIATE_TEST_SUITE_P(
    Cases, ScreenWindowFilter,
    ::testing::Values(FilterCase{"untyped", [](auto& f) { f.type = Type::unset; }, true},
                      FilterCase{"untypedTransientIsADialog", [](auto& f) { f.type = Type::unset, f.transient = true; },
                                 false},
                      FilterCase{"normalTransient", [](auto& f) { f.transient = true; }, true},
                      FilterCase{"dialogOrDock", [](auto& f) { f.type = Type::other; }, false},
                      FilterCase{"minimisedOrOnAnotherWorkspace", [](auto& f) { f.viewable = false; }, false},
                      FilterCase{"hidden", [](auto& f) { f.hidden = true; }, false},
                      FilterCase{"opaque", [](auto& f) { f.opacity = opaque; }, true},
                      FilterCase{"fivePercentOpaque", [](auto& f) { f.opacity = opaque / 20; }, false},
                      FilterCase{"justAboveFivePercent", [](auto& f) { f.opacity = opaque / 20 + 2; }, true},
                      FilterCase{"noOwner", [](auto& f) { f.pid.reset(); }, false},
                      FilterCase{"ownerZero", [](auto& f) { f.pid = 0; }, false},
                      FilterCase{"ownerBeyondProcessIds", [](auto& f) { f.pid = 0x80000000U; }, false},
                      FilterCase{"noGeometry", [](auto& f) { f.area.reset(); }, false},
                      FilterCase{"tooNarrow",
                                 [](auto& f) {
                                     f.area = Rect{0, 0, 117, 600};
                                 },
                                 false},
                      FilterCase{"wideEnoughWithItsFrame",
                                 [](auto& f) {
                                     f.area = Rect{0, 0, 118, 55};
                                 },
                                 true},
                      FilterCase{"tooLow",
                                 [](auto& f) {
                                     f.area = Rect{0, 0, 800, 54};
                                 },
                                 false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::desktop
