// The compositor's monitor layout read into the displays the phone is offered, over replies of
// DisplayConfig.GetCurrentState written as text.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Backends/gnome/DisplayConfig.hpp"
#include "Platform/desktop/GioHandles.hpp"

namespace vantrel::gnome {
namespace {

using GVariantPtr = std::unique_ptr<GVariant, desktop::GVariantUnref>;

GVariantPtr parsed(const std::string& text) {
    GError* error = nullptr;
    GVariantPtr value(g_variant_parse(nullptr, text.c_str(), nullptr, nullptr, &error));
    EXPECT_TRUE(value) << (error != nullptr ? error->message : "");
    if (error != nullptr) {
        g_error_free(error);
    }
    return value;
}

// One physical monitor of a reply: connector, vendor, product and serial, its modes (the current one
// marked), its properties.
std::string monitor(const std::string& connector, const std::string& vendor, const std::string& product,
                    const std::string& currentMode, const std::string& properties) {
    return "(('" + connector + "', '" + vendor + "', '" + product + "', '0x01'), [('1024x768@60', 1024, 768, 60.0, " +
           "1.0, [1.0], {'is-current': <false>}), " + currentMode + "], " + properties + ")";
}

std::string mode(int width, int height) {
    return "('" + std::to_string(width) + "x" + std::to_string(height) + "@60', " + std::to_string(width) + ", " +
           std::to_string(height) + ", 60.0, 1.0, [1.0], {'is-current': <true>})";
}

std::string logical(int x, int y, double scale, int transform, bool primary, const std::string& connectors) {
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(scale) + ", uint32 " +
           std::to_string(transform) + ", " + (primary ? "true" : "false") + ", " +
           (connectors.empty() ? "@a(ssss) []" : "[" + connectors + "]") + ", @a{sv} {})";
}

std::string member(const std::string& connector) {
    return "('" + connector + "', 'v', 'p', 's')";
}

std::string state(const std::string& monitors, const std::string& logicalMonitors, int layoutMode) {
    return "(uint32 7, [" + monitors + "], [" + logicalMonitors + "], {'layout-mode': <uint32 " +
           std::to_string(layoutMode) + ">})";
}

TEST(DisplayConfig, HeadlessMutterWithTwoVirtualMonitors) {
    // Mutter 43's reply with --virtual-monitor 1280x720 --virtual-monitor 800x600, as it came.
    const auto reply = parsed(
        "(uint32 2, [(('Meta-0', 'MetaVendor', 'MetaVirtualMonitor', '0x00'), [('1280x720@60.000', 1280, 720, 60.0, "
        "1.0, [1.0], {'is-current': <true>, 'is-preferred': <true>})], {'is-builtin': <false>, 'display-name': "
        "<'MetaVendor'>}), (('Meta-1', 'MetaVendor', 'MetaVirtualMonitor', '0x01'), [('800x600@60.000', 800, 600, "
        "60.0, 1.0, [1.0], {'is-current': <true>, 'is-preferred': <true>})], {'is-builtin': <false>, "
        "'display-name': <'MetaVendor'>})], [(0, 0, 1.0, uint32 0, true, [('Meta-0', 'MetaVendor', "
        "'MetaVirtualMonitor', '0x00')], @a{sv} {}), (1280, 0, 1.0, 0, false, [('Meta-1', 'MetaVendor', "
        "'MetaVirtualMonitor', '0x01')], {})], {'layout-mode': <uint32 2>, 'legacy-ui-scaling-factor': <1>})");
    const auto monitors = monitorsFromState(reply.get());
    ASSERT_EQ(monitors.size(), 2U);
    EXPECT_EQ(monitors[0].id, monitorId("Meta-0"));
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(monitors[0].bounds, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(monitors[0].productName, "MetaVendor");
    EXPECT_EQ(monitors[0].outputName, "Meta-0");
    EXPECT_FALSE(monitors[1].primary);
    EXPECT_EQ(monitors[1].bounds, (Rect{1280, 0, 800, 600}));
    // Two monitors of one name are told apart by their connectors, as on X11.
    EXPECT_EQ(displayNames(monitors), (std::vector<std::string>{"MetaVendor (Meta-0)", "MetaVendor (Meta-1)"}));
}

TEST(DisplayConfig, SizesAreLogicalPixelsOfTheCurrentModeTurnedWithTheMonitor) {
    const auto monitors =
        std::string(monitor("eDP-1", "BOE", "0x0bca", mode(2880, 1800), "{'display-name': <'Built-in display'>}")) +
        ", " + monitor("DP-1", "DEL", "DELL U2720Q", mode(3840, 2160), "@a{sv} {}");
    // Logical layout: a monitor at scale 2 takes half its pixels; a quarter turn swaps the sides.
    const auto scaled = monitorsFromState(parsed(state(monitors,
                                                       logical(0, 0, 2.0, 0, false, member("eDP-1")) + ", " +
                                                           logical(1440, 0, 1.5, 1, true, member("DP-1")),
                                                       1))
                                              .get());
    ASSERT_EQ(scaled.size(), 2U);
    EXPECT_EQ(scaled[0].bounds, (Rect{0, 0, 1440, 900}));
    EXPECT_EQ(scaled[0].productName, "Built-in display");
    EXPECT_EQ(scaled[1].bounds, (Rect{1440, 0, 1440, 2560}));
    EXPECT_TRUE(scaled[1].primary);
    // Without a display name, vendor and product name it.
    EXPECT_EQ(scaled[1].productName, "DEL DELL U2720Q");
    // Physical layout: the layout's units are the modes' pixels, whatever the scale.
    const auto physical =
        monitorsFromState(parsed(state(monitors, logical(0, 0, 2.0, 0, true, member("eDP-1")), 2)).get());
    ASSERT_EQ(physical.size(), 1U);
    EXPECT_EQ(physical[0].bounds, (Rect{0, 0, 2880, 1800}));
}

TEST(DisplayConfig, MirroredMonitorsAreOneDisplayAndOddRepliesNone) {
    const auto monitors = monitor("HDMI-1", "GSM", "LG TV", mode(1920, 1080), "@a{sv} {}") + ", " +
                          monitor("DP-2", "DEL", "P2419H", mode(1920, 1080), "@a{sv} {}");
    const auto mirrored = monitorsFromState(
        parsed(state(monitors, logical(0, 0, 1.0, 0, true, member("DP-2") + ", " + member("HDMI-1")), 1)).get());
    ASSERT_EQ(mirrored.size(), 1U);
    EXPECT_EQ(mirrored[0].outputName, "DP-2");
    EXPECT_EQ(mirrored[0].id, monitorId("DP-2"));
    // A logical monitor naming a connector the reply does not list, or one without monitors.
    EXPECT_TRUE(
        monitorsFromState(parsed(state(monitors, logical(0, 0, 1.0, 0, true, member("DP-9")), 1)).get()).empty());
    EXPECT_TRUE(monitorsFromState(parsed(state(monitors, logical(0, 0, 1.0, 0, true, ""), 1)).get()).empty());
    // Another shape (a future version's reply) is no layout at all, rather than a wrong one.
    EXPECT_TRUE(monitorsFromState(parsed("(uint32 1, @a(ss) [])").get()).empty());
    EXPECT_TRUE(monitorsFromState(nullptr).empty());
}

}  // namespace
}  // namespace vantrel::gnome
