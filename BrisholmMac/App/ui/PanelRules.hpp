#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The tray interface's rules as plain functions of plain values: what the status row says, where
// the panel opens, which tray icon shows. Callable from any thread.
namespace vantrel {

// The status row's dot and text, first match wins: connected (green, "Verbunden mit NAME"), no
// port while sharing is on (grey, "Startet…"), no port while it is off (grey, "Freigabe aus"),
// listening (yellow, "Bereit auf Port N").
struct StatusLine {
    enum class Dot { green, grey, yellow };
    Dot dot = Dot::grey;
    QString text;

    bool operator==(const StatusLine&) const = default;
};
[[nodiscard]] StatusLine statusLine(const std::optional<std::string>& clientName, std::optional<std::uint16_t> port,
                                    bool sharingEnabled);
[[nodiscard]] QColor colourOf(StatusLine::Dot dot);

// The screen edge a tray runs along, judged by where its icon sits in the screen's free area. An
// icon outside the free area is on a panel that keeps its strip free: that strip's edge. Otherwise
// the nearest edge, where top and bottom win near a corner, as most trays run along them.
enum class TrayEdge { top, bottom, left, right };
[[nodiscard]] TrayEdge trayEdge(QRect icon, QRect available);

// Where the panel opens for a tray icon at icon on a screen whose free area is available: next to
// the icon on the side away from the tray's edge (below a tray at the top, above one at the
// bottom, beside one at the side), moved into the free area where it would leave it. Asked again
// whenever the panel changes size, so that a panel that grows keeps its side next to the icon and
// stays on the icon's screen.
[[nodiscard]] QPoint panelPosition(QRect icon, QSize panel, QRect available);

// Makes the pictures under ":/vantrel/" (tray icons, the program's icon, the switches) available;
// once is enough, more is harmless. Main thread.
void useIcons();

// How far apart two colours are for the eye: the ratio of their relative luminances (each plus
// 0.05), from 1 (the same) to 21 (black and white), as accessibility guidelines measure it. Small
// graphics such as a tray icon need at least 3.
[[nodiscard]] double contrastRatio(QColor a, QColor b);

// The tray icon's picture: dark strokes for a light panel, light strokes for a dark one, or light
// strokes with a dark outline, which read on any panel.
enum class TrayGlyph { dark, light, outlined };

// The pixels of picture in the four corners of icon (a rectangle in the picture), as far as the
// picture holds them: no glyph draws there, so they show the tray behind the icon. Each corner is
// an eighth of the icon's size, at least two pixels.
[[nodiscard]] std::vector<QColor> cornersOf(const QImage& picture, QRect icon);

// The glyph for a panel that shows these pixels around the icon: the plain glyph that suits the
// typical pixel when it stands out from nearly all of them, else (no pixels, or a picture or a
// gradient behind the tray) the outlined one.
[[nodiscard]] TrayGlyph trayGlyphOn(const std::vector<QColor>& background);

// The tray icon's file for the connected or idle state in that glyph.
[[nodiscard]] QString trayIconPath(bool connected, TrayGlyph glyph);

}  // namespace vantrel
