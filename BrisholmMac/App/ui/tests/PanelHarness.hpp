#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/AppModel.hpp"
#include "BrisholmApp.hpp"
#include "MenuView.hpp"
#include "Platform/CredentialStore.hpp"

namespace vantrel::testing {

struct FakeDesktopSession;

// Runs the Qt event loop until condition holds or timeout passes; returns its last value.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The desktop host's interface over the real controller and server (TLS on loopback), with
// everything below them faked: the monitors, capture, the key's credential store (unless the test
// brings one), the window list, the applications, the session's keep-awake. The one address is
// loopback.
// Needs a QApplication on an X display.
class PanelWorld {
public:
    struct Config {
        int displays = 2;       // monitors "Links" (primary) and "Rechts", 1920 x 1080 each
        bool canListen = true;  // false: no listener can be made (the server never gets a port)
        bool canInject = true;
        std::optional<std::string> unsupportedSession;  // the capture error the model starts with
        std::optional<std::string> noFollowing;         // set: the session hides windows, this is why
        std::shared_ptr<CredentialStore> credentials;   // the key's store; one in memory when null
    };

    PanelWorld() : PanelWorld(Config{}) {}
    explicit PanelWorld(Config config);

    PanelWorld(const PanelWorld&) = delete;
    PanelWorld& operator=(const PanelWorld&) = delete;

    AppModel& model() { return *model_; }
    // Where the panel's "Bei der Anmeldung starten" switch keeps the choice (a throw-away
    // configuration directory), and where an entry for every user would be.
    [[nodiscard]] std::filesystem::path autostartEntry() const;
    [[nodiscard]] std::filesystem::path systemAutostartEntry() const;
    BrisholmApp& app() { return *app_; }
    MenuView& view() { return app_->view(); }

    // A child of the panel by object name, or by its text for buttons and labels.
    template <typename Widget>
    Widget* find(const QString& nameOrText) {
        for (auto* widget : view().findChildren<Widget*>()) {
            if (widget->objectName() == nameOrText || textOf(widget) == nameOrText) {
                return widget;
            }
        }
        return nullptr;
    }
    // Whether the panel shows the widget find() finds.
    bool shows(const QString& nameOrText) {
        auto* widget = find<QWidget>(nameOrText);
        return widget != nullptr && widget->isVisibleTo(&view());
    }
    void click(const QString& nameOrText);
    [[nodiscard]] QString status() { return find<QLabel>("status")->text(); }

    // The panel as drawn now, and the colour at the centre of its status dot in that picture.
    [[nodiscard]] QImage screenshot();
    [[nodiscard]] QColor statusDotColour(const QImage& screenshot);
    // Keeps a screenshot under VANTREL_SCREENSHOT_DIR, when set, as NAME.png.
    static void keep(const QImage& screenshot, const QString& name);

private:
    static QString textOf(QWidget* widget);

    QTemporaryDir directory_;
    std::unique_ptr<QSettings> settings_;
    std::shared_ptr<FakeDesktopSession> desktop_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<BrisholmApp> app_;
};

}  // namespace vantrel::testing
