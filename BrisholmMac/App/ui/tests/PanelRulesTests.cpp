#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include "PanelRules.hpp"

// Positions in failure messages as x,y.
inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << point.x() << "," << point.y();
}

namespace vantrel {
namespace {

using Dot = StatusLine::Dot;

TEST(StatusLineTest, FirstMatchingStateWins) {
    const std::optional<std::string> phone = "Pixel";
    const std::optional<std::uint16_t> port = 47823;
    // A phone counts even while the port is unknown or sharing is being turned off.
    EXPECT_EQ(statusLine(phone, port, true), (StatusLine{Dot::green, "Verbunden mit Pixel"}));
    EXPECT_EQ(statusLine(phone, std::nullopt, false), (StatusLine{Dot::green, "Verbunden mit Pixel"}));
    EXPECT_EQ(statusLine(std::nullopt, std::nullopt, true), (StatusLine{Dot::grey, "Startet…"}));
    EXPECT_EQ(statusLine(std::nullopt, std::nullopt, false), (StatusLine{Dot::grey, "Freigabe aus"}));
    EXPECT_EQ(statusLine(std::nullopt, port, true), (StatusLine{Dot::yellow, "Bereit auf Port 47823"}));
}

TEST(PanelPositionTest, OpensBelowTheIconInsideTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QRect free(0, 32, 1920, 1048);  // a 32-pixel panel at the top
    const QSize panel(300, 500);
    // Centred under an icon in the middle of a top panel.
    EXPECT_EQ(panelPosition(QRect(900, 4, 24, 24), panel, free), QPoint(761, 32));
    // At the right edge: moved left so it stays whole.
    EXPECT_EQ(panelPosition(QRect(1890, 4, 24, 24), panel, free), QPoint(1620, 32));
    // A bottom panel: above the icon.
    EXPECT_EQ(panelPosition(QRect(1800, 1050, 24, 24), panel, QRect(0, 0, 1920, 1046)), QPoint(1620, 546));
    // Taller than the screen: the top stays visible.
    EXPECT_EQ(panelPosition(QRect(900, 4, 24, 24), QSize(300, 2000), screen).y(), 0);
}

TEST(PanelPositionTest, NextToTheIconAwayFromTheTraysEdgeAndStaysThereWhileItGrows) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize collapsed(300, 330);
    const QSize expanded(300, 690);
    struct Tray {
        const char* edge;
        QRect icon;
        QRect available;  // the tray keeps its 32-pixel strip free
        TrayEdge expectedEdge;
    };
    const Tray trays[] = {
        {"top", QRect(1888, 4, 24, 24), QRect(0, 32, 1920, 1048), TrayEdge::top},
        {"bottom", QRect(1888, 1052, 24, 24), QRect(0, 0, 1920, 1048), TrayEdge::bottom},
        {"left", QRect(4, 600, 24, 24), QRect(32, 0, 1888, 1080), TrayEdge::left},
        {"right", QRect(1892, 600, 24, 24), QRect(0, 0, 1888, 1080), TrayEdge::right},
        {"left, in the bottom corner", QRect(4, 1052, 24, 24), QRect(32, 0, 1888, 1080), TrayEdge::left},
        // Trays that keep no strip free: told by the nearest edge, top and bottom first at a corner.
        {"bottom, no strip", QRect(1892, 1052, 24, 24), screen, TrayEdge::bottom},
        {"top corner, no strip", QRect(1892, 4, 24, 24), screen, TrayEdge::top},
        {"left, no strip", QRect(4, 600, 24, 24), screen, TrayEdge::left},
    };
    for (const auto& tray : trays) {
        SCOPED_TRACE(tray.edge);
        EXPECT_EQ(trayEdge(tray.icon, tray.available), tray.expectedEdge);
        std::optional<QRect> opened;
        for (const QSize size : {collapsed, expanded}) {
            const QRect panel(panelPosition(tray.icon, size, tray.available), size);
            EXPECT_TRUE(tray.available.contains(panel)) << panel.x() << "," << panel.y();
            EXPECT_FALSE(panel.intersects(tray.icon));
            if (opened) {
                // Grown: the side next to the icon stays where it was.
                switch (tray.expectedEdge) {
                    case TrayEdge::top: EXPECT_EQ(panel.top(), opened->top()); break;
                    case TrayEdge::bottom: EXPECT_EQ(panel.bottom(), opened->bottom()); break;
                    case TrayEdge::left: EXPECT_EQ(panel.left(), opened->left()); break;
                    case TrayEdge::right: EXPECT_EQ(panel.right(), opened->right()); break;
                }
            }
            opened = panel;
        }
    }
    // Beside a side tray, level with the icon, on the far side of the strip.
    EXPECT_EQ(panelPosition(QRect(4, 600, 24, 24), collapsed, QRect(32, 0, 1888, 1080)), QPoint(32, 600));
    EXPECT_EQ(panelPosition(QRect(1892, 600, 24, 24), collapsed, QRect(0, 0, 1888, 1080)), QPoint(1588, 600));
    // Low on a side tray: lifted so the whole panel stays on the screen.
    EXPECT_EQ(panelPosition(QRect(4, 1000, 24, 24), expanded, QRect(32, 0, 1888, 1080)), QPoint(32, 390));
    // Where the tray host keeps the icon's place to itself, the pointer stands for it.
    EXPECT_EQ(panelPosition(QRect(900, 700, 1, 1), expanded, screen), QPoint(750, 6));
}

TEST(ContrastTest, MeasuresAsAccessibilityGuidelinesDo) {
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::white, Qt::black), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio(QColor("#777777"), QColor("#777777")), 1.0);
    EXPECT_NEAR(contrastRatio(QColor("#767676"), Qt::white), 4.54, 0.01);  // the usual grey on white
}

