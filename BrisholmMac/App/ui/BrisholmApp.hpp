#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

#include "App/Autostart.hpp"

#include "PanelRules.hpp"

class QSystemTrayIcon;
class QMenu;

namespace vantrel {

class AppModel;
class MenuView;

// The desktop host's interface: a tray icon whose click opens the panel below it. Without a tray
// host (isSystemTrayAvailable() false, as on a stock GNOME desktop) the panel is an ordinary window
// titled "Vantrel" instead, so the host is never out of reach; closing that window minimises it,
// and "Beenden" in the panel is the way to quit. A tray host that appears later (the session's
// panel starting after the host) gets the icon too. The icon's glyph follows what the tray shows
// around it, looked at every two seconds; the popup is placed again whenever it changes size, so
// a panel that grows stays next to the icon and on its screen. Main thread only; the model
// outlives it.
class BrisholmApp : public QObject {
    Q_OBJECT

public:
    // autostart: where the panel's "Bei der Anmeldung starten" switch keeps this user's choice.
    explicit BrisholmApp(AppModel& model, std::optional<Autostart> autostart = Autostart::forThisUser(),
                         QObject* parent = nullptr);
    ~BrisholmApp() override;

    BrisholmApp(const BrisholmApp&) = delete;
    BrisholmApp& operator=(const BrisholmApp&) = delete;

    // Shows the tray icon, or the window when there is no tray host. The application keeps
    // running when its last window closes.
    void show();

    // Opens the panel below the tray icon, or closes it when open (the icon's click).
    void togglePanel();

    [[nodiscard]] MenuView& view() { return *view_; }
    // Null until a tray host is there.
    [[nodiscard]] QSystemTrayIcon* trayIcon() { return tray_.get(); }

    // "Beenden": the controller lets the phone go, releases its input and withdraws the
    // advertisement, then the event loop ends; after three seconds it ends regardless.
    void quit();

private:
    void showTrayIcon();
    void updateTrayIcon();
    void lookAtTray();
    void placePanel();
    bool eventFilter(QObject* watched, QEvent* event) override;

    AppModel& model_;
    std::unique_ptr<MenuView> view_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QString trayIconPath_;
    // Until the tray has been seen, the glyph that reads on any panel.
    TrayGlyph trayGlyph_ = TrayGlyph::outlined;
    QTimer trayWatch_;
    QTimer trayLook_;
    // Where the icon was when the popup opened: the popup stays next to it.
    QRect panelAnchor_;
    // When the popup panel last closed: the click on the icon that closed it must not reopen it.
    QElapsedTimer sinceHidden_;
    bool quitting_ = false;
};

// The desktop host's interface on the running QApplication: shows it and runs the event loop
// until "Beenden". Returns the loop's exit status.
int runTrayInterface(AppModel& model);

}  // namespace vantrel
