#include "ProbeHarness.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "vantrel/ControlMessages.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/TlsTransport.hpp"
#include "vantrel/testing/Waiting.hpp"

extern char** environ;

namespace vantrel::probe::testing {

using asio::ip::tcp;

Bytes keyOf(std::uint8_t seed) {
    Bytes key(PairingInfo::keyLength);
    for (std::size_t index = 0; index < key.size(); ++index) {
        key[index] = static_cast<std::uint8_t>(seed * 31 + index);
    }
    return key;
}

std::string linkFor(std::uint16_t port, const Bytes& key, std::vector<std::string> hosts) {
    return PairingInfo{"Test Host", port, std::move(hosts), key}.url();
}

std::uint16_t closedPort() {
    asio::io_context context;
    tcp::acceptor acceptor(context, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    return acceptor.local_endpoint().port();
}

std::vector<Target> loopback(std::uint16_t port) {
    return {Target{"127.0.0.1:" + std::to_string(port), tcp::endpoint(asio::ip::address_v4::loopback(), port)}};
}

// MARK: - TestHost

TestHost::TestHost(const Bytes& key) : RecordingServer(Config{.link = Link::tls}) {
    server->setWelcome(
        Welcome{SyncProtocolVersion::current, "Test Host", {DisplayInfo{1, "Screen", 640, 360}}, 1, true});
    port_ = start(key).value_or(0);
}

// MARK: - ScriptedHost

ScriptedHost::ScriptedHost(const Bytes& key, Behaviour behaviour)
    : parameters_(SyncSecurity::parameters(key)),
      acceptor_(queue_->context(), tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
      behaviour_(behaviour) {
    // One phone per test: one accept is enough.
    queue_->sync([this] {
        {
            acceptor_.async_accept([this](const std::error_code& error, tcp::socket socket) {
                if (error) {
                    return;
                }
                auto connection = FramedConnection::create(TlsTransport::accepted(std::move(socket), parameters_),
                                                           hostMaxInboundLength);
                const std::weak_ptr<FramedConnection> weak = connection;
                connection->onMessage = [this, weak](MessageType type, const Bytes&) {
                    const auto self = weak.lock();
                    if (!self || type != MessageType::hello) {
                        return;
                    }
                    switch (behaviour_) {
                        case Behaviour::closeOnHello: self->close(); break;
                        case Behaviour::welcomeVersion2:
                            self->send(MessageType::welcome,
                                       JSONMessage::encode(Welcome{2, "Future Host", {}, 0, false}));
                            break;
                        case Behaviour::neverAnswer: break;
                    }
                };
                connection->start(queue_);
                connections_.push_back(std::move(connection));
            });
        }
    });
}

ScriptedHost::~ScriptedHost() {
    queue_->sync([this] {
        std::error_code ignored;
        acceptor_.close(ignored);
        for (const auto& connection : connections_) {
            connection->close();
        }
    });
    vantrel::testing::settle(*queue_);
    queue_->sync([this] { connections_.clear(); });
}

std::uint16_t ScriptedHost::port() const {
    return acceptor_.local_endpoint().port();
}

// MARK: - SessionRun

SessionRun::SessionRun(SessionSettings settings, const Bytes& key) {
    auto parameters = std::make_shared<const SyncSecurity::Parameters>(SyncSecurity::parameters(key));
    auto transports = [parameters](asio::io_context& context, const tcp::endpoint& endpoint) {
        return TlsTransport::connecting(context, endpoint, *parameters);
    };
    session_ = Session::create(queue_, std::move(settings), std::move(transports), {lines_, diagnostics_});
    session_->onFinished = [this](const SessionResult& result) {
        std::lock_guard lock(mutex_);
        result_ = result;
    };
    session_->start();
}

SessionRun::~SessionRun() {
    session_->stop();
    (void)waitForEnd();
    vantrel::testing::settle(*queue_);
    queue_->sync([this] { session_.reset(); });
    vantrel::testing::settle(*queue_);
}

std::optional<SessionResult> SessionRun::waitForEnd(std::chrono::milliseconds timeout) {
    vantrel::testing::waitUntil(
        [this] {
            std::lock_guard lock(mutex_);
            return result_.has_value();
        },
        timeout);
    std::lock_guard lock(mutex_);
    return result_;
}

std::string SessionRun::lines() {
    std::string text;
    queue_->sync([&] { text = lines_.str(); });
    return text;
}

std::string SessionRun::diagnostics() {
    std::string text;
    queue_->sync([&] { text = diagnostics_.str(); });
    return text;
}

std::size_t SessionRun::countKind(const std::string& kind) {
    std::istringstream stream(lines());
    std::size_t count = 0;
    for (std::string line; std::getline(stream, line);) {
        const auto object = nlohmann::json::parse(line, nullptr, false);
        if (object.is_object() && object.value("kind", "") == kind) {
            ++count;
        }
    }
    return count;
}

// MARK: - The probe as a process

namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

ProcessResult runProbe(const std::vector<std::string>& arguments, std::chrono::seconds timeout) {
    char outPath[] = "/tmp/vantrel-probe-out-XXXXXX";
    char errPath[] = "/tmp/vantrel-probe-err-XXXXXX";
    const int outFile = mkstemp(outPath);
    const int errFile = mkstemp(errPath);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFile, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFile, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> argv{VANTREL_PROBE_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    ProcessResult result;
    pid_t pid = 0;
    if (posix_spawn(&pid, VANTREL_PROBE_PATH, &actions, nullptr, pointers.data(), environ) == 0) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outFile);
    close(errFile);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    unlink(outPath);
    unlink(errPath);
    return result;
}

}  // namespace vantrel::probe::testing
