#include <gtest/gtest.h>

#include "Permissions.hpp"

namespace vantrel {
namespace {

using Permissions::Permission;
using Permissions::SessionFacts;

std::string whatAndHow(Permission permission, const SessionFacts& facts) {
    const auto explanation = Permissions::explain(permission, facts);
    return (explanation.what + " " + explanation.how).toStdString();
}

TEST(PermissionsTest, WaylandIsNamedEvenWhereTheCompatibilityServerGivesADisplay) {
    for (const SessionFacts& facts : {SessionFacts{":0", "wayland-0", "wayland"}, SessionFacts{":0", "wayland-0", ""},
                                      SessionFacts{"", "", "wayland"}}) {
        for (const auto permission : {Permission::screenRecording, Permission::accessibility}) {
            const auto text = whatAndHow(permission, facts);
            EXPECT_NE(text.find("Wayland"), std::string::npos) << text;
            EXPECT_NE(text.find("X11-Sitzung wählen"), std::string::npos) << text;
            EXPECT_EQ(text.find("XTest"), std::string::npos) << text;
        }
    }
}

TEST(PermissionsTest, EachX11CauseGetsItsOwnRemedy) {
    const auto noDisplay = whatAndHow(Permission::accessibility, {"", "", "tty"});
    EXPECT_NE(noDisplay.find("DISPLAY ist nicht gesetzt"), std::string::npos) << noDisplay;

    const auto unreadable = whatAndHow(Permission::screenRecording, {":1", "", "x11"});
    EXPECT_NE(unreadable.find("„:1“ lässt sich nicht öffnen"), std::string::npos) << unreadable;
    EXPECT_NE(unreadable.find("XAUTHORITY"), std::string::npos) << unreadable;

    const auto noXTest = whatAndHow(Permission::accessibility, {":1", "", "x11"});
    EXPECT_NE(noXTest.find("XTest nicht an"), std::string::npos) << noXTest;
    EXPECT_NE(noXTest.find("nur zusehen"), std::string::npos) << noXTest;
}

}  // namespace
}  // namespace vantrel
