// The panel on the real controller and server, looked at as a user sees it: screenshots of the
// panel, read back by an independent QR scanner and by pixel, and a real phone (vantrel-probe)
// that pairs with the code on the screenshot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QMessageBox>
#include <QProcess>

#include "PanelHarness.hpp"
#include "UiTesting.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;

QRgb dot(StatusLine::Dot state) {
    return colourOf(state).rgb();
}

std::optional<std::string> link(PanelWorld& world) {
    return world.model().pairingURL();
}

TEST(PanelScreenshotTest, StatusRowCodeAndPhoneFromReadyToConnectedToSharingOff) {
    PanelWorld world;
    world.app().show();
    ASSERT_TRUE(waitFor([&] { return world.model().port().has_value(); }));
    auto shot = world.screenshot();
    EXPECT_EQ(world.status(), QString("Bereit auf Port %1").arg(*world.model().port()));
    EXPECT_EQ(world.statusDotColour(shot).rgb(), dot(StatusLine::Dot::yellow));
    EXPECT_FALSE(world.shows("Trennen"));
    EXPECT_FALSE(world.shows("code")) << "the pairing section starts closed";

    world.click("pairingToggle");
    EXPECT_TRUE(world.model().showCode());
    shot = world.screenshot();
    PanelWorld::keep(shot, "panel-pairing");
    const auto scanned = scanQRCode(shot);
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned, link(world));
    EXPECT_TRUE(world.shows("127.0.0.1"));
    EXPECT_TRUE(world.shows("Der Code enthält den Schlüssel. Nicht fotografieren oder teilen."));

    // A phone pairs with what it scanned.
    QProcess phone;
    phone.start(VANTREL_PROBE, {"--seconds", "60", "--name", "Testtelefon", QString::fromStdString(*scanned)});
    ASSERT_TRUE(waitFor([&] { return world.status() == "Verbunden mit Testtelefon"; }, 20s))
        << world.status().toStdString() << phone.readAllStandardError().toStdString();
    shot = world.screenshot();
    PanelWorld::keep(shot, "panel-connected");
    EXPECT_EQ(world.statusDotColour(shot).rgb(), dot(StatusLine::Dot::green));
    EXPECT_TRUE(world.shows("Trennen"));

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
    EXPECT_FALSE(world.shows("code"));
    EXPECT_TRUE(world.shows("Kein Netzwerk oder Freigabe aus."));
    EXPECT_FALSE(world.shows("Kopplungslink kopieren"));
    EXPECT_TRUE(world.shows("Schlüssel erneuern"));
}

TEST(PanelScreenshotTest, RotatingTheKeyRenewsTheCodeAndTheCopiedLink) {
    PanelWorld world;
    world.app().show();
    world.model().setShowCode(true);
    ASSERT_TRUE(waitFor([&] { return link(world).has_value(); }));
    const auto before = link(world);

    world.click("Kopplungslink kopieren");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), *before) << "exactly the link, nothing added";
    EXPECT_EQ(scanQRCode(world.screenshot()), before);

    world.click("Schlüssel erneuern");
    ASSERT_TRUE(waitFor([&] { return link(world).has_value() && link(world) != before; }));
    const auto after = link(world);
    EXPECT_NE(PairingInfo::fromURL(*after)->key, PairingInfo::fromURL(*before)->key);
    EXPECT_EQ(scanQRCode(world.screenshot()), after);
    world.click("Kopplungslink kopieren");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), *after);
}

TEST(PanelScreenshotTest, NoListenerStaysStartingAndMissingPermissionsExplainThemselves) {
    PanelWorld::Config config;
    config.canListen = false;
    config.screenReadable = false;
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

    // Both rows offer "Erlauben"; the button explains instead of doing nothing.
    EXPECT_TRUE(world.shows("Erlauben:Bildschirmaufnahme"));
    EXPECT_TRUE(world.shows("Erlauben:Bedienungshilfen"));
    world.click("Erlauben:Bildschirmaufnahme");
    QMessageBox* explanation = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                explanation = box;
            }
        }
        return explanation != nullptr;
    }));
    EXPECT_EQ(explanation->windowTitle(), "Vantrel – Bildschirmaufnahme");
    EXPECT_TRUE(explanation->text().startsWith("Vantrel kann den Bildschirm nicht lesen"));
    explanation->close();

    // The model looks again every three seconds; a granted permission loses its button.
    world.canInject = true;
    ASSERT_TRUE(waitFor([&] { return !world.shows("Erlauben:Bedienungshilfen"); }, 5s));
    EXPECT_TRUE(world.shows("Erlauben:Bildschirmaufnahme"));
}

TEST(PanelScreenshotTest, DisplayChoiceOnlyWithTwoDisplaysAndCaptureErrorInRed) {
    {
        PanelWorld::Config config;
        config.displays = 1;
        config.unsupportedSession = "Nur X11-Sitzungen werden unterstützt.";
        PanelWorld one(config);
        one.app().show();
        const auto shot = one.screenshot();
        PanelWorld::keep(shot, "panel-one-display");
        EXPECT_FALSE(one.shows("displays"));
        EXPECT_FALSE(one.shows("Neuen Fenstern folgen"));
        auto* error = one.find<QLabel>("captureError");
        ASSERT_TRUE(one.shows("Nur X11-Sitzungen werden unterstützt."));
        const QRect area(error->mapTo(&one.view(), QPoint()), error->size());
        int red = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                red += pixel.red() > 180 && pixel.green() < 90 && pixel.blue() < 90 ? 1 : 0;
            }
        }
        EXPECT_GT(red, 20) << "the error is drawn in red";
    }

    PanelWorld two;
    two.app().show();
    ASSERT_TRUE(two.shows("displays"));
    ASSERT_TRUE(two.shows("Neuen Fenstern folgen"));
    auto* picker = two.find<QComboBox>("displayPicker");
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(0), "Links");
    EXPECT_EQ(picker->itemText(1), "Rechts");
    EXPECT_EQ(picker->currentText(), "Links");
    Q_EMIT picker->activated(1);
    EXPECT_EQ(two.model().activeDisplay(), 2U);
    EXPECT_EQ(picker->currentText(), "Rechts");

    EXPECT_TRUE(two.model().followWindows());
    two.click("Neuen Fenstern folgen");
    EXPECT_FALSE(two.model().followWindows());
}

}  // namespace
}  // namespace vantrel::testing
