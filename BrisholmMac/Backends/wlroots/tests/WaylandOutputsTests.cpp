// How the compositor's words for an output become the display's name.
#include <gtest/gtest.h>

#include "Backends/wlroots/WaylandOutputs.hpp"

namespace vantrel::wayland {
namespace {

OutputFacts output(std::string name, std::string make, std::string model, std::string description) {
    return {7, std::move(name), std::move(description), std::move(make), std::move(model), {1920, 0, 2560, 1440}};
}

TEST(OutputNames, AMonitorIsNamedByItsMakeAndModelElseByTheCompositorsDescription) {
    // A monitor that says who made it.
    auto monitor = monitorFacts(output("DP-1", "Dell Inc.", "DELL U2720Q", "Dell Inc. DELL U2720Q 8X2 (DP-1)"));
    EXPECT_EQ(monitor.productName, "Dell Inc. DELL U2720Q");
    EXPECT_EQ(monitor.outputName, "DP-1");
    EXPECT_EQ(monitor.id, 7U);
    EXPECT_EQ(monitor.bounds, (Rect{1920, 0, 2560, 1440}));
    // A model that repeats the make is not doubled.
    EXPECT_EQ(monitorFacts(output("DP-2", "LG", "LG HDR 4K", "")).productName, "LG HDR 4K");
    // Unknown make and model: the description without the connector, which the disambiguation adds
    // where two outputs would read the same.
    EXPECT_EQ(monitorFacts(output("HEADLESS-1", "headless", "Unknown", "Headless output 1 (HEADLESS-1)")).productName,
              "Headless output 1");
    // Nothing at all: the connector (displayName falls back to the output's name).
    const auto bare = monitorFacts(output("WL-1", "", "", ""));
    EXPECT_EQ(bare.productName, "");
    EXPECT_EQ(displayName(bare), "WL-1");
}

TEST(OutputNames, TwoOutputsOfOneModelAreToldApartByTheirConnector) {
    const auto names = displayNames({monitorFacts(output("DP-1", "Dell Inc.", "U2720Q", "")),
                                     monitorFacts(output("DP-2", "Dell Inc.", "U2720Q", ""))});
    EXPECT_EQ(names, (std::vector<std::string>{"Dell Inc. U2720Q (DP-1)", "Dell Inc. U2720Q (DP-2)"}));
}

}  // namespace
}  // namespace vantrel::wayland
