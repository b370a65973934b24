// The tray icon on real tray hosts (XEmbed system trays: trayer at the top, tint2 at the bottom)
// and the window without one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

#include "PanelHarness.hpp"
#include "UiTesting.hpp"

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;

bool isPopup(QWidget& widget) {
    return (widget.windowFlags() & Qt::Popup) == Qt::Popup;
}

// A tray host running for one test: started, waited for, and ended with the test.
class TrayHost {
public:
    // trayer as a panel at the top right of the primary monitor.
    static std::unique_ptr<TrayHost> trayerAtTheTop() {
        return std::make_unique<TrayHost>(
            "trayer", QStringList{"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"});
    }

    // tint2 as a 32-pixel panel in background (a colour) along the bottom of each monitor, its tray
    // at the right end of the primary monitor's panel, next to the other monitor.
    static std::unique_ptr<TrayHost> tint2AtTheBottom(const QString& background) {
        return tint2(background, "bottom center horizontal", "all");
    }

    // tint2 as a 32-pixel black panel along the left edge of the primary monitor only, its tray at
    // the panel's lower end.
    static std::unique_ptr<TrayHost> tint2AtTheLeft() { return tint2("#000000", "center left vertical", "1"); }

    static std::unique_ptr<TrayHost> tint2(const QString& background, const QString& position,
                                           const QString& monitors) {
        auto host = std::make_unique<TrayHost>();
        QFile config(host->directory_.filePath("tint2rc"));
        if (config.open(QIODevice::WriteOnly)) {
            config.write(QStringLiteral("rounded = 0\n"
                                        "border_width = 0\n"
                                        "background_color = %1 100\n"
                                        "border_color = #000000 0\n"
                                        "panel_items = FS\n"
                                        "panel_size = 100% 32\n"
                                        "panel_position = %2\n"
                                        "panel_monitor = %3\n"
                                        "panel_background_id = 1\n"
                                        "panel_layer = top\n"
                                        "strut_policy = follow_size\n"
                                        "systray_padding = 4 4 4\n"
                                        "systray_background_id = 0\n"
                                        "systray_icon_size = 24\n"
                                        "systray_monitor = 1\n")
                             .arg(background, position, monitors)
                             .toUtf8());
            config.close();
        }
        host->start("tint2", {"-c", config.fileName()});
        return host;
    }

    TrayHost() = default;
    TrayHost(const QString& program, const QStringList& arguments) { start(program, arguments); }
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;
    ~TrayHost() {
        process_.terminate();
        process_.waitForFinished();
    }

    // Whether the host runs and has taken the tray selection.
    [[nodiscard]] bool ready() const { return ready_; }

private:
    void start(const QString& program, const QStringList& arguments) {
        process_.start(program, arguments);
        ready_ = process_.waitForStarted() && waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); });
    }

    QTemporaryDir directory_;
    QProcess process_;
    bool ready_ = false;
};

// Waits until the tray host has embedded the icon where embedded() says (until then the icon is a
// window at 0,0). Now and then a tray host, started while the suite's other X tests come and go,
// never takes the icon in; that is the tray host's doing, not ours.
bool iconEmbedded(PanelWorld& world, const std::function<bool(QRect)>& embedded) {
    return waitFor([&] { return embedded(world.app().trayIcon()->geometry()); });
}

// A real click on the icon, as the user makes it. The tray host may still be placing the icon and
// miss the first one, so click again, where the icon is now, while the panel stays closed. Returns
// where the icon was when the panel opened, or an empty rectangle.
QRect openPanelByClick(PanelWorld& world) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QRect icon = world.app().trayIcon()->geometry();
        if (QProcess::execute("xdotool", {"mousemove", QString::number(icon.center().x()),
                                          QString::number(icon.center().y()), "click", "1"}) != 0) {
            return {};
        }
        if (waitFor([&] { return world.view().isVisible(); }, 1s)) {
            return icon;
        }
    }
    return {};
}

QImage grabScreenArea(QRect area) {
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

// How many pixels of the icon stand out from the panel's background by at least the contrast that
// small graphics need (3:1).
int pixelsStandingOut(const QImage& icon, QColor background) {
    int count = 0;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            count += contrastRatio(icon.pixelColor(x, y), background) >= 3.0 ? 1 : 0;
        }
    }
    return count;
}

TEST(TrayTest, WithoutATrayHostThePanelIsAWindowThatClosingKeepsAndBeendenQuits) {
    ASSERT_TRUE(waitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 2s))
        << "this test needs a desktop without a tray host";
    PanelWorld world;
    world.app().show();
    EXPECT_EQ(world.app().trayIcon(), nullptr);
    ASSERT_TRUE(waitFor([&] { return world.view().isVisible(); }));
    EXPECT_EQ(world.view().windowTitle(), "Vantrel");
    EXPECT_FALSE(isPopup(world.view()));

    // Closing the only way to the host must not lose it.
    EXPECT_FALSE(world.view().close());
    waitFor([] { return false; }, 200ms);
    EXPECT_TRUE(world.view().isVisible());

    // "Beenden" stops the controller, and then the event loop ends.
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    world.click("Beenden");
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_LT(elapsed.elapsed(), 2500) << "the controller's stop ended the loop, not the fallback";
    EXPECT_FALSE(world.view().isVisible());
}

