#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/DesktopHost.hpp"

class QSettings;

namespace vantrel {

// The tray panel's view of the desktop host: the host's state as Qt properties with one signal
// each, and its operations, for the widgets. It only adapts: every decision is the host's
// (DesktopHost), which runs on the Qt main loop through the main queue it is given.
//
// Lives on the main thread (the Qt event loop).
class AppModel : public QObject {
    Q_OBJECT

public:
    static constexpr std::uint16_t preferredPort = DesktopHost::preferredPort;
    static constexpr const char* keepAwakeReason = DesktopHost::keepAwakeReason;

    // The host with this computer's surroundings: the Qt main loop, the server with TLS and
    // Avahi, the backend for this desktop session, the keyring, and the follow setting kept in
    // settings (owned by the caller, outlives the model).
    [[nodiscard]] static DesktopHost::Services productionServices(QSettings* settings);

    explicit AppModel(DesktopHost::Services services, QObject* parent = nullptr);
    ~AppModel() override;

    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Observable state, read on the main thread.
    [[nodiscard]] bool sharingEnabled() const { return host_->sharingEnabled(); }
    [[nodiscard]] std::optional<std::uint16_t> port() const { return host_->port(); }
    [[nodiscard]] const std::optional<std::string>& clientName() const { return host_->clientName(); }
    [[nodiscard]] bool hasScreenRecording() const { return host_->hasScreenRecording(); }
    [[nodiscard]] bool hasAccessibility() const { return host_->hasAccessibility(); }
    [[nodiscard]] const std::vector<DisplayInfo>& displays() const { return host_->displays(); }
    [[nodiscard]] std::uint32_t activeDisplay() const { return host_->activeDisplay(); }
    [[nodiscard]] const std::vector<std::string>& addresses() const { return host_->addresses(); }
    [[nodiscard]] const std::optional<std::string>& captureError() const { return host_->captureError(); }
    [[nodiscard]] std::int64_t pairingRevision() const { return host_->pairingRevision(); }
    [[nodiscard]] bool showCode() const { return host_->showCode(); }
    [[nodiscard]] bool followWindows() const { return host_->followWindows(); }
    [[nodiscard]] bool canFollowWindows() const { return host_->canFollowWindows(); }
    [[nodiscard]] const std::string& noFollowingReason() const { return host_->noFollowingReason(); }
    [[nodiscard]] const PairingKey& pairingKey() const { return host_->pairingKey(); }
    [[nodiscard]] const std::optional<std::string>& keyError() const { return host_->keyError(); }
    [[nodiscard]] std::optional<std::string> pairingURL() const { return host_->pairingURL(); }

    // Operations; see DesktopHost.
    void setSharingEnabled(bool enabled) { host_->setSharingEnabled(enabled); }
    void setShowCode(bool show) { host_->setShowCode(show); }
    void setFollowWindows(bool follow) { host_->setFollowWindows(follow); }
    void select(std::uint32_t display, std::optional<Point> pointer = std::nullopt) { host_->select(display, pointer); }
    void rotateKey() { host_->rotateKey(); }
    void disconnectClient() { host_->disconnectClient(); }
    void refresh() { host_->refresh(); }
    void shutDown(std::function<void()> stopped) { host_->shutDown(std::move(stopped)); }

Q_SIGNALS:
    // One signal per property, and changed() after any of them.
    void sharingEnabledChanged();
    void portChanged();
    void clientNameChanged();
    void permissionsChanged();
    void displaysChanged();
    void activeDisplayChanged();
    void addressesChanged();
    void captureErrorChanged();
    void pairingChanged();  // pairingRevision, the key, keyError or anything else in pairingURL()
    void showCodeChanged();
    void followWindowsChanged();
    void changed();

private:
    void emitChanges(DesktopChanges changes);

    std::shared_ptr<DesktopHost> host_;
};

}  // namespace vantrel
