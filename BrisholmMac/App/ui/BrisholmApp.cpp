#include "BrisholmApp.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

#include <algorithm>

#include "App/AppModel.hpp"
#include "Log/DiagnosticLog.hpp"
#include "MenuView.hpp"

namespace vantrel {

namespace {

QRect availableAt(QPoint point) {
    const QScreen* screen = QGuiApplication::screenAt(point);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? screen->availableGeometry() : QRect(point, QSize(1, 1));
}

}  // namespace

BrisholmApp::BrisholmApp(AppModel& model, std::optional<Autostart> autostart, QObject* parent)
    : QObject(parent), model_(model), view_(std::make_unique<MenuView>(model, std::move(autostart))) {
    view_->setWindowTitle(QStringLiteral("Vantrel"));
    view_->setWindowIcon(QIcon(QStringLiteral(":/vantrel/brisholm.svg")));
    view_->installEventFilter(this);
    connect(view_.get(), &MenuView::quitRequested, this, &BrisholmApp::quit);
    connect(&model_, &AppModel::changed, this, &BrisholmApp::updateTrayIcon);
    // A tray host may place the icon a while after it appears, and its look may change with the
    // desktop's theme: the tray is looked at again and again, a small grab each time.
    trayLook_.setInterval(2000);
    connect(&trayLook_, &QTimer::timeout, this, &BrisholmApp::lookAtTray);
    trayWatch_.setInterval(2000);
    connect(&trayWatch_, &QTimer::timeout, this, [this] {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            diagnosticLog().info("a tray host appeared; showing the tray icon");
            trayWatch_.stop();
            showTrayIcon();
        }
    });
}

BrisholmApp::~BrisholmApp() = default;

void BrisholmApp::show() {
    QApplication::setQuitOnLastWindowClosed(false);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        showTrayIcon();
        return;
    }
    diagnosticLog().warn("no tray host on this desktop; the panel opens as a window");
    view_->setWindowFlags(Qt::Window);
    view_->show();
    view_->raise();
    trayWatch_.start();
}

void BrisholmApp::showTrayIcon() {
    if (tray_) {
        return;
    }
    tray_ = std::make_unique<QSystemTrayIcon>();
    // Some tray hosts open only the context menu on a click: it offers the panel and the way out.
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->addAction(QStringLiteral("Vantrel"), this, &BrisholmApp::togglePanel);
    trayMenu_->addAction(QStringLiteral("Beenden"), this, &BrisholmApp::quit);
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            togglePanel();
        }
    });
    updateTrayIcon();
    tray_->show();
    trayLook_.start();
    QTimer::singleShot(300, this, &BrisholmApp::lookAtTray);
    // A window opened while no tray host was there becomes the tray's popup from now on.
    if (!view_->isVisible()) {
        view_->setWindowFlags(Qt::Popup);
    }
}

void BrisholmApp::updateTrayIcon() {
    if (!tray_) {
        return;
    }
    // Only a change of picture is sent: some tray hosts redraw, or even re-add, the icon on each.
    const auto path = trayIconPath(model_.clientName().has_value(), trayGlyph_);
    if (path != trayIconPath_) {
        trayIconPath_ = path;
        tray_->setIcon(QIcon(path));
    }
    tray_->setToolTip(QStringLiteral("Vantrel – ") +
                      statusLine(model_.clientName(), model_.port(), model_.sharingEnabled()).text);
}

void BrisholmApp::lookAtTray() {
    if (!tray_ || quitting_) {
        return;
    }
    // The application's palette says nothing about the panel; the icon's corners, which the tray
    // fills with its own background, do. The pixels beside the icon would not: a tray that hugs
    // its icons shows the desktop there. No known place, or no picture of the screen (a session
    // that does not give one), leaves none.
    std::vector<QColor> background;
    const QRect icon = tray_->geometry();
    if (QScreen* screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr) {
        const QRect area = icon & screen->geometry();
        const QImage picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
        if (!picture.isNull()) {
            background = cornersOf(picture, icon.translated(-area.topLeft()));
        }
    }
    const TrayGlyph glyph = trayGlyphOn(background);
    if (glyph != trayGlyph_) {
        trayGlyph_ = glyph;
        updateTrayIcon();
    }
}

void BrisholmApp::placePanel() {
    view_->move(panelPosition(panelAnchor_, view_->size(), availableAt(panelAnchor_.center())));
}

void BrisholmApp::togglePanel() {
    const bool popup = (view_->windowFlags() & Qt::Popup) == Qt::Popup;
    if (view_->isVisible() && !view_->isMinimized()) {
        if (popup) {
            view_->hide();
        } else {
            view_->raise();
            view_->activateWindow();
        }
        return;
    }
    if (popup && sinceHidden_.isValid() && sinceHidden_.elapsed() < 300) {
        return;  // this click closed the popup a moment ago
    }
    view_->render();
    if (popup) {
        panelAnchor_ = tray_ ? tray_->geometry() : QRect();
        if (!panelAnchor_.isValid()) {
            panelAnchor_ = QRect(QCursor::pos(), QSize(1, 1));  // the host did not say where the icon is
        }
        placePanel();
    }
    view_->showNormal();
    view_->raise();
    view_->activateWindow();
}

bool BrisholmApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_.get()) {
        if (event->type() == QEvent::Hide) {
            sinceHidden_.start();
        } else if (event->type() == QEvent::Resize && view_->isVisible() &&
                   (view_->windowFlags() & Qt::Popup) == Qt::Popup) {
            // Its top would stay where it was: a panel opened above the icon would grow over the
            // tray and off the screen's bottom.
            placePanel();
        } else if (event->type() == QEvent::Close && !quitting_ && (view_->windowFlags() & Qt::Popup) != Qt::Popup) {
            // The window is the only way to the host without a tray: keep it within reach.
            event->ignore();
            view_->showMinimized();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void BrisholmApp::quit() {
    if (quitting_) {
        return;
    }
    quitting_ = true;
    diagnosticLog().info("quitting from the panel");
    view_->hide();
    trayLook_.stop();
    if (tray_) {
        tray_->hide();
    }
    QTimer::singleShot(3000, this, [] {
        diagnosticLog().warn("the controller did not stop within three seconds; quitting regardless");
        QCoreApplication::quit();
    });
    model_.shutDown([] { QCoreApplication::quit(); });
}

int runTrayInterface(AppModel& model) {
    BrisholmApp app(model);
    app.show();
    return QApplication::exec();
}

}  // namespace vantrel
