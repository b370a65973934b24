#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/Autostart.hpp"
#include "PanelRules.hpp"
#include "vantrel/ControlMessages.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace vantrel {

class AppModel;
class StatusDot;

// The tray panel: the controller's state, 300 points wide, as high as its content, and its
// controls. It keeps no state of its own beyond what it last drew: every change of the model
// re-renders it, so hiding and showing it again shows the model as it is now. Main thread only;
// the model outlives it.
class MenuView : public QWidget {
    Q_OBJECT

public:
    static constexpr int width = 300;

    // autostart: the user's "Bei der Anmeldung starten" switch; none hides it.
    MenuView(AppModel& model, std::optional<Autostart> autostart, QWidget* parent = nullptr);

    // Makes every element match the model; runs on each of its changes.
    void render();

Q_SIGNALS:
    // "Beenden": the owner ends the program.
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void renderDisplays();
    void renderAutostart();
    void switchAutostart(bool on);
    void renderPairing();
    void copyPairingLink();

    AppModel& model_;

    QCheckBox* sharing_;
    StatusDot* statusDot_;
    QLabel* statusText_;
    struct PermissionRow {
        QLabel* icon;
        QPushButton* allow;
    };
    PermissionRow screenRecording_;
    PermissionRow accessibility_;
    QWidget* displayGroup_;
    QComboBox* displayPicker_;
    QCheckBox* followWindows_;
    QLabel* noFollowing_;  // instead of followWindows_ where the host cannot follow windows
    QLabel* captureError_;
    QToolButton* pairingToggle_;
    QWidget* pairingSection_;
    QLabel* code_;
    QLabel* codeNote_;
    QLabel* addresses_;
    QLabel* noCode_;
    QLabel* sessionOnlyKey_;
    QLabel* keyError_;
    QPushButton* copyLink_;
    QPushButton* disconnect_;
    QCheckBox* startAtLogin_;

    std::optional<Autostart> autostart_;

    // What the drawn code and picker show, so they are rebuilt only when it changes.
    std::optional<std::pair<std::int64_t, std::string>> drawnCode_;
    std::vector<DisplayInfo> listedDisplays_;
};

}  // namespace vantrel
