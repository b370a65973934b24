// vantrel-probe: a command-line phone for a Vantrel host. See --help and README.md.
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>

#include "ExitCode.hpp"
#include "Options.hpp"
#include "Script.hpp"
#include "Session.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TlsTransport.hpp"

namespace vantrel::probe {
namespace {

int fail(ExitCode code, const std::string& message) {
    std::cerr << "vantrel-probe: " << message << '\n';
    return toInt(code);
}

std::string machineName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "vantrel-probe";
    }
    return name;
}

// Addresses are used as they are; names are looked up here, before anything connects, so that
// every target of the session is a plain endpoint. A name that does not resolve counts as a
// host that did not answer.
void addTargets(const std::string& host, std::uint16_t port, SessionSettings& settings) {
    std::error_code error;
    const auto address = asio::ip::make_address(host, error);
    if (!error) {
        const asio::ip::tcp::endpoint endpoint(address, port);
        std::ostringstream label;
        label << endpoint;
        settings.targets.push_back({label.str(), endpoint});
        return;
    }
    asio::io_context context;
    asio::ip::tcp::resolver resolver(context);
    const auto results = resolver.resolve(host, std::to_string(port), asio::ip::tcp::resolver::numeric_service, error);
    if (error || results.empty()) {
        settings.unresolved.push_back(host + " (" + (error ? error.message() : std::string("no address")) + ")");
        return;
    }
    for (const auto& entry : results) {
        std::ostringstream label;
        label << host << " (" << entry.endpoint() << ")";
        settings.targets.push_back({label.str(), entry.endpoint()});
    }
}

int run(const std::vector<std::string_view>& arguments) {
    const auto parsed = parseOptions(arguments);
    if (std::holds_alternative<ShowHelp>(parsed)) {
        std::cout << helpText();
        return toInt(ExitCode::ok);
    }
    if (const auto* error = std::get_if<OptionError>(&parsed)) {
        return fail(ExitCode::usage, error->message + "\nRun 'vantrel-probe --help' for the options.");
    }
    const auto& options = std::get<ProbeOptions>(parsed);

    const auto pairing = PairingInfo::fromURL(options.link);
    if (!pairing) {
        return fail(ExitCode::badLink,
                    "the pairing link does not parse. It looks like "
                    "vantrel://pair?v=1&name=...&port=...&hosts=...&key=... and must be copied whole, in quotes "
                    "(the shell would otherwise split it at each '&').");
    }

    SessionSettings settings;
    if (options.scriptPath) {
        std::ifstream file(*options.scriptPath, std::ios::binary);
        if (!file) {
            return fail(ExitCode::usage, "cannot read the script " + *options.scriptPath);
        }
        std::ostringstream text;
        text << file.rdbuf();
        auto script = parseScript(text.str());
        if (const auto* error = std::get_if<ScriptError>(&script)) {
            return fail(ExitCode::usage, *options.scriptPath + ", " + error->message);
        }
        settings.script = std::move(std::get<std::vector<ScriptStep>>(script));
    }
    if (options.saveFramesDirectory) {
        std::error_code error;
        std::filesystem::create_directories(*options.saveFramesDirectory, error);
        if (error || !std::filesystem::is_directory(*options.saveFramesDirectory)) {
            return fail(ExitCode::usage, "cannot use " + *options.saveFramesDirectory + " for --save-frames" +
                                             (error ? ": " + error.message() : std::string()));
        }
    }
    if (options.dumpPath) {
        std::string error;
        settings.dump = StreamDump::open(*options.dumpPath, error);
        if (!settings.dump) {
            return fail(ExitCode::usage, "cannot create the --dump-h264 file " + error);
        }
    }

    if (options.frameTimesPath) {
        auto file = std::make_unique<std::ofstream>(*options.frameTimesPath, std::ios::trunc);
        if (!*file) {
            return fail(ExitCode::usage, "cannot create the --frame-times file " + *options.frameTimesPath);
        }
        settings.frameTimes = std::move(file);
    }

    const std::uint16_t port = options.port.value_or(pairing->port);
    for (const auto& host : options.host ? std::vector<std::string>{*options.host} : pairing->hosts) {
        addTargets(host, port, settings);
    }
    settings.deviceName = options.name.value_or(machineName());
    settings.acknowledgeFrames = options.acknowledgeFrames;
    settings.pingInterval = options.pingInterval;
    settings.duration = options.duration;
    settings.frameLimit = options.frameLimit;
    settings.decode = options.decode;
    settings.saveFramesDirectory = options.saveFramesDirectory;
    settings.saveEvery = options.saveEvery;
    settings.printMessages = !options.quiet;
    settings.progress = options.progress && isatty(STDERR_FILENO) == 1;
    settings.linesShareTerminal = settings.progress && isatty(STDOUT_FILENO) == 1;

    const auto parameters = SyncSecurity::parameters(pairing->key);
    auto transports = [parameters](asio::io_context& context, const asio::ip::tcp::endpoint& endpoint) {
        return TlsTransport::connecting(context, endpoint, parameters);
    };

    auto queue = std::make_shared<SerialQueue>("vantrel.probe");
    auto session = Session::create(queue, std::move(settings), std::move(transports), {std::cout, std::cerr});
    std::promise<SessionResult> finished;
    session->onFinished = [&finished](const SessionResult& result) { finished.set_value(result); };

    // Ctrl-C ends the session in order, so the statistics are still printed.
    auto signals = std::make_unique<asio::signal_set>(queue->context(), SIGINT, SIGTERM);
    signals->async_wait([weak = std::weak_ptr<Session>(session)](const std::error_code& error, int) {
        if (const auto current = weak.lock(); current && !error) {
            current->stop();
        }
    });

    session->start();
    const SessionResult result = finished.get_future().get();
    queue->sync([&] {
        signals.reset();
        session.reset();
    });
    // Let the completions of the closed connection run: until they have, they hold the transport,
    // and the transport holds the queue.
    for (int round = 0; round < 16; ++round) {
        queue->sync([] {});
    }
    if (!result.message.empty()) {
        std::cerr << "vantrel-probe: " << result.message << '\n';
    }
    return toInt(result.code);
}

}  // namespace
}  // namespace vantrel::probe

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    return vantrel::probe::run(arguments);
}
