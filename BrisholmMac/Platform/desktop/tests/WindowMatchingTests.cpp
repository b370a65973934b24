#include "Platform/desktop/WindowMatching.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace vantrel::desktop {
namespace {

using Type = WindowFacts::Type;

struct RegularCase {
    const char* name;
    Type type;
    bool transient;
    bool skipTaskbar;
    bool regular;
};

class RegularWindows : public ::testing::TestWithParam<RegularCase> {};

TEST_P(RegularWindows, OnlyTaskbarWindowsMakeAnApplicationRegular) {
    const auto& param = GetParam();
    WindowFacts window;
    window.type = param.type;
    window.transient = param.transient;
    window.skipTaskbar = param.skipTaskbar;
    EXPECT_EQ(isRegularApplicationWindow(window), param.regular);
}

INSTANTIATE_TEST_SUITE_P(Types, RegularWindows,
                         ::testing::Values(RegularCase{"normal", Type::normal, false, false, true},
                                           RegularCase{"normalTransient", Type::normal, true, false, true},
                                           RegularCase{"untyped", Type::unset, false, false, true},
                                           RegularCase{"untypedTransient", Type::unset, true, false, false},
                                           RegularCase{"dialogOrDock", Type::other, false, false, false},
                                           RegularCase{"skipsTaskbar", Type::normal, false, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct MatchCase {
    const char* name;
    std::optional<std::string> gtkId;
    std::optional<std::string> instance;
    std::optional<std::string> wmClass;
    std::optional<std::string> expected;
};

class EntryMatching : public ::testing::TestWithParam<MatchCase> {};

// Installed: org.gnome.Calculator, firefox-esr (claimed by the classes "Firefox-esr" and
// "Navigator"), xterm, and code (claimed by "Code"); "Code.desktop" is not installed.
TEST_P(EntryMatching, FindsTheOwningEntryInPriorityOrder) {
    const std::set<std::string> installed = {"org.gnome.Calculator.desktop", "firefox-esr.desktop", "xterm.desktop",
                                             "code.desktop"};
    const std::map<std::string, std::string> startupClasses = {
        {"Firefox-esr", "firefox-esr.desktop"}, {"Code", "code.desktop"}, {"Navigator", "firefox-esr.desktop"}};
    const EntryLookup lookup{
        [&](const std::string& id) { return installed.contains(id); },
        [&](const std::string& wmClass) -> std::optional<std::string> {
            const auto found = startupClasses.find(wmClass);
            return found == startupClasses.end() ? std::nullopt : std::optional(found->second);
        },
    };
    const auto& param = GetParam();
    WindowFacts window;
    window.gtkApplicationId = param.gtkId;
    window.wmInstance = param.instance;
    window.wmClass = param.wmClass;
    EXPECT_EQ(matchDesktopEntry(window, lookup), param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, EntryMatching,
    ::testing::Values(MatchCase{"gtkApplicationId", "org.gnome.Calculator", "gnome-calculator", "Gnome-calculator",
                                "org.gnome.Calculator.desktop"},
                      MatchCase{"uninstalledGtkIdFallsBackToClass", "org.example.Gone", "Navigator", "Firefox-esr",
                                "firefox-esr.desktop"},
                      MatchCase{"startupClassBeatsOwnId", std::nullopt, "xterm", "Code", "code.desktop"},
                      MatchCase{"startupClassOfInstance", std::nullopt, "Code", "Whatever", "code.desktop"},
                      MatchCase{"ownIdFromClass", std::nullopt, "nothing", "xterm", "xterm.desktop"},
                      MatchCase{"ownIdLowercased", std::nullopt, "XTerm", "XTerm", "xterm.desktop"},
                      MatchCase{"startupClassIsCaseSensitive", std::nullopt, std::nullopt, "navigator", std::nullopt},
                      MatchCase{"emptyNamesMatchNothing", "", "", "", std::nullopt},
                      MatchCase{"unknown", std::nullopt, "unknown", "Unknown", std::nullopt},
                      MatchCase{"noProperties", std::nullopt, std::nullopt, std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::desktop
