#include "Backends/x11/ScreenWindows.hpp"

#include <gtest/gtest.h>

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

template <typename Change>
bool countsWhen(Change change) {
    auto facts = ordinary();
    change(facts);
    return screenWindow(facts).has_value();
}

TEST(ScreenWindows, OnlyOrdinaryVisibleOwnedWindowsOfUsefulSizeCount) {
    EXPECT_TRUE(countsWhen([](auto& f) { f.type = Type::unset; }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.type = Type::unset, f.transient = true; })) << "a dialog by convention";
    EXPECT_FALSE(countsWhen([](auto& f) { f.type = Type::other; }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.viewable = false; })) << "minimised or on another workspace";
    EXPECT_FALSE(countsWhen([](auto& f) { f.hidden = true; }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.opacity = 0xffffffffU / 20; })) << "5 % opaque";
    EXPECT_TRUE(countsWhen([](auto& f) { f.opacity = 0xffffffffU / 20 + 2; }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.pid.reset(); }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.pid = 0; }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.pid = 0x80000000U; }));
    EXPECT_FALSE(countsWhen([](auto& f) { f.area = Rect{0, 0, 117, 600}; })) << "119 wide with its frame";
    EXPECT_FALSE(countsWhen([](auto& f) { f.area = Rect{0, 0, 800, 54}; })) << "79 high with its frame";
    EXPECT_TRUE(countsWhen([](auto& f) { f.area = Rect{0, 0, 118, 55}; })) << "120x80 with its frame";
}

}  // namespace
}  // namespace vantrel::desktop