TEST(TrayGlyphTest, ReadsThePanelAroundTheIcon) {
    const auto filled = [](QColor colour, std::size_t count = 40) { return std::vector<QColor>(count, colour); };
    EXPECT_EQ(trayGlyphOn(filled(Qt::black)), TrayGlyph::light);
    EXPECT_EQ(trayGlyphOn(filled(QColor("#2e3436"))), TrayGlyph::light);
    EXPECT_EQ(trayGlyphOn(filled(Qt::white)), TrayGlyph::dark);
    EXPECT_EQ(trayGlyphOn(filled(QColor("#d6d6d6"))), TrayGlyph::dark);
    // A mid grey still suits one of the two plain glyphs.
    EXPECT_NE(trayGlyphOn(filled(QColor("#808080"))), TrayGlyph::outlined);

    // A neighbouring icon's few light pixels on a black panel change nothing.
    auto black = filled(Qt::black, 95);
    black.insert(black.end(), 5, Qt::white);
    EXPECT_EQ(trayGlyphOn(black), TrayGlyph::light);

    // A picture or a gradient behind the tray, or nothing to look at: the outlined glyph.
    auto halves = filled(Qt::black, 20);
    halves.insert(halves.end(), 20, Qt::white);
    EXPECT_EQ(trayGlyphOn(halves), TrayGlyph::outlined);
    std::vector<QColor> gradient;
    for (int level = 0; level < 256; ++level) {
        gradient.push_back(QColor(level, level, level));
    }
    EXPECT_EQ(trayGlyphOn(gradient), TrayGlyph::outlined);
    EXPECT_EQ(trayGlyphOn({}), TrayGlyph::outlined);
}

TEST(TrayGlyphTest, LooksAtTheIconsCornersWhereNoGlyphDraws) {
    // Every glyph leaves an eighth of the icon free in each corner, on any scale.
    for (const bool connected : {false, true}) {
        for (const TrayGlyph glyph : {TrayGlyph::dark, TrayGlyph::light, TrayGlyph::outlined}) {
            for (const int size : {16, 24, 48}) {
                QImage picture(size, size, QImage::Format_ARGB32);
                picture.fill(Qt::transparent);
                QPainter(&picture).drawImage(picture.rect(), QImage(trayIconPath(connected, glyph)));
                const auto corners = cornersOf(picture, picture.rect());
                EXPECT_EQ(corners.size(), 4U * static_cast<unsigned>(std::max(2, size / 8) * std::max(2, size / 8)));
                EXPECT_TRUE(
                    std::all_of(corners.begin(), corners.end(), [](QColor pixel) { return pixel.alpha() == 0; }))
                    << trayIconPath(connected, glyph).toStdString() << " at " << size;
            }
        }
    }

    // Of a grab around the icon only the icon's corners count; an icon at the grab's edge keeps
    // the corners the grab holds.
    QImage grab(40, 40, QImage::Format_RGB32);
    grab.fill(Qt::red);
    const QRect icon(8, 8, 24, 24);
    for (int y = icon.top(); y <= icon.bottom(); ++y) {
        for (int x = icon.left(); x <= icon.right(); ++x) {
            grab.setPixelColor(x, y, Qt::white);
        }
    }
    const auto corners = cornersOf(grab, icon);
    EXPECT_EQ(corners.size(), 4U * 3U * 3U);
    EXPECT_TRUE(std::all_of(corners.begin(), corners.end(), [](QColor pixel) { return pixel == Qt::white; }));
    EXPECT_EQ(cornersOf(grab, QRect(28, 28, 24, 24)).size(), 3U * 3U);
}

TEST(TrayIconTest, EveryStateInEveryGlyphHasItsOwnPicture) {
    std::set<QString> paths;
    for (const bool connected : {false, true}) {
        for (const TrayGlyph glyph : {TrayGlyph::dark, TrayGlyph::light, TrayGlyph::outlined}) {
            const QString path = trayIconPath(connected, glyph);
            EXPECT_FALSE(QImage(path).isNull()) << path.toStdString();
            paths.insert(path);
        }
    }
    EXPECT_EQ(paths.size(), 6U);
}

TEST(TrayIconTest, TheOutlinedGlyphStandsOutOnBlackAndOnWhite) {
    for (const bool connected : {false, true}) {
        const QImage picture = QImage(trayIconPath(connected, TrayGlyph::outlined)).scaled(48, 48);
        for (const QColor panel : {QColor(Qt::black), QColor(Qt::white)}) {
            QImage onPanel(picture.size(), QImage::Format_RGB32);
            onPanel.fill(panel);
            QPainter(&onPanel).drawImage(0, 0, picture);
            int standingOut = 0;
            for (int y = 0; y < onPanel.height(); ++y) {
                for (int x = 0; x < onPanel.width(); ++x) {
                    standingOut += contrastRatio(onPanel.pixelColor(x, y), panel) >= 3.0 ? 1 : 0;
                }
            }
            EXPECT_GE(standingOut, 150) << (connected ? "connected on " : "idle on ") << panel.name().toStdString();
        }
    }
}

}  // namespace
}  // namespace vantrel
