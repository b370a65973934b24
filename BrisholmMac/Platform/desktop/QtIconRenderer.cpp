// The one file of the platform layer that uses the GUI toolkit: its icon theme loader knows the
// freedesktop icon themes and, with the Qt SVG module, scalable icons.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "Platform/desktop/IconRenderer.hpp"

namespace vantrel::desktop {

namespace {

// Qt's own search path holds only its resources unless a platform theme adds more (the offscreen
// and minimal platforms add nothing), so the XDG icon directories are added here, in XDG order.
void setUpIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    const auto add = [&paths](const QString& path) {
        if (!paths.contains(path)) {
            paths << path;
        }
    };
    add(QDir::homePath() + QStringLiteral("/.icons"));
    for (const auto& dataDirectory : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        add(dataDirectory + QStringLiteral("/icons"));
    }
    add(QStringLiteral("/usr/share/icons"));
    QIcon::setThemeSearchPaths(paths);

    QStringList fallbackPaths = QIcon::fallbackSearchPaths();
    for (const auto& dataDirectory : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        fallbackPaths << dataDirectory + QStringLiteral("/pixmaps");
    }
    QIcon::setFallbackSearchPaths(fallbackPaths);

    // A desktop's platform theme names its icon theme; without one Qt has none (or only
    // hicolor, which holds application icons but no generic ones). Adwaita inherits hicolor.
    const QString current = QIcon::themeName();
    if (current.isEmpty() || current == QStringLiteral("hicolor")) {
        for (const auto& path : paths) {
            if (QFile::exists(path + QStringLiteral("/Adwaita/index.theme"))) {
                QIcon::setThemeName(QStringLiteral("Adwaita"));
                return;
            }
        }
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
}

QIcon findIcon(const IconSource& source) {
    if (!source.file.empty()) {
        QIcon icon(QString::fromStdString(source.file));
        if (!icon.isNull() && !icon.availableSizes().isEmpty()) {
            return icon;
        }
        // An SVG file has no fixed sizes; the icon engine still draws it.
        if (!icon.isNull() && !icon.pixmap(QSize(1, 1)).isNull()) {
            return icon;
        }
    }
    for (const auto& name : source.themedNames) {
        QIcon icon = QIcon::fromTheme(QString::fromStdString(name));
        if (!icon.isNull()) {
            return icon;
        }
    }
    return {};
}

class QtIconRenderer final : public IconRenderer {
public:
    QtIconRenderer() { setUpIconTheme(); }

    std::optional<Bytes> renderPNG(const IconSource& source, int side) override {
        if (qGuiApp == nullptr || side <= 0) {
            return std::nullopt;
        }
        const QIcon icon = findIcon(source);
        if (icon.isNull()) {
            return std::nullopt;
        }
        // Themes often ship only 48 pixels or less; the icon gives at most what it has, and the
        // painter below scales it up.
        const QImage image = icon.pixmap(QSize(side, side), 1.0).toImage();
        if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
            return std::nullopt;
        }

        QImage canvas(side, side, QImage::Format_RGBA8888);
        if (canvas.isNull()) {
            return std::nullopt;
        }
        canvas.fill(Qt::transparent);
        {
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            const QSize fitted = image.size().scaled(side, side, Qt::KeepAspectRatio);
            const QRect target((side - fitted.width()) / 2, (side - fitted.height()) / 2, fitted.width(),
                               fitted.height());
            painter.drawImage(target, image);
        }

        QByteArray encoded;
        QBuffer buffer(&encoded);
        if (!buffer.open(QIODevice::WriteOnly) || !canvas.save(&buffer, "PNG")) {
            return std::nullopt;
        }
        return Bytes(reinterpret_cast<const std::uint8_t*>(encoded.constData()),
                     reinterpret_cast<const std::uint8_t*>(encoded.constData()) + encoded.size());
    }
};

}  // namespace

std::shared_ptr<IconRenderer> IconRenderer::createQt() {
    return std::make_shared<QtIconRenderer>();
}

}  // namespace vantrel::desktop
