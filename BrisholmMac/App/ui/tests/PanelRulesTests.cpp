#include <gtest/gtest.h>

#include <QImage>

#include "PanelRules.hpp"

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

TEST(TrayIconTest, EveryStateOnEveryPanelHasAPicture) {
    for (const bool connected : {false, true}) {
        for (const QColor panel : {QColor("#303030"), QColor("#f0f0f0")}) {
            const QImage picture(trayIconPath(connected, panel));
            EXPECT_FALSE(picture.isNull()) << trayIconPath(connected, panel).toStdString();
        }
    }
    EXPECT_NE(trayIconPath(false, QColor("#303030")), trayIconPath(false, QColor("#f0f0f0")));
    EXPECT_NE(trayIconPath(true, QColor("#303030")), trayIconPath(false, QColor("#303030")));
}

}  // namespace
}  // namespace vantrel
