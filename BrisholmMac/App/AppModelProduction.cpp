// The desktop controller's surroundings on this computer: kept apart from AppModel.cpp so that
// tests, which bring surroundings of their own, link none of the platform implementations.
#include <unistd.h>

#include <QSettings>

#include <array>
#include <chrono>
#include <fstream>
#include <string>

#include "App/AppModel.hpp"
#include "App/HostSettings.hpp"
#include "App/NetworkInfo.hpp"
#include "App/QtMainQueue.hpp"
#include "Backends/SessionBackend.hpp"
#include "Capture/VideoEncoder.hpp"
#include "Platform/CredentialStore.hpp"
#include "SyncServer.hpp"

namespace vantrel {

namespace {

// The pretty host name when the machine has one (systemd's PRETTY_HOSTNAME), else the host name.
std::string localHostName() {
    std::ifstream machineInfo("/etc/machine-info");
    std::string line;
    while (std::getline(machineInfo, line)) {
        constexpr std::string_view key = "PRETTY_HOSTNAME=";
        if (line.rfind(key, 0) == 0) {
            auto value = line.substr(key.size());
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            if (!value.empty()) {
                return value;
            }
        }
    }
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) == 0) {
        return name.data();
    }
    return "Linux";
}

}  // namespace

DesktopHost::Services AppModel::productionServices(QSettings* settings) {
    DesktopHost::Services services;
    services.main = qtMainQueue();
    services.server = SyncServer::create();
    services.encoder = std::make_shared<VideoEncoder>();
    services.backend = makeDesktopBackend();
    services.keys = std::make_shared<KeyStore>(CredentialStore::create());
    services.addresses = [] { return NetworkInfo::reachableAddresses(); };
    services.hostName = [] { return localHostName(); };
    services.uptimeSeconds = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    services.loadFollowWindows = [settings] { return hostsettings::followWindows(*settings); };
    services.saveFollowWindows = [settings](bool follow) { hostsettings::setFollowWindows(*settings, follow); };
    return services;
}

}  // namespace vantrel