TEST(TrayTest, TheTrayIconsClickOpensThePanelBelowIt) {
    const auto tray = TrayHost::trayerAtTheTop();
    ASSERT_TRUE(tray->ready()) << "trayer is needed (Debian package trayer)";

    PanelWorld world;
    world.app().show();
    ASSERT_NE(world.app().trayIcon(), nullptr);
    EXPECT_FALSE(world.view().isVisible()) << "the panel waits for the click";
    // Embedded in trayer's panel at the top right.
    if (!iconEmbedded(world, [](QRect icon) { return icon.left() > 1000; })) {
        GTEST_SKIP() << "the tray host (trayer) did not embed the icon within 10 s";
    }
    ASSERT_TRUE(waitFor([&] { return world.model().port().has_value(); }));

    const QRect icon = openPanelByClick(world);
    ASSERT_TRUE(icon.isValid());
    EXPECT_TRUE(isPopup(world.view()));
    const QRect panel = world.view().frameGeometry();
    EXPECT_GT(panel.top(), icon.bottom());
    EXPECT_LE(panel.right(), QGuiApplication::primaryScreen()->geometry().right());
    EXPECT_EQ(panel.width(), MenuView::width);

    // The screen's top right: the tray and the panel under it.
    waitFor([] { return false; }, 300ms);
    PanelWorld::keep(grabScreenArea(panel.united(icon).adjusted(-40, -8, 8, 8)), "tray-panel");

    world.app().togglePanel();
    EXPECT_FALSE(world.view().isVisible());
}

TEST(TrayTest, OnABottomOrASideTrayThePairingCodeOpensWhollyOnTheIconsScreenAndScans) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    struct Case {
        const char* edge;
        std::function<std::unique_ptr<TrayHost>()> start;
        std::function<bool(QRect icon)> embedded;
        std::function<bool(QRect panel, QRect icon)> awayFromTheTray;
    };
    const Case cases[] = {
        {"bottom", [] { return TrayHost::tint2AtTheBottom("#000000"); }, [](QRect icon) { return icon.top() > 1000; },
         [](QRect panel, QRect icon) { return panel.bottom() < icon.top(); }},
        {"left", [] { return TrayHost::tint2AtTheLeft(); },
         [](QRect icon) { return icon.top() > 1000 && icon.left() < 32; },
         [](QRect panel, QRect icon) { return panel.left() > icon.right(); }},
    };
    for (const auto& tray : cases) {
        SCOPED_TRACE(tray.edge);
        const auto host = tray.start();
        ASSERT_TRUE(host->ready()) << "tint2 is needed (Debian package tint2)";

        PanelWorld world;
        world.app().show();
        ASSERT_NE(world.app().trayIcon(), nullptr);
        if (!iconEmbedded(world, tray.embedded)) {
            GTEST_SKIP() << "the tray host (tint2) did not embed the icon within 10 s";
        }
        ASSERT_TRUE(waitFor([&] { return world.model().port().has_value(); }));

        const QRect icon = openPanelByClick(world);
        ASSERT_TRUE(icon.isValid());
        ASSERT_TRUE(screen.contains(icon)) << "the tray is on the primary monitor, next to the other one";
        EXPECT_TRUE(tray.awayFromTheTray(world.view().frameGeometry(), icon));

        // Opening the pairing section more than doubles the panel's height: it grows away from
        // the tray and stays on the monitor that holds the icon.
        world.click("pairingToggle");
        ASSERT_TRUE(waitFor([&] { return world.view().height() == world.view().maximumHeight(); }));
        EXPECT_TRUE(waitFor([&] { return screen.contains(world.view().frameGeometry()); }, 2s))
            << "the panel at " << world.view().frameGeometry().y() << " with height " << world.view().height();
        EXPECT_TRUE(tray.awayFromTheTray(world.view().frameGeometry(), icon));

        // What a phone's camera sees: the whole monitor, the code on it read as the link.
        waitFor([] { return false; }, 300ms);
        const QImage shot = grabScreenArea(screen);
        // The monitor's corner with the tray and the panel next to the icon.
        PanelWorld::keep(shot.copy(world.view().frameGeometry().united(icon).adjusted(-40, -8, 40, 8) & screen),
                         QStringLiteral("tray-%1-panel-code").arg(tray.edge));
        EXPECT_EQ(scanQRCode(shot), world.model().pairingURL());

        world.app().togglePanel();
    }
}

TEST(TrayTest, TheIconStandsOutOnADarkPanelAndOnALightOne) {
    const auto picture = [](const QIcon& icon) { return icon.pixmap(24, 24).toImage(); };
    for (const auto& [background, glyph] :
         {std::pair{QColor("#000000"), TrayGlyph::light}, std::pair{QColor("#ffffff"), TrayGlyph::dark}}) {
        SCOPED_TRACE(background.name().toStdString());
        const auto tray = TrayHost::tint2AtTheBottom(background.name());
        ASSERT_TRUE(tray->ready()) << "tint2 is needed (Debian package tint2)";

        PanelWorld world;
        world.app().show();
        ASSERT_NE(world.app().trayIcon(), nullptr);
        if (!iconEmbedded(world, [](QRect icon) { return icon.top() > 1000; })) {
            GTEST_SKIP() << "the tray host (tint2) did not embed the icon within 10 s";
        }
        // The outlined glyph until the icon has looked at the panel, then the plain one that suits it.
        const QImage expected = picture(QIcon(trayIconPath(false, glyph)));
        EXPECT_TRUE(waitFor([&] { return picture(world.app().trayIcon()->icon()) == expected; }));

        // The strokes on the screen: a few dozen pixels of a 24-pixel glyph.
        waitFor([] { return false; }, 300ms);
        const QImage shot = grabScreenArea(world.app().trayIcon()->geometry());
        EXPECT_GE(pixelsStandingOut(shot, background), 40);
        PanelWorld::keep(shot.scaled(shot.size() * 4), "tray-icon-on-" + background.name().mid(1));
    }
}

}  // namespace
}  // namespace vantrel::testing
