#include "PanelHarness.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "App/HostSettings.hpp"
#include "App/KeyStore.hpp"
#include "App/QtMainQueue.hpp"
#include "Capture/VideoEncoder.hpp"
#include "FakeDesktopSession.hpp"
#include "FakeServiceAdvertiser.hpp"
#include "Platform/FakeCredentialStore.hpp"
#include "SyncServer.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TlsTransport.hpp"

namespace vantrel::testing {

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() >= timeout.count()) {
            return condition();
        }
        // Returns as soon as an event was handled, or after 10 ms without one: work posted from
        // the server's and the capture's threads arrives as events.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

PanelWorld::PanelWorld(Config config) {
    settings_ = std::make_unique<QSettings>(directory_.filePath("settings.ini"), QSettings::IniFormat);

    std::vector<MonitorFacts> monitors;
    for (int index = 0; index < config.displays; ++index) {
        monitors.push_back(fakeMonitor(index + 1, index == 0, Rect{1920.0 * index, 0, 1920, 1080}));
        monitors.back().monitorName = index == 0 ? "Links" : "Rechts";
    }
    desktop_ = std::make_shared<FakeDesktopSession>();
    desktop_->setMonitors(monitors);
    // The panel shows control as granted only where an injector could be made.
    desktop_->checks->synthetic = config.canInject;
    desktop_->deviceOpens = config.canInject;
    desktop_->checks->pointer = [] { return std::optional<Point>(); };
    desktop_->unsupported = config.unsupportedSession;
    desktop_->followsWindows = !config.noFollowing.has_value();
    desktop_->noFollowingReason = config.noFollowing.value_or("");

    // The server as in production, but on loopback, with TLS and nothing advertised.
    SyncServer::Options options;
    options.monotonicNow = [] { return std::chrono::steady_clock::now().time_since_epoch(); };
    options.listenAddress = asio::ip::address_v4::loopback();
    options.isAllowedPeer = [](const asio::ip::tcp::endpoint&) { return true; };
    options.advertiser = std::make_shared<FakeServiceAdvertiser>();
    options.security = [canListen = config.canListen](const Bytes& key) -> std::optional<SyncServer::TransportFactory> {
        if (!canListen) {
            return std::nullopt;
        }
        auto parameters = std::make_shared<const SyncSecurity::Parameters>(SyncSecurity::parameters(key));
        return [parameters](asio::ip::tcp::socket socket) {
            return TlsTransport::accepted(std::move(socket), *parameters);
        };
    };

    DesktopHost::Services services;
    services.main = qtMainQueue();
    services.server = SyncServer::create(std::move(options));
    services.encoder = std::make_shared<VideoEncoder>();
    services.backend = desktop_->backend();
    services.keys =
        std::make_shared<KeyStore>(config.credentials ? config.credentials : std::make_shared<FakeCredentialStore>());
    services.addresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    services.hostName = [] { return std::string("Werkbank"); };
    services.uptimeSeconds = [] { return 0.0; };
    services.loadFollowWindows = [settings = settings_.get()] { return hostsettings::followWindows(*settings); };
    services.saveFollowWindows = [settings = settings_.get()](bool follow) {
        hostsettings::setFollowWindows(*settings, follow);
    };

    model_ = std::make_unique<AppModel>(std::move(services));
    app_ = std::make_unique<BrisholmApp>(*model_,
                                         Autostart({autostartEntry(), {systemAutostartEntry()}, "/usr/bin/brisholm"}));
}

std::filesystem::path PanelWorld::autostartEntry() const {
    return std::filesystem::path(directory_.path().toStdString()) / "config/autostart/brisholm.desktop";
}

std::filesystem::path PanelWorld::systemAutostartEntry() const {
    return std::filesystem::path(directory_.path().toStdString()) / "etc/xdg/autostart/brisholm.desktop";
}

void PanelWorld::click(const QString& nameOrText) {
    auto* button = find<QAbstractButton>(nameOrText);
    ASSERT_NE(button, nullptr) << nameOrText.toStdString();
    ASSERT_TRUE(button->isVisibleTo(&view())) << nameOrText.toStdString();
    button->click();
}

QImage PanelWorld::screenshot() {
    // A window's new size takes effect when the window manager confirms it; until then the panel
    // is drawn squeezed into the old one.
    EXPECT_TRUE(waitFor([&] { return view().height() == view().maximumHeight(); })) << "the panel never got its height";
    return view().grab().toImage();
}

QColor PanelWorld::statusDotColour(const QImage& screenshot) {
    auto* dot = view().findChild<QWidget*>("statusDot");
    return screenshot.pixelColor(dot->mapTo(&view(), dot->rect().center()) * screenshot.devicePixelRatio());
}

void PanelWorld::keep(const QImage& screenshot, const QString& name) {
    const QString directory = qEnvironmentVariable("VANTREL_SCREENSHOT_DIR");
    if (!directory.isEmpty()) {
        QDir().mkpath(directory);
        // A palette of 256 colours is plenty for a panel and keeps the pictures in the docs small.
        screenshot.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither)
            .save(QDir(directory).filePath(name + ".png"), "PNG", 9);
    }
}

QString PanelWorld::textOf(QWidget* widget) {
    auto* button = qobject_cast<QAbstractButton*>(widget);
    auto* label = qobject_cast<QLabel*>(widget);
    return button != nullptr ? button->text() : label != nullptr ? label->text() : QString();
}

}  // namespace vantrel::testing
