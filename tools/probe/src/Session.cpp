#include "Session.hpp"

#include <asio/error.hpp>
#include <asio/ssl/error.hpp>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

#include "AnnexB.hpp"
#include "MessageLog.hpp"
#include "PngWriter.hpp"
#include "vantrel/ControlMessages.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/VideoMessages.hpp"

namespace vantrel::probe {
namespace {

// The host echoes at most this much of a ping, so pings are matched on this prefix.
constexpr std::size_t pongEchoLimit = 64;
// Pings the host never answers are forgotten after this many, so a silent host costs no memory.
constexpr std::size_t maxPendingPings = 1024;

std::string describe(const std::error_code& error) {
    return error.message();
}

// Errors that mean nothing answered at that address: the TCP connection never came about.
// Anything else happened after TCP connected, inside the TLS handshake. Asio reports socket
// errors in a category of its own that does not map onto std::errc, so errno values are compared.
bool isUnreachable(const std::error_code& error) {
    const auto& category = error.category();
    if (category != asio::error::get_system_category() && category != std::system_category() &&
        category != std::generic_category()) {
        return false;
    }
    static constexpr int unreachable[] = {ECONNREFUSED, ETIMEDOUT,     EHOSTUNREACH, ENETUNREACH,
                                          ENETDOWN,     EADDRNOTAVAIL, EAFNOSUPPORT, EHOSTDOWN};
    for (const int value : unreachable) {
        if (error.value() == value) {
            return true;
        }
    }
    return false;
}

bool isTlsAlert(const std::error_code& error) {
    return error.category() == asio::error::get_ssl_category();
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace

std::int64_t Session::monotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

std::shared_ptr<Session> Session::create(std::shared_ptr<SerialQueue> queue, SessionSettings settings,
                                         TransportFactory transports, SessionOutput output, Clock clock) {
    return std::shared_ptr<Session>(
        new Session(std::move(queue), std::move(settings), std::move(transports), output, std::move(clock)));
}

Session::Session(std::shared_ptr<SerialQueue> queue, SessionSettings settings, TransportFactory transports,
                 SessionOutput output, Clock clock)
    : queue_(std::move(queue)),
      settings_(std::move(settings)),
      transports_(std::move(transports)),
      output_(output),
      clock_(std::move(clock)) {}

Session::~Session() = default;

void Session::start() {
    queue_->post([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        if (self->settings_.decode) {
            self->decoder_ = VideoDecoder::create();
            if (!self->decoder_) {
                self->finish({ExitCode::localFailure, "this libavcodec has no H.264 decoder; run with --no-decode"});
                return;
            }
            if (self->settings_.saveFramesDirectory) {
                self->pngWriter_ = std::make_unique<PngWriter>();
                self->decoder_->onPicture = [raw = self.get()](const Picture& picture) { raw->savePicture(picture); };
            }
        }
        self->attempt(0);
    });
}

void Session::stop() {
    queue_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            if (self->phase_ == Phase::streaming) {
                self->finish({ExitCode::ok, ""});
            } else {
                self->finish({ExitCode::interrupted, "interrupted before the greeting was complete"});
            }
        }
    });
}

void Session::attempt(std::size_t index) {
    if (phase_ == Phase::finished) {
        return;
    }
    if (index >= settings_.targets.size()) {
        finish(handshakeFailure_ ? SessionResult{ExitCode::handshakeFailed, *handshakeFailure_} : noHostResult());
        return;
    }
    targetIndex_ = index;
    const std::uint64_t number = ++attempt_;
    const auto& target = settings_.targets[index];
    connection_ = FramedConnection::create(transports_(queue_->context(), target.endpoint), settings_.maxInboundLength);
    const std::weak_ptr<Session> weak = weak_from_this();
    connection_->onReady = [weak, number] {
        if (const auto self = weak.lock()) {
            self->connectionReady(number);
        }
    };
    connection_->onMessage = [weak, number](MessageType type, Bytes body) {
        const auto self = weak.lock();
        if (self && self->attempt_ == number && self->phase_ != Phase::finished) {
            self->handleMessage(type, body);
        }
    };
    connection_->onClosed = [weak, number](std::optional<TransportError> error) {
        if (const auto self = weak.lock()) {
            self->connectionClosed(number, error);
        }
    };
    connection_->start(queue_);
}

void Session::connectionReady(std::uint64_t number) {
    if (number != attempt_ || phase_ != Phase::connecting) {
        return;
    }
    phase_ = Phase::greeting;
    connection_->send(MessageType::hello,
                      JSONMessage::encode(Hello{SyncProtocolVersion::current, settings_.deviceName}));
    after(settings_.greetingTimeout, [number](Session& self) {
        if (self.attempt_ == number && self.phase_ == Phase::greeting) {
            self.finish(
                {ExitCode::greetingRefused, self.settings_.targets[self.targetIndex_].label +
                                                " accepted the connection but sent no welcome: is it a Vantrel host?"});
        }
    });
}

