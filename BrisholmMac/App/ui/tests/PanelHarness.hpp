#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/AppModel.hpp"
#include "BrisholmApp.hpp"
#include "MenuView.hpp"

namespace vantrel::testing {

struct FakeScreen;

// Runs the Qt event loop until condition holds or timeout passes; returns its last value.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The desktop host's interface over the real controller and server (TLS on loopback), with
// everything below them faked: the monitors, capture, the key's credential store, the window list,
// the applications, the session's keep-awake. The permissions and addresses are the test's to set.
// Needs a QApplication on an X display.
class PanelWorld {
public:
    struct Config {
        int displays = 2;       // monitors "Links" (primary) and "Rechts", 1920 x 1080 each
        bool canListen = true;  // false: no listener can be made (the server never gets a port)
        bool screenReadable = true;
        bool canInject = true;
        std::vector<std::string> addresses{"127.0.0.1"};
        std::optional<std::string> unsupportedSession;  // the capture error the model starts with
    };

    PanelWorld() : PanelWorld(Config{}) {}
    explicit PanelWorld(Config config);
    ~PanelWorld();

    PanelWorld(const PanelWorld&) = delete;
    PanelWorld& operator=(const PanelWorld&) = delete;

    AppModel& model() { return *model_; }
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
    // Whether the panel shows a visible widget with this name or text.
    bool shows(const QString& nameOrText) {
        for (auto* widget : view().findChildren<QWidget*>()) {
            if ((widget->objectName() == nameOrText || textOf(widget) == nameOrText) && widget->isVisibleTo(&view())) {
                return true;
            }
        }
        return false;
    }
    void click(const QString& nameOrText);
    [[nodiscard]] QString status() { return find<QLabel>("status")->text(); }

    // The panel as drawn now, and the colour at the centre of its status dot in that picture.
    [[nodiscard]] QImage screenshot();
    [[nodiscard]] QColor statusDotColour(const QImage& screenshot);
    // Keeps a screenshot under VANTREL_SCREENSHOT_DIR, when set, as NAME.png.
    static void keep(const QImage& screenshot, const QString& name);

    bool screenReadable;
    bool canInject;
    std::vector<std::string> addresses;

private:
    static QString textOf(QWidget* widget);

    QTemporaryDir directory_;
    std::unique_ptr<QSettings> settings_;
    std::shared_ptr<FakeScreen> screen_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<BrisholmApp> app_;
};

}  // namespace vantrel::testing
