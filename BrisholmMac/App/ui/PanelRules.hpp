#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

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

// Where the panel opens for a tray icon at icon on a screen whose free area is available: centred
// below the icon, or above it when the panel would leave the screen at the bottom (a panel at the
// bottom edge), and always moved into the free area.
[[nodiscard]] QPoint panelPosition(QRect icon, QSize panel, QRect available);

// Makes the pictures under ":/vantrel/" (tray icons, the program's icon, the switches) available;
// once is enough, more is harmless. Main thread.
void useIcons();

// The tray icon's file for the connected or idle state, drawn light on a dark panel and dark on a
// light one.
[[nodiscard]] QString trayIconPath(bool connected, QColor panelBackground);

}  // namespace vantrel