void Session::connectionClosed(std::uint64_t number, const std::optional<TransportError>& error) {
    if (number != attempt_ || phase_ == Phase::finished) {
        return;
    }
    const std::string& label = settings_.targets[targetIndex_].label;
    switch (phase_) {
        case Phase::connecting: {
            if (error && isUnreachable(*error)) {
                unreachable_.push_back(label + " (" + describe(*error) + ")");
            } else {
                const std::string reason = error ? describe(*error) : std::string("the connection was closed");
                handshakeFailure_ =
                    "the TLS handshake with " + label + " failed (" + reason + "): " +
                    (error && isTlsAlert(*error)
                         ? "most likely the pairing key is wrong or was rotated on the host; pair again with a "
                           "fresh link"
                         : "most likely the pairing key is wrong or was rotated on the host, or the host refuses "
                           "connections from this address");
            }
            const bool more = targetIndex_ + 1 < settings_.targets.size();
            if (more) {
                output_.diagnostics << "vantrel-probe: " << label << ": "
                                    << (error ? describe(*error) : std::string("closed")) << "; trying the next host\n";
            }
            attempt(targetIndex_ + 1);
            return;
        }
        case Phase::greeting:
            finish({ExitCode::greetingRefused,
                    label + " closed the connection during the greeting" +
                        (error ? " (" + describe(*error) + ")" : std::string()) +
                        ": most likely it speaks another protocol version (this probe speaks version " +
                        std::to_string(SyncProtocolVersion::current) + ")"});
            return;
        case Phase::streaming:
            finish({ExitCode::connectionLost, error ? "the connection to " + label + " was lost: " + describe(*error)
                                                    : label + " ended the session (another phone may have connected)"});
            return;
        case Phase::finished: return;
    }
}

SessionResult Session::noHostResult() const {
    std::vector<std::string> tried = settings_.unresolved;
    tried.insert(tried.end(), unreachable_.begin(), unreachable_.end());
    std::string list;
    for (const auto& entry : tried) {
        list += (list.empty() ? "" : ", ") + entry;
    }
    if (list.empty()) {
        return {ExitCode::noHostReachable, "the link names no host to connect to; give one with --host"};
    }
    return {ExitCode::noHostReachable,
            "no host answered (tried " + list + "): is the host running, and is this machine on its network?"};
}

void Session::handleMessage(MessageType type, const Bytes& body) {
    nlohmann::json line = describeMessage(type, body);
    if (type == MessageType::pong) {
        handlePong(body, line);
    }
    if (settings_.printMessages) {
        printLine(line);
    }
    switch (type) {
        case MessageType::welcome: handleWelcome(body); break;
        case MessageType::videoConfig: handleConfig(body); break;
        case MessageType::videoFrame: handleFrame(body); break;
        default: break;
    }
}

void Session::handleWelcome(const Bytes& body) {
    if (phase_ != Phase::greeting) {
        return;  // a repeated welcome changes nothing
    }
    const auto welcome = JSONMessage::decode<Welcome>(body);
    const std::string& label = settings_.targets[targetIndex_].label;
    if (!welcome) {
        finish({ExitCode::greetingRefused, label + " sent a welcome that does not decode"});
        return;
    }
    if (welcome->version != SyncProtocolVersion::current) {
        finish({ExitCode::greetingRefused, label + " speaks protocol version " + std::to_string(welcome->version) +
                                               "; this probe speaks version " +
                                               std::to_string(SyncProtocolVersion::current)});
        return;
    }
    phase_ = Phase::streaming;
    if (settings_.duration) {
        after(*settings_.duration, [](Session& self) { self.finish({ExitCode::ok, ""}); });
    }
    if (settings_.pingInterval) {
        schedulePing();
    }
    if (settings_.progress) {
        scheduleProgress();
    }
    if (!settings_.script.empty()) {
        playScript(0);
    }
}

void Session::handleConfig(const Bytes& body) {
    const auto config = VideoConfig::decode(body);
    if (!config) {
        return;
    }
    if (decoder_) {
        decoder_->configure(*config);
    }
    if (settings_.dump) {
        settings_.dump->writeParameterSets(annexBFromParameterSets(config->parameterSets));
    }
}

