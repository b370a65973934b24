#include "PanelRules.hpp"

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cmath>

// The pictures are compiled into this static library, where nothing refers to them by symbol.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace vantrel {

namespace {

// Between the icon and the panel, so the panel does not sit on the tray's edge.
constexpr int panelGap = 4;

// The strokes of the tray icons' pictures (icons/tray-*.svg).
const QColor lightInk(0xf6, 0xf5, 0xf4);
const QColor darkInk(0x24, 0x1f, 0x31);

// What small graphics need against their background to be made out at a glance.
constexpr double minimumIconContrast = 3.0;

// The colour's luminance as the eye weighs it, from 0 (black) to 1 (white), on linear sRGB.
double relativeLuminance(QColor colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double luminanceRatio(double a, double b) {
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

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

TrayEdge trayEdge(QRect icon, QRect available) {
    const QPoint centre = icon.center();
    // Negative for an icon beyond that edge of the free area.
    std::array<std::pair<int, TrayEdge>, 4> distances{{
        {centre.y() - available.top(), TrayEdge::top},
        {available.bottom() - centre.y(), TrayEdge::bottom},
        {centre.x() - available.left(), TrayEdge::left},
        {available.right() - centre.x(), TrayEdge::right},
    }};
    const auto nearest = [&] {
        return std::min_element(distances.begin(), distances.end(),
                                [](const auto& a, const auto& b) { return a.first < b.first; })
            ->second;
    };
    if (std::any_of(distances.begin(), distances.end(), [](const auto& distance) { return distance.first < 0; })) {
        return nearest();  // the strip the tray keeps free; the farther beyond, at a corner
    }
    // Near a corner a tray along the top or bottom is the likelier one: those two count as nearer
    // by twice the icon's height.
    for (auto& [distance, edge] : distances) {
        if (edge == TrayEdge::top || edge == TrayEdge::bottom) {
            distance -= 2 * icon.height();
        }
    }
    return nearest();
}

QPoint panelPosition(QRect icon, QSize panel, QRect available) {
    int x = 0;
    int y = 0;
    switch (trayEdge(icon, available)) {
        case TrayEdge::top:
            x = icon.center().x() - panel.width() / 2;
            y = icon.bottom() + 1 + panelGap;
            break;
        case TrayEdge::bottom:
            x = icon.center().x() - panel.width() / 2;
            y = icon.top() - panelGap - panel.height();
            break;
        case TrayEdge::left:
            x = icon.right() + 1 + panelGap;
            y = icon.top();
            break;
        case TrayEdge::right:
            x = icon.left() - panelGap - panel.width();
            y = icon.top();
            break;
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

double contrastRatio(QColor a, QColor b) {
    return luminanceRatio(relativeLuminance(a), relativeLuminance(b));
}

std::vector<QColor> cornersOf(const QImage& picture, QRect icon) {
    const int side = std::max(2, std::min(icon.width(), icon.height()) / 8);
    std::vector<QColor> pixels;
    for (const QPoint corner :
         {icon.topLeft(), QPoint(icon.right() + 1 - side, icon.top()), QPoint(icon.left(), icon.bottom() + 1 - side),
          QPoint(icon.right() + 1 - side, icon.bottom() + 1 - side)}) {
        const QRect square = QRect(corner, QSize(side, side)) & icon & picture.rect();
        for (int y = square.top(); y <= square.bottom(); ++y) {
            for (int x = square.left(); x <= square.right(); ++x) {
                pixels.push_back(picture.pixelColor(x, y));
            }
        }
    }
    return pixels;
}

TrayGlyph trayGlyphOn(const std::vector<QColor>& background) {
    if (background.empty()) {
        return TrayGlyph::outlined;
    }
    std::vector<double> luminances;
    luminances.reserve(background.size());
    for (const QColor& pixel : background) {
        luminances.push_back(relativeLuminance(pixel));
    }
    const auto middle = luminances.begin() + static_cast<std::ptrdiff_t>(luminances.size() / 2);
    std::nth_element(luminances.begin(), middle, luminances.end());
    const double median = *middle;
    const double light = relativeLuminance(lightInk);
    const double dark = relativeLuminance(darkInk);
    const bool onDark = luminanceRatio(median, light) >= luminanceRatio(median, dark);
    const double ink = onDark ? light : dark;
    // A neighbouring icon or the panel's border may show in a few of the pixels, but where the
    // glyph is lost against more than a tenth of them, the tray shows a picture or a gradient.
    const auto readable = std::count_if(luminances.begin(), luminances.end(), [&](double luminance) {
        return luminanceRatio(luminance, ink) >= minimumIconContrast;
    });
    if (readable * 10 < static_cast<std::ptrdiff_t>(luminances.size()) * 9) {
        return TrayGlyph::outlined;
    }
    return onDark ? TrayGlyph::light : TrayGlyph::dark;
}

QString trayIconPath(bool connected, TrayGlyph glyph) {
    useIcons();
    const QString state = connected ? QStringLiteral("connected") : QStringLiteral("idle");
    switch (glyph) {
        case TrayGlyph::dark: return QStringLiteral(":/vantrel/tray-%1-on-light.svg").arg(state);
        case TrayGlyph::light: return QStringLiteral(":/vantrel/tray-%1-on-dark.svg").arg(state);
        case TrayGlyph::outlined: break;
    }
    return QStringLiteral(":/vantrel/tray-%1-outlined.svg").arg(state);
}

}  // namespace vantrel
