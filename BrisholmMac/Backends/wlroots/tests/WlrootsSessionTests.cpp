// The wlroots backend's session parts against a headless sway of the test's own: the first look
// that chooses the backend, the outputs as displays (also when one is plugged in while running),
// and what the session checks say.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Backends/SessionBackend.hpp"
#include "Backends/wlroots/WlrootsBackend.hpp"
#include "Capture/Displays.hpp"
#include "Platform/SessionChecks.hpp"
#include "PrivateSway.hpp"

namespace vantrel {
namespace {

using testing::PrivateSway;

class WlrootsSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway_.ok()) {
            GTEST_SKIP() << sway_.failure();
        }
    }

    PrivateSway sway_{{{1280, 720}, {1024, 768}}};
};

TEST_F(WlrootsSessionTest, TheCompositorsInterfacesChooseTheWlrootsBackend) {
    auto facts = readSessionFacts();
    facts.sessionType = "wayland";
    ASSERT_TRUE(facts.waylandInterfaces.has_value());
    const auto choice = chooseBackend(facts);
    ASSERT_EQ(choice.kind, BackendKind::wlroots) << choice.reason;
    EXPECT_THAT(choice.reason, ::testing::HasSubstr("zwlr_screencopy_manager_v1"));
}

TEST_F(WlrootsSessionTest, OutputsAreDisplaysInLogicalPixelsAndOneAddedLaterIsListed) {
    const auto backend = makeWlrootsBackend();
    ASSERT_TRUE(backend.displays);
    auto layout = backend.displays->layout();
    ASSERT_EQ(layout.size(), 2U);
    EXPECT_EQ(layout[0].bounds, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(layout[1].bounds, (Rect{1280, 0, 1024, 768}));
    const auto listed = backend.displays->list();
    ASSERT_EQ(listed.size(), 2U);
    EXPECT_NE(listed[0].name, listed[1].name) << "two headless outputs are told apart";
    EXPECT_EQ(backend.displays->primary(), listed[0].id);

    ASSERT_TRUE(sway_.addOutput(800, 600));
    layout = backend.displays->layout();
    ASSERT_EQ(layout.size(), 3U);
    EXPECT_EQ(layout[2].bounds, (Rect{2304, 0, 800, 600}));
    EXPECT_EQ(backend.displays->streamSize(layout[2].id), (StreamSize{800, 600}));
}

TEST_F(WlrootsSessionTest, TheSessionChecksSayWhatTheCompositorOffers) {
    const auto backend = makeWlrootsBackend();
    EXPECT_TRUE(backend.checks->screenReadable());
    EXPECT_TRUE(backend.checks->offersSyntheticInput());
    EXPECT_FALSE(backend.checks->pointerLocation()) << "Wayland tells no client where the pointer is";
}

}  // namespace
}  // namespace vantrel
