// The rule that picks the desktop backend, over plain session facts.
#include "Backends/SessionBackend.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

SessionFacts session(std::string type, std::string display, bool answers, std::string wayland = {},
                     std::string desktop = {}, bool gnomeServices = false) {
    return {std::move(type), std::move(wayland), std::move(display), std::move(desktop), answers, gnomeServices};
}

TEST(ChooseBackend, AnXDisplayThatAnswersOutsideWaylandIsServedByTheX11Backend) {
    const std::vector<SessionFacts> served = {
        session("x11", ":0", true, {}, "GNOME"), session("", ":1", true),  // started with startx: no session type
        session("tty", ":2", true),  // a console login with an X server of its own
    };
    for (const auto& facts : served) {
        const auto choice = chooseBackend(facts);
        ASSERT_EQ(choice.kind, BackendKind::x11) << facts.sessionType;
        EXPECT_NE(choice.reason.find(facts.display), std::string::npos) << "the log says which display answered";
    }
    EXPECT_STREQ(backendName(BackendKind::x11), "x11");
}

TEST(ChooseBackend, AWaylandSessionWithGnomesRemoteDesktopIsServedByTheGnomeBackend) {
    const std::vector<SessionFacts> served = {
        session("wayland", "", false, "wayland-0", "GNOME", true),
        // Xwayland answering on DISPLAY changes nothing: the native windows are GNOME's.
        session("wayland", ":0", true, "wayland-0", "ubuntu:GNOME", true),
        // The services decide, not the desktop's name.
        session("wayland", "", false, "wayland-0", "", true),
    };
    for (const auto& facts : served) {
        const auto choice = chooseBackend(facts);
        ASSERT_EQ(choice.kind, BackendKind::waylandGnome) << facts.currentDesktop;
        EXPECT_FALSE(choice.reason.empty());
    }
    EXPECT_STREQ(backendName(BackendKind::waylandGnome), "wayland-gnome");
    // Outside a Wayland session the services say nothing: an X11 GNOME session keeps its backend.
    EXPECT_EQ(chooseBackend(session("x11", ":0", true, {}, "GNOME", true)).kind, BackendKind::x11);
    EXPECT_FALSE(chooseBackend(session("x11", ":0", false, {}, "GNOME", true)).kind);
}

TEST(ChooseBackend, ASessionNoBackendServesIsToldWhyInThePanelsWords) {
    const std::string wayland =
        "Diese Sitzung ist eine Wayland-Sitzung. Bisher werden nur X11-Sitzungen unterstützt: bitte mit einer "
        "X11-Sitzung anmelden.";
    const std::string noDisplay =
        "Kein X11-Bildschirm erreichbar (DISPLAY). Bisher werden nur X11-Sitzungen unterstützt.";
    const std::vector<std::pair<SessionFacts, std::string>> unserved = {
        // Xwayland answers on DISPLAY, but shows none of the native windows: it would stream black.
        {session("wayland", ":0", true, "wayland-0", "GNOME"), wayland},
        {session("wayland", "", false, "wayland-1", "sway"), wayland},
        // GNOME on Wayland without the compositor's remote desktop (another compositor, or a
        // session bus that cannot be reached).
        {session("wayland", "", false, "wayland-0", "GNOME"), wayland},
        {session("x11", ":0", false), noDisplay},
        {session("", "", false), noDisplay},
    };
    for (const auto& [facts, reason] : unserved) {
        const auto choice = chooseBackend(facts);
        EXPECT_FALSE(choice.kind) << facts.sessionType << " " << facts.display;
        EXPECT_EQ(choice.reason, reason);
    }
}

}  // namespace
}  // namespace vantrel
