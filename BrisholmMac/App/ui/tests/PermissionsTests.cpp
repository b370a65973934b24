#include <gtest/gtest.h>

#include "Permissions.hpp"

namespace vantrel {
namespace {

using Permissions::Permission;

std::string explained(Permission permission, const Permissions::SessionFacts& facts) {
    const auto explanation = Permissions::explain(permission, facts);
    return (explanation.what + " " + explanation.how).toStdString();
}

bool has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

TEST(PermissionsTest, EachCauseGetsItsOwnRemedyAndWaylandComesFirst) {
    // Clients of the compatibility server have a DISPLAY, yet it is Wayland that is in the way.
    for (const auto& facts : {Permissions::SessionFacts{":0", "wayland-0", "wayland"}, {":0", "wayland-0", ""}}) {
        for (const auto permission : {Permission::screenRecording, Permission::accessibility}) {
            const auto text = explained(permission, facts);
            EXPECT_TRUE(has(text, "Wayland") && has(text, "X11-Sitzung wählen") && !has(text, "XTest")) << text;
        }
    }
    EXPECT_TRUE(has(explained(Permission::accessibility, {"", "", "tty"}), "DISPLAY ist nicht gesetzt"));
    const auto unreadable = explained(Permission::screenRecording, {":1", "", "x11"});
    EXPECT_TRUE(has(unreadable, "„:1“ lässt sich nicht öffnen") && has(unreadable, "XAUTHORITY")) << unreadable;
    const auto noXTest = explained(Permission::accessibility, {":1", "", "x11"});
    EXPECT_TRUE(has(noXTest, "XTest nicht an") && has(noXTest, "nur zusehen")) << noXTest;
}

TEST(PermissionsTest, GnomeOnWaylandIsToldAboutItsOwnServices) {
    Permissions::SessionFacts gnome{":0", "wayland-0", "wayland", true, false};
    const auto noRemoteDesktop = explained(Permission::accessibility, gnome);
    EXPECT_TRUE(has(noRemoteDesktop, "org.gnome.Mutter.RemoteDesktop") && has(noRemoteDesktop, "wieder anmelden") &&
                !has(noRemoteDesktop, "X11"))
        << noRemoteDesktop;
    // The screen cast answers: what is missing is the picture's way here.
    const auto noPicture = explained(Permission::screenRecording, gnome);
    EXPECT_TRUE(has(noPicture, "PipeWire") && !has(noPicture, "X11")) << noPicture;
    gnome.gnomeScreenCast = false;
    gnome.gnomeRemoteDesktop = true;
    EXPECT_TRUE(has(explained(Permission::screenRecording, gnome), "org.gnome.Mutter.ScreenCast"));
    EXPECT_TRUE(has(explained(Permission::accessibility, gnome), "Tastaturbelegung"));
    // Another Wayland session still needs an X11 session.
    EXPECT_TRUE(has(explained(Permission::accessibility, {"", "wayland-1", "wayland"}), "X11-Sitzung wählen"));
}

}  // namespace
}  // namespace vantrel
