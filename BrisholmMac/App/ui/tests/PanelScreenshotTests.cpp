// The panel on the real controller and server, looked at as a user sees it: screenshots of the
// panel, read back by an independent QR scanner and by pixel, and a real phone (vantrel-probe)
// that pairs with the code on the screenshot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QMessageBox>
#include <QProcess>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "PanelHarness.hpp"
#include "UiTesting.hpp"

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;

QRgb dot(StatusLine::Dot state) {
    return colourOf(state).rgb();
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string clipboard() {
    return QApplication::clipboard()->text().toStdString();
}

TEST(PanelScreenshotTest, FromReadyThroughKeyRotationAndAPairedPhoneToSharingOff) {
    PanelWorld world;
    world.app().show();
    ASSERT_TRUE(waitFor([&] { return world.model().port().has_value(); }));
    auto shot = world.screenshot();
    EXPECT_EQ(world.status(), QString("Bereit auf Port %1").arg(*world.model().port()));
    EXPECT_EQ(world.statusDotColour(shot).rgb(), dot(StatusLine::Dot::yellow));
    EXPECT_FALSE(world.shows("Trennen"));
    EXPECT_FALSE(world.shows("code")) << "the pairing section starts closed";

    world.click("pairingToggle");
    const auto before = world.model().pairingURL();
    EXPECT_EQ(scanQRCode(world.screenshot()), before);
    EXPECT_TRUE(world.shows("127.0.0.1"));
    world.click("Kopplungslink kopieren");
    EXPECT_EQ(clipboard(), *before) << "exactly the link, nothing added";

    // A new key: a new code and a new copied link.
    world.click("Schlüssel erneuern");
    ASSERT_TRUE(waitFor([&] { return world.model().port() && world.model().pairingURL() != before; }));
    const auto scanned = scanQRCode(world.screenshot());
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned, world.model().pairingURL());
    world.click("Kopplungslink kopieren");
    EXPECT_EQ(clipboard(), *scanned);

    // A phone pairs with what it scanned.
    QProcess phone;
    phone.start(VANTREL_PROBE, {"--seconds", "60", "--name", "Testtelefon", QString::fromStdString(*scanned)});
    ASSERT_TRUE(waitFor([&] { return world.status() == "Verbunden mit Testtelefon"; }, 20s))
        << world.status().toStdString() << phone.readAllStandardError().toStdString();
    shot = world.screenshot();
    PanelWorld::keep(shot, "panel-connected");
    EXPECT_EQ(world.statusDotColour(shot).rgb(), dot(StatusLine::Dot::green));

    world.click("Trennen");
    ASSERT_TRUE(waitFor([&] { return phone.state() == QProcess::NotRunning; }));
    EXPECT_EQ(phone.exitCode(), 7) << "the host ended the session";
    ASSERT_TRUE(waitFor([&] { return world.status().startsWith("Bereit auf Port"); }));
    EXPECT_FALSE(world.shows("Trennen"));

    world.click("sharing");
    ASSERT_TRUE(waitFor([&] { return world.status() == "Freigabe aus"; }));
    shot = world.screenshot();
    PanelWorld::keep(shot, "panel-sharing-off");
    EXPECT_EQ(world.statusDotColour(shot).rgb(), dot(StatusLine::Dot::grey));
    EXPECT_FALSE(scanQRCode(shot));
    EXPECT_TRUE(world.shows("Kein Netzwerk oder Freigabe aus."));
    EXPECT_FALSE(world.shows("Kopplungslink kopieren"));
    EXPECT_TRUE(world.shows("Schlüssel erneuern"));
}

TEST(PanelScreenshotTest, NoListenerStaysStartingAndMissingPermissionsExplainThemselves) {
    PanelWorld::Config config;
    config.canListen = false;
    config.canInject = false;
    PanelWorld world(config);
    int reports = 0;
    QObject::connect(&world.model(), &AppModel::portChanged, [&] { ++reports; });
    world.model().setShowCode(true);
    world.app().show();
    ASSERT_TRUE(waitFor([&] { return reports > 0; })) << "the server reports that it cannot listen";
    const auto shot = world.screenshot();
    PanelWorld::keep(shot, "panel-starting");
    EXPECT_EQ(world.status(), "Startet…");
    EXPECT_EQ(world.statusDotColour(shot).rgb(), dot(StatusLine::Dot::grey));
    EXPECT_TRUE(world.shows("Kein Netzwerk oder Freigabe aus."));
    EXPECT_FALSE(world.shows("Kopplungslink kopieren"));

    // "Erlauben" explains instead of doing nothing.
    EXPECT_FALSE(world.shows("Erlauben:Bildschirmaufnahme"));
    world.click("Erlauben:Bedienungshilfen");
    QMessageBox* explanation = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                explanation = box;
            }
        }
        return explanation != nullptr;
    }));
    EXPECT_EQ(explanation->windowTitle(), "Vantrel – Bedienungshilfen");
    EXPECT_TRUE(explanation->text().startsWith("Vantrel kann die Eingaben des Telefons nicht ausführen"));
    explanation->close();
}