void Session::handleFrame(const Bytes& body) {
    const auto frame = VideoFrame::decode(body);
    if (!frame) {
        statistics_.frameFailed();
        return;
    }
    const std::int64_t received = clock_();
    statistics_.frameReceived(frame->isKeyframe, frame->payload.size(), frame->timestampMicros, received);
    if (settings_.acknowledgeFrames) {
        connection_->send(MessageType::frameAck, {});
    }

    const auto annexB = annexBFromLengthPrefixed(frame->payload);
    if (annexB && settings_.dump) {
        settings_.dump->writePicture(*annexB, frame->isKeyframe);
        if (!settings_.dump->healthy()) {
            finish({ExitCode::localFailure, "writing the H.264 file failed: " + settings_.dump->lastError()});
            return;
        }
    }
    std::optional<std::int64_t> decoded;
    if (decoder_) {
        const auto outcome =
            annexB ? decoder_->decode(*annexB, frame->isKeyframe, frame->timestampMicros) : DecodeOutcome::failed;
        if (outcome == DecodeOutcome::decoded) {
            decoded = clock_();
            statistics_.decodeTook(*decoded - received);
        }
        switch (outcome) {
            case DecodeOutcome::decoded: statistics_.frameDecoded(); break;
            case DecodeOutcome::failed: statistics_.frameFailed(); break;
            case DecodeOutcome::skipped: statistics_.frameSkipped(); break;
            case DecodeOutcome::pending: break;
        }
        if (deferredFailure_) {
            finish(*deferredFailure_);
            return;
        }
    } else if (!annexB) {
        statistics_.frameFailed();
    }
    if (settings_.frameTimes) {
        *settings_.frameTimes << frame->timestampMicros << ' ' << received << ' '
                              << (decoded ? std::to_string(*decoded) : std::string("-")) << '\n';
    }
    if (phase_ != Phase::finished && settings_.frameLimit && statistics_.framesReceived() >= *settings_.frameLimit) {
        finish({ExitCode::ok, ""});
    }
}

void Session::handlePong(const Bytes& body, nlohmann::json& line) {
    for (auto pending = pendingPings_.begin(); pending != pendingPings_.end(); ++pending) {
        if (pending->first == body) {
            const std::int64_t roundTrip = clock_() - pending->second;
            statistics_.pingAnswered(roundTrip);
            line["roundTripMillis"] = static_cast<double>(roundTrip) / 1000.0;
            pendingPings_.erase(pending);
            return;
        }
    }
}

void Session::savePicture(const Picture& picture) {
    if (picture.index % settings_.saveEvery != 0 || phase_ == Phase::finished || deferredFailure_) {
        return;
    }
    char name[48];
    std::snprintf(name, sizeof name, "/frame-%06llu.png", static_cast<unsigned long long>(picture.index));
    const std::string path = *settings_.saveFramesDirectory + name;
    if (auto error = pngWriter_->write(picture.frame, path); !error.empty() && !deferredFailure_) {
        deferredFailure_ = SessionResult{ExitCode::localFailure, "saving " + path + " failed: " + error};
    }
}

void Session::sendPing(Bytes body) {
    Bytes echo(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(std::min(body.size(), pongEchoLimit)));
    pendingPings_.emplace_back(std::move(echo), clock_());
    if (pendingPings_.size() > maxPendingPings) {
        pendingPings_.pop_front();
    }
    statistics_.pingSent();
    connection_->send(MessageType::ping, body);
}

void Session::playScript(std::size_t index) {
    if (index >= settings_.script.size()) {
        return;
    }
    after(settings_.script[index].delay, [index](Session& self) {
        const auto& step = self.settings_.script[index];
        if (step.type == MessageType::ping) {
            self.sendPing(step.body);
        } else {
            self.connection_->send(step.type, step.body);
        }
        self.playScript(index + 1);
    });
}

void Session::schedulePing() {
    after(*settings_.pingInterval, [](Session& self) {
        const std::string body = "probe-ping-" + std::to_string(self.nextPingSequence_++);
        self.sendPing(bytesOf(body));
        self.schedulePing();
    });
}

void Session::scheduleProgress() {
    after(settings_.progressInterval, [](Session& self) {
        self.output_.diagnostics << '\r' << self.statistics_.liveLine() << "\x1b[K" << std::flush;
        self.progressShown_ = true;
        self.scheduleProgress();
    });
}

// Runs work on the queue after delay, unless the session has ended or is gone by then.
void Session::after(std::chrono::milliseconds delay, std::function<void(Session&)> work) {
    queue_->postAfter(delay, [weak = weak_from_this(), work = std::move(work)] {
        const auto self = weak.lock();
        if (self && self->phase_ != Phase::finished) {
            work(*self);
        }
    });
}

void Session::printLine(const nlohmann::json& line) {
    if (settings_.linesShareTerminal) {
        clearProgress();
    }
    output_.lines << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
}

void Session::clearProgress() {
    if (progressShown_) {
        output_.diagnostics << "\r\x1b[K" << std::flush;
        progressShown_ = false;
    }
}

void Session::finish(SessionResult result) {
    if (phase_ == Phase::finished) {
        return;
    }
    const bool hadSession = phase_ == Phase::streaming;
    phase_ = Phase::finished;
    if (connection_) {
        connection_->close();
    }
    if (decoder_) {
        statistics_.frameDecoded(decoder_->flush());
    }
    clearProgress();
    if (hadSession) {
        output_.lines << nlohmann::json{{"statistics", statistics_.toJson()}}.dump() << '\n' << std::flush;
        output_.diagnostics << statistics_.report() << std::flush;
    }
    if (onFinished) {
        onFinished(result);
    }
}

}  // namespace vantrel::probe
