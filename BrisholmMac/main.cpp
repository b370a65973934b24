// The program's entry point: "--headless" anywhere among the arguments (the program path
// included) runs the headless host; otherwise the desktop host with its menu-bar panel runs.
#include <sys/signalfd.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "App/AppCatalog.hpp"
#include "App/QtMainQueue.hpp"
#include "Headless/HeadlessHost.hpp"
#include "Headless/HeadlessLog.hpp"
#include "Headless/HeadlessOptions.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/Workspace.hpp"

namespace {

using namespace vantrel;

// Ctrl-C and SIGTERM arrive as readable data on a descriptor the Qt loop watches, so the host is
// stopped on the main thread like any other event, with the server and advertisement shut down
// before the process ends. The signals are blocked before the first thread starts, so every
// thread inherits the mask and none of them is interrupted by one.
struct StopSignals {
    int fd = -1;

    StopSignals() {
        sigset_t stopSet;
        sigemptyset(&stopSet);
        sigaddset(&stopSet, SIGINT);
        sigaddset(&stopSet, SIGTERM);
        if (pthread_sigmask(SIG_BLOCK, &stopSet, nullptr) == 0) {
            fd = signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
        }
    }
    ~StopSignals() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
};

int runHeadless(int argc, char** argv, const std::vector<std::string_view>& arguments) {
    const StopSignals stopSignals;

    // The headless host never opens a window: it runs the same with or without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);

    HeadlessHost::Environment environment;
    environment.main = qtMainQueue();
    environment.log = standardOutputLog();
    environment.currentApps = [] {
        AppCatalog catalog(Workspace::create());
        return catalog.current();
    };
    // Called on the main queue; the main loop ends and main() returns the status after shutting
    // the host down.
    environment.exitProcess = [](int status) { QCoreApplication::exit(status); };
    auto host = HeadlessHost::start(parseHeadlessOptions(arguments), std::move(environment));

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (stopSignals.fd >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(stopSignals.fd, QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [fd = stopSignals.fd, &host] {
            signalfd_siginfo info{};
            while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            // A stop the user asked for is a clean end: status 0. The loop runs on until the host
            // has stopped, so the phone's departure is still logged.
            host->stop([main = qtMainQueue()] { main->post([] { QCoreApplication::exit(0); }); });
        });
    }

    const int status = QGuiApplication::exec();
    signalNotifier.reset();
    host.reset();  // the pump stops, the client is dropped, the advertisement withdrawn
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of standard or diagnostic output that went away (`brisholm --headless | head`)
    // must end that output, not the host: writes then fail with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string_view> arguments(argv, argv + argc);
    if (std::find(arguments.begin(), arguments.end(), "--verbose") != arguments.end()) {
        setVerboseDiagnostics();
    }
    if (wantsHeadlessHost(arguments)) {
        return runHeadless(argc, argv, arguments);
    }
    std::fputs(
        "brisholm: the desktop host with its menu-bar panel is not built yet; "
        "start the headless host with --headless\n",
        stderr);
    return 2;
}