TEST(PanelScreenshotTest, DisplayChoiceOnlyWithTwoDisplaysAndCaptureErrorInRed) {
    {
        PanelWorld::Config config;
        config.displays = 1;
        config.unsupportedSession = "Nur X11-Sitzungen werden unterstützt.";
        PanelWorld one(config);
        one.app().show();
        const auto shot = one.screenshot();
        EXPECT_FALSE(one.shows("displayPicker"));
        EXPECT_FALSE(one.shows("Neuen Fenstern folgen"));
        ASSERT_TRUE(one.shows("Nur X11-Sitzungen werden unterstützt."));
        auto* error = one.find<QLabel>("captureError");
        const QRect area(error->mapTo(&one.view(), QPoint()), error->size());
        const QImage text = shot.copy(area);
        int red = 0;
        for (int pixel = 0; pixel < text.width() * text.height(); ++pixel) {
            const QColor colour = text.pixelColor(pixel % text.width(), pixel / text.width());
            red += colour.red() > 180 && colour.green() < 90 && colour.blue() < 90 ? 1 : 0;
        }
        EXPECT_GT(red, 20) << "the error is drawn in red";
    }

    PanelWorld two;
    two.app().show();
    ASSERT_TRUE(two.shows("Neuen Fenstern folgen") && two.shows("displayPicker"));
    auto* picker = two.find<QComboBox>("displayPicker");
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(1), "Rechts");
    EXPECT_EQ(picker->currentText(), "Links");
    Q_EMIT picker->activated(1);
    EXPECT_EQ(two.model().activeDisplay(), 2U);
    EXPECT_EQ(picker->currentText(), "Rechts");

    two.click("Neuen Fenstern folgen");
    EXPECT_FALSE(two.model().followWindows());
    EXPECT_FALSE(two.shows("noFollowing"));
}

TEST(PanelScreenshotTest, ASessionThatHidesWindowsSaysSoInsteadOfTheFollowSwitch) {
    PanelWorld::Config config;
    config.noFollowing = "Hier sieht Vantrel keine Fenster.";
    PanelWorld world(config);
    world.app().show();
    EXPECT_TRUE(world.shows("displayPicker"));
    EXPECT_FALSE(world.shows("Neuen Fenstern folgen"));
    EXPECT_TRUE(world.shows("Hier sieht Vantrel keine Fenster."));
}

TEST(PanelScreenshotTest, StartAtLoginSwitchWritesAndRemovesTheUsersEntryAndShowsItsState) {
    PanelWorld world;
    world.app().show();
    auto* startAtLogin = world.find<QCheckBox>("startAtLogin");
    ASSERT_TRUE(startAtLogin != nullptr && world.shows("startAtLogin"));
    EXPECT_EQ(startAtLogin->text(), "Bei der Anmeldung starten");
    EXPECT_FALSE(startAtLogin->isChecked()) << "off until the user turns it on";

    world.click("startAtLogin");
    ASSERT_TRUE(std::filesystem::exists(world.autostartEntry()));
    EXPECT_EQ(readFile(world.autostartEntry()), autostartEntryText("/usr/bin/brisholm"));
    EXPECT_TRUE(startAtLogin->isChecked());
    PanelWorld::keep(world.screenshot(), "panel-start-at-login");

    world.click("startAtLogin");
    EXPECT_FALSE(std::filesystem::exists(world.autostartEntry()));
    EXPECT_FALSE(startAtLogin->isChecked());

    // Changed elsewhere (brisholm --autostart on in a terminal): the panel shows it when opened.
    world.view().hide();
    ASSERT_EQ(Autostart({world.autostartEntry(), {}, "/usr/bin/brisholm"}).setEnabled(true), "");
    world.view().show();
    EXPECT_TRUE(startAtLogin->isChecked());
}

TEST(PanelScreenshotTest, StartAtLoginSwitchTurnsAnOldSystemWideEntryOffForThisUser) {
    PanelWorld world;
    std::filesystem::create_directories(world.systemAutostartEntry().parent_path());
    std::ofstream(world.systemAutostartEntry()) << "[Desktop Entry]\nType=Application\nExec=brisholm\n";
    world.app().show();
    auto* startAtLogin = world.find<QCheckBox>("startAtLogin");
    EXPECT_TRUE(startAtLogin->isChecked()) << "an entry for every user starts the host for this one too";

    world.click("startAtLogin");
    EXPECT_FALSE(startAtLogin->isChecked());
    EXPECT_EQ(readFile(world.autostartEntry()), hiddenEntryText());
    EXPECT_TRUE(std::filesystem::exists(world.systemAutostartEntry()));
}

}  // namespace
}  // namespace vantrel::testing
