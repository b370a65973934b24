// The display inventory's rules on plain values: the stream size, the name and the order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Displays.hpp"
#include "FakeDisplays.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;

TEST(StreamSizeTest, CapsTheLongerSideAt2560KeepingTheAspectAndEvenSides) {
    struct Case {
        std::int64_t width, height;
        StreamSize expected;
    };
    const Case cases[] = {
        {1920, 1080, {1920, 1080}},  // small enough: as it is
        {2880, 1800, {2560, 1600}},
        {5120, 2880, {2560, 1440}},
        {3024, 1964, {2560, 1662}},  // 1662.6 rounds to 1663, then the odd pixel goes
        {2560, 1600, {2560, 1600}},  // exactly the cap: not scaled
        {2561, 1440, {2560, 1438}},  // one over: scaled (1439.4 -> 1439 -> 1438)
        {1080, 2880, {960, 2560}},   // portrait: the height is the longer side
        {1001, 777, {1000, 776}},    // never enlarged, odd sides lowered
        {3, 1, {2, 2}},              // nothing below 2
        {0, 0, {2, 2}},              // an unknown display
        {-5, 7, {2, 6}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(streamSizeFor(c.width, c.height), c.expected) << c.width << "x" << c.height;
    }
}

// An EDID base block with the given display descriptors (tag, 13 text bytes) from byte 54.
std::vector<std::uint8_t> edid(std::vector<std::pair<std::uint8_t, std::string>> descriptors) {
    std::vector<std::uint8_t> block(128, 0);
    const std::uint8_t header[] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::copy(std::begin(header), std::end(header), block.begin());
    std::size_t offset = 54;
    for (const auto& [tag, text] : descriptors) {
        block[offset + 3] = tag;
        std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(offset + 5));
        offset += 18;
    }
    return block;
}

TEST(EdidTest, ReadsTheProductNameDescriptorAndRejectsWhatIsNotOne) {
    // Serial number (0xFF) first, then the name, ended by a line feed and padded by spaces.
    EXPECT_EQ(edidProductName(edid({{0xff, "ABC123"}, {0xfc, "DELL U2720Q\n "}})), "DELL U2720Q");
    EXPECT_EQ(edidProductName(edid({{0xfc, "Thirteen char"}})), "Thirteen char");  // no terminator at full length
    EXPECT_EQ(edidProductName(edid({{0xfe, "just text\n"}})), std::nullopt);
    EXPECT_EQ(edidProductName(edid({{0xfc, "\n"}})), std::nullopt);
    auto noHeader = edid({{0xfc, "Name\n"}});
    noHeader[1] = 0;
    EXPECT_EQ(edidProductName(noHeader), std::nullopt);
    const auto whole = edid({{0xfc, "Name\n"}});
    EXPECT_EQ(edidProductName(std::span(whole).first(100)), std::nullopt);
    // A detailed timing (non-zero pixel clock) whose bytes look like a name is not one.
    auto timing = edid({{0xfc, "Timing\n"}});
    timing[54] = 0x01;
    EXPECT_EQ(edidProductName(timing), std::nullopt);
    EXPECT_EQ(edidProductName(edid({{0xfc, "Caf\xe9\x01 X\n"}})), "Caf X");
}

TEST(DisplaysTest, ListsThePrimaryFirstWithNamesAndStreamSizes) {
    auto monitor = [](std::uint32_t id, bool primary, Rect bounds, std::string name = {}, std::string output = {},
                      std::string product = {}) {
        return MonitorFacts{id, primary, bounds, std::move(name), std::move(output), std::move(product)};
    };
    FakeDisplays displays({
        monitor(301, false, {0, 0, 1920, 1080}, "HDMI-1", "HDMI-1", "LG ULTRAFINE"),
        monitor(302, false, {1920, 0, 2880, 1800}, "left", ""),
        monitor(303, true, {4800, 0, 1280, 1024}, "DP-2", "DP-2"),
        monitor(304, false, {6080, 0, 800, 600}),
    });
    EXPECT_THAT(displays.list(),
                ElementsAre(DisplayInfo{303, "DP-2", 1280, 1024}, DisplayInfo{301, "LG ULTRAFINE", 1920, 1080},
                            DisplayInfo{302, "left", 2560, 1600}, DisplayInfo{304, "Display 304", 800, 600}));
    EXPECT_EQ(displays.primary(), 303u);
    EXPECT_EQ(displays.layout()[0], (DisplayBounds{303, {4800, 0, 1280, 1024}}));
    EXPECT_EQ(displays.name(7), "Display 7");
    EXPECT_EQ(displays.streamSize(302), (StreamSize{2560, 1600}));
    EXPECT_EQ(displays.streamSize(7), (StreamSize{2, 2}));

    // Without a primary the server's first is the main display; without monitors there is none.
    displays.facts[2].primary = false;
    EXPECT_EQ(displays.primary(), 301u);
    displays.facts.clear();
    EXPECT_EQ(displays.primary(), std::nullopt);
    EXPECT_TRUE(displays.list().empty());
}

// Two monitors of one model read differently in the picker and on the phone; one of another
// model keeps its plain name.
TEST(DisplaysTest, MonitorsOfOneModelGetDistinctNames) {
    FakeDisplays displays({
        MonitorFacts{1, true, {0, 0, 1920, 1080}, "DP-1", "DP-1", "DELL U2720Q"},
        MonitorFacts{2, false, {1920, 0, 1920, 1080}, "DP-2", "DP-2", "DELL U2720Q"},
        MonitorFacts{3, false, {3840, 0, 1920, 1080}, "HDMI-1", "HDMI-1", "LG ULTRAFINE"},
        // Names that leave nothing but the id to tell them apart.
        MonitorFacts{4, false, {5760, 0, 800, 600}, "TV", "", ""},
        MonitorFacts{5, false, {6560, 0, 800, 600}, "TV", "", ""},
    });
    std::vector<std::string> names;
    for (const auto& display : displays.list()) {
        names.push_back(display.name);
    }
    EXPECT_THAT(names, ElementsAre("DELL U2720Q (DP-1)", "DELL U2720Q (DP-2)", "LG ULTRAFINE", "TV (4)", "TV (5)"));
    EXPECT_EQ(displays.name(2), "DELL U2720Q (DP-2)");
}

}  // namespace
}  // namespace vantrel
