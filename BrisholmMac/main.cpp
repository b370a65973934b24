// The program's entry point: "--headless" anywhere among the arguments runs the headless host
// (test pattern, event log); otherwise the desktop host runs on this desktop
// session (X11, or a wlroots compositor on Wayland).
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSettings>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "App/AppCatalog.hpp"
#include "App/AppModel.hpp"
#include "App/Autostart.hpp"
#include "App/PairingOutput.hpp"
#include "App/QtMainQueue.hpp"
#include "Backends/SessionBackend.hpp"
#include "BrisholmApp.hpp"
#include "Capture/VideoEncoder.hpp"
#include "CommandLine.hpp"
#include "Headless/HeadlessHost.hpp"
#include "Headless/HeadlessLog.hpp"
#include "Headless/HeadlessOptions.hpp"
#include "Host/FrameStages.hpp"
#include "Log/DiagnosticLog.hpp"

namespace {

using namespace vantrel;

// Ctrl-C and SIGTERM arrive as readable data on a descriptor the Qt loop watches, so the host is
// stopped on the main thread like any other event, with the phone dropped and the advertisement
// withdrawn before the process ends. The signals are blocked before the first thread starts, so
// every thread inherits the mask and none of them is interrupted by one.
class StopSignals {
public:
    StopSignals() {
        sigset_t stopSet;
        sigemptyset(&stopSet);
        sigaddset(&stopSet, SIGINT);
        sigaddset(&stopSet, SIGTERM);
        if (pthread_sigmask(SIG_BLOCK, &stopSet, nullptr) == 0) {
            fd_ = signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
        }
    }
    ~StopSignals() {
        notifier_.reset();
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Runs stop on the main thread at the first signal (once the Qt application exists).
    void onStop(std::function<void()> stop) {
        if (fd_ < 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                         [fd = fd_, stop = std::move(stop), stopping = false]() mutable {
                             signalfd_siginfo info{};
                             while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                             }
                             if (!stopping) {
                                 stopping = true;
                                 stop();
                             }
                         });
    }

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Qt warns on standard error at every start when XDG_RUNTIME_DIR is unset (a root shell, a
// service, ssh without a login session) and then uses a directory of its own choosing; give it a
// private one quietly instead.
void ensureRuntimeDirectory() {
    if (std::getenv("XDG_RUNTIME_DIR") != nullptr) {
        return;
    }
    const std::string directory = "/tmp/runtime-" + std::to_string(getuid());
    ::mkdir(directory.c_str(), 0700);
    ::chmod(directory.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", directory.c_str(), 0);
}

int runHeadless(int argc, char** argv, const std::vector<std::string_view>& arguments) {
    StopSignals stopSignals;

    // The headless host never opens a window: it runs the same with or without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ensureRuntimeDirectory();
    QGuiApplication application(argc, argv);

    HeadlessHost::Environment environment;
    environment.main = qtMainQueue();
    environment.log = standardOutputLog();
    environment.currentApps = [] {
        AppCatalog catalog(makeSessionWorkspace());
        return catalog.current();
    };
    // Called on the main queue; the main loop ends and main() returns the status after shutting
    // the host down.
    environment.exitProcess = [](int status) { QCoreApplication::exit(status); };
    auto host = HeadlessHost::start(parseHeadlessOptions(arguments), std::move(environment));

    // A stop the user asked for is a clean end: status 0. The loop runs on until the host has
    // stopped, so the phone's departure is still logged.
    stopSignals.onStop(
        [&host] { host->stop([main = qtMainQueue()] { main->post([] { QCoreApplication::exit(0); }); }); });

    const int status = QGuiApplication::exec();
    host.reset();  // waits for anything the stop above had not finished
    return status;
}

// Where the panel is drawn. In a Wayland session Qt wants its Wayland plugin (qt6-wayland) and,
// without it or an X display, ends the program before it starts. The host serves the phone
// without a panel too (the pairing link goes to the terminal), so Qt is told to try Wayland, then
// X11 (Xwayland), then to draw nowhere; a choice of the user's (QT_QPA_PLATFORM) stands.
void choosePanelPlatform() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((chosen != nullptr && *chosen != '\0') || wayland == nullptr || *wayland == '\0') {
        return;
    }
    setenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen", 1);
}

int runDesktop(int argc, char** argv, const CommandLine& commandLine) {
    StopSignals stopSignals;
    ensureRuntimeDirectory();
    choosePanelPlatform();
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() == "offscreen" && std::getenv("WAYLAND_DISPLAY") != nullptr) {
        diagnosticLog().warn(
            "no panel: Qt could draw neither on Wayland (is qt6-wayland installed?) nor on an X display; "
            "pair with the link on standard output (brisholm --print-link)");
    }
    QCoreApplication::setOrganizationName("Vantrel");
    QCoreApplication::setApplicationName("brisholm");

    QSettings settings;
    auto services = AppModel::productionServices(&settings);
    if (commandLine.maxBitrate) {
        services.encoder->setMaximumBitrate(*commandLine.maxBitrate);
    }
    // The frame stages cost a lock and some bookkeeping per frame: kept only where someone reads
    // them (--stats, or a frame line each in the debug log).
    if (commandLine.stats || diagnosticLog().should_log(spdlog::level::debug)) {
        services.stages = std::make_shared<FrameStages>();
    }
    if (commandLine.stats) {
        // From the server's queue, one write per line: standard error is shared with the log.
        services.stages->onSummary = [](const StageSummary& summary) { writeLine(STDERR_FILENO, summary.describe()); };
    }
    if (services.backend.unsupported) {
        std::fprintf(stderr,
                     "brisholm: no desktop backend serves this session (the log line above says why); phones can "
                     "connect but see no picture. Log in with an X11 session or a wlroots compositor such as sway, "
                     "or run brisholm --headless.\n");
    }
    AppModel model(std::move(services));

    const bool terminal = isatty(STDOUT_FILENO) == 1;
    PairingOutput output(terminal || commandLine.printLink, terminal);
    bool toldNoAddress = false;
    const auto pairing = [&model, &output, &toldNoAddress] {
        if (!model.pairingURL() && model.port() && model.addresses().empty() && !std::exchange(toldNoAddress, true)) {
            diagnosticLog().warn(
                "no network address for the pairing link: this computer has no private or "
                "local address a phone could reach");
        }
        for (const auto& line : output.linesFor(model.pairingURL())) {
            writeLine(STDOUT_FILENO, line);
        }
    };
    QObject::connect(&model, &AppModel::pairingChanged, pairing);
    pairing();

    stopSignals.onStop([&model] { model.shutDown([] { QCoreApplication::exit(0); }); });
    // The tray icon and its panel (or a small window where the desktop has no tray), until
    // "Beenden" or a stop signal.
    return runTrayInterface(model);
}

// --session: the backend this session would get, on standard output, and whether there is one.
int runSessionCheck() {
    const auto choice = chooseBackend(readSessionFacts());
    if (choice.kind) {
        std::printf("desktop backend: %s (%s)\n", backendName(*choice.kind), choice.reason.c_str());
        return 0;
    }
    std::printf("no desktop backend: %s\n", choice.reason.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of standard or diagnostic output that went away (`brisholm --headless | head`)
    // must end that output, not the host: writes then fail with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string_view> arguments(argv, argv + argc);
    const auto commandLine = parseCommandLine(arguments);
    if (commandLine.verbose) {
        setVerboseDiagnostics();
    }
    switch (commandLine.action) {
        case CommandLine::Action::help: std::fputs(helpText().c_str(), stdout); return 0;
        case CommandLine::Action::version: std::printf("brisholm %s\n", VANTREL_VERSION); return 0;
        case CommandLine::Action::usageError:
            std::fprintf(stderr, "brisholm: %s\n", commandLine.error.c_str());
            return 2;
        case CommandLine::Action::autostart: return runAutostartCommand(commandLine.autostartOn);
        case CommandLine::Action::sessionCheck: return runSessionCheck();
        case CommandLine::Action::headlessHost: return runHeadless(argc, argv, arguments);
        case CommandLine::Action::desktopHost: return runDesktop(argc, argv, commandLine);
    }
    return 2;
}
