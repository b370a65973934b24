#include "PanelRules.hpp"

#include <QtGlobal>

#include <algorithm>

// The pictures are compiled into this static library, where nothing refers to them by symbol.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace vantrel {

namespace {

// Between the icon and the panel, so the panel does not sit on the tray's edge.
constexpr int panelGap = 4;

}  // namespace

StatusLine statusLine(const std::optional<std::string>& clientName, std::optional<std::uint16_t> port,
                      bool sharingEnabled) {
    if (clientName) {
        return {StatusLine::Dot::green, QStringLiteral("Verbunden mit ") + QString::fromStdString(*clientName)};
    }
    if (!port) {
        return {StatusLine::Dot::grey, sharingEnabled ? QStringLiteral("Startet…") : QStringLiteral("Freigabe aus")};
    }
    return {StatusLine::Dot::yellow, QStringLiteral("Bereit auf Port %1").arg(*port)};
}

QColor colourOf(StatusLine::Dot dot) {
    switch (dot) {
        case StatusLine::Dot::green: return {0x2e, 0xc2, 0x7e};
        case StatusLine::Dot::yellow: return {0xf5, 0xc2, 0x11};
        case StatusLine::Dot::grey: break;
    }
    return {0x9a, 0x99, 0x96};
}

QPoint panelPosition(QRect icon, QSize panel, QRect available) {
    int x = icon.center().x() - panel.width() / 2;
    int y = icon.bottom() + 1 + panelGap;
    if (y + panel.height() > available.bottom() + 1) {
        y = icon.top() - panelGap - panel.height();
    }
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - panel.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - panel.height()));
    return {x, y};
}

void useIcons() {
    static const bool registered = [] {
        initIconResources();
        return true;
    }();
    (void)registered;
}

QString trayIconPath(bool connected, QColor panelBackground) {
    useIcons();
    const bool darkPanel = panelBackground.lightness() < 128;
    return QStringLiteral(":/vantrel/tray-%1-on-%2.svg")
        .arg(connected ? QStringLiteral("connected") : QStringLiteral("idle"),
             darkPanel ? QStringLiteral("dark") : QStringLiteral("light"));
}

}  // namespace vantrel
