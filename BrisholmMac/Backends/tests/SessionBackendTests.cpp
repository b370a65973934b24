// The rule that picks the desktop backend, over plain session facts.
#include "Backends/SessionBackend.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {
namespace {

SessionFacts session(std::string type, std::string display, bool answers, std::string wayland = {},
                     std::string desktop = {}, std::optional<std::vector<std::string>> interfaces = {}) {
    return {std::move(type), std::move(wayland),   std::move(display), std::move(desktop),
            answers,         std::move(interfaces)};
}

// What a wlroots compositor offers (sway 1.7, trimmed), and the same without some of it.
std::vector<std::string> wlrootsInterfaces(const std::vector<std::string>& without = {}) {
    std::vector<std::string> offered;
    for (const char* interface :
         {"wl_compositor", "wl_shm", "wl_seat", "wl_output", "zxdg_output_manager_v1", "zwlr_screencopy_manager_v1",
          "zwlr_virtual_pointer_manager_v1", "zwp_virtual_keyboard_manager_v1", "zwlr_foreign_toplevel_manager_v1"}) {
        if (std::find(without.begin(), without.end(), interface) == without.end()) {
            offered.emplace_back(interface);
        }
    }
    return offered;
}

// The same facts with GNOME's screen cast and remote desktop on the session bus.
SessionFacts withGnomeServices(SessionFacts facts) {
    facts.gnomeRemoteDesktop = true;
    return facts;
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

TEST(ChooseBackend, AWaylandCompositorWithScreencopyAndVirtualInputIsServedByTheWlrootsBackend) {
    const std::vector<SessionFacts> served = {
        // Xwayland answering on DISPLAY does not make it an X11 session.
        session("wayland", ":0", true, "wayland-1", "sway", wlrootsInterfaces()),
        // Started from a terminal without a session type: WAYLAND_DISPLAY and no X display.
        session("", "", false, "wayland-1", "", wlrootsInterfaces({"zwlr_foreign_toplevel_manager_v1"})),
    };
    for (const auto& facts : served) {
        const auto choice = chooseBackend(facts);
        ASSERT_EQ(choice.kind, BackendKind::wlroots) << choice.reason;
        EXPECT_NE(choice.reason.find("wayland-1"), std::string::npos) << "the log says which compositor";
    }
    EXPECT_STREQ(backendName(BackendKind::wlroots), "wlroots");
    // An X session with a nested compositor somewhere is still served by X11.
    EXPECT_EQ(chooseBackend(session("x11", ":0", true, "wayland-1", "", wlrootsInterfaces())).kind, BackendKind::x11);
}

TEST(ChooseBackend, AWaylandSessionWithGnomesRemoteDesktopIsServedByTheGnomeBackend) {
    const std::vector<SessionFacts> served = {
        withGnomeServices(session("wayland", "", false, "wayland-0", "GNOME")),
        // Xwayland answering on DISPLAY changes nothing: the native windows are GNOME's.
        withGnomeServices(session("wayland", ":0", true, "wayland-0", "ubuntu:GNOME")),
        // The services decide, not the desktop's name.
        withGnomeServices(session("wayland", "", false, "wayland-0", "")),
    };
    for (const auto& facts : served) {
        const auto choice = chooseBackend(facts);
        ASSERT_EQ(choice.kind, BackendKind::waylandGnome) << facts.currentDesktop;
        EXPECT_FALSE(choice.reason.empty());
    }
    EXPECT_STREQ(backendName(BackendKind::waylandGnome), "wayland-gnome");
    // Outside a Wayland session the services say nothing: an X11 GNOME session keeps its backend.
    EXPECT_EQ(chooseBackend(withGnomeServices(session("x11", ":0", true, {}, "GNOME"))).kind, BackendKind::x11);
    EXPECT_FALSE(chooseBackend(withGnomeServices(session("x11", ":0", false, {}, "GNOME"))).kind);
}

TEST(ChooseBackend, AGnomeSessionWithoutItsServicesButWithThePortalGetsThePortalForm) {
    const auto withPortal = [](SessionFacts facts) {
        facts.portalRemoteDesktop = true;
        return facts;
    };
    for (const char* desktop : {"GNOME", "ubuntu:GNOME", "GNOME-Classic:GNOME"}) {
        const auto choice = chooseBackend(withPortal(session("wayland", "", false, "wayland-0", desktop)));
        EXPECT_EQ(choice.kind, BackendKind::waylandGnomePortal) << desktop;
    }
    EXPECT_STREQ(backendName(BackendKind::waylandGnomePortal), "wayland-gnome-portal");
    // GNOME's own services ask nobody: they win over the portal.
    EXPECT_EQ(chooseBackend(withGnomeServices(withPortal(session("wayland", "", false, "wayland-0", "GNOME")))).kind,
              BackendKind::waylandGnome);
    // The portal form reads GNOME's displays: another desktop's portal does not make it GNOME, nor
    // a desktop whose name merely contains the word.
    EXPECT_FALSE(chooseBackend(withPortal(session("wayland", "", false, "wayland-0", "KDE"))).kind);
    EXPECT_FALSE(chooseBackend(withPortal(session("wayland", "", false, "wayland-0", "GNOMEish"))).kind);
    EXPECT_EQ(chooseBackend(withPortal(session("wayland", "", false, "wayland-1", "sway", wlrootsInterfaces()))).kind,
              BackendKind::wlroots);
    // Outside Wayland the portal says nothing.
    EXPECT_EQ(chooseBackend(withPortal(session("x11", ":0", true, {}, "GNOME"))).kind, BackendKind::x11);
}

TEST(ChooseBackend, ASessionNoBackendServesIsToldWhyInThePanelsWords) {
    const std::string wayland =
        "Dieser Wayland-Compositor bietet keine Schnittstellen zur Bildschirmaufnahme und Eingabe, die "
        "unterstützt werden (unterstützt: X11-Sitzungen, GNOME sowie sway und andere wlroots-Compositoren): bitte "
        "mit einer solchen Sitzung anmelden.";
    const std::string silent = "Der Wayland-Compositor (WAYLAND_DISPLAY) antwortet nicht.";
    const std::string noDisplay =
        "Kein X11-Bildschirm erreichbar (DISPLAY). Bisher werden nur X11-, GNOME- und wlroots-Sitzungen unterstützt.";
    const std::vector<std::pair<SessionFacts, std::string>> unserved = {
        // Xwayland answers on DISPLAY, but shows none of the native windows: it would stream black.
        {session("wayland", ":0", true, "wayland-0", "GNOME", std::vector<std::string>{"wl_compositor", "wl_shm"}),
         wayland},
        {session("wayland", "", false, "wayland-1", "sway"), silent},
        // A wlroots compositor with its virtual keyboard switched off: the missing one is named.
        {session("wayland", "", false, "wayland-1", "sway", wlrootsInterfaces({"zwp_virtual_keyboard_manager_v1"})),
         "Dem Wayland-Compositor fehlt, was die Fernsteuerung braucht: zwp_virtual_keyboard_manager_v1."},
        // GNOME on Wayland without the compositor's remote desktop (another compositor, or a
        // session bus that cannot be reached).
        {session("wayland", "", false, "wayland-0", "GNOME", std::vector<std::string>{"wl_compositor"}), wayland},
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
