#include "SyncServer.hpp"

#include <algorithm>
#include <asio/error.hpp>
#include <cassert>
#include <exception>
#include <string>
#include <utility>

#include "Log/DiagnosticLog.hpp"
#include "ServiceAdvertiser.hpp"
#include "Text.hpp"
#include "vantrel/Frame.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/SerialQueue.hpp"

namespace vantrel {

namespace {

using asio::ip::tcp;

// Limits on what the phone hands us, in user-perceived characters.
constexpr std::size_t maxClientNameCharacters = 64;
constexpr std::size_t maxApplicationIdCharacters = 256;
// A pong echoes at most this many bytes of its ping.
constexpr std::size_t maxPongBytes = 64;
// Pointer updates yield to video while more sends than this are outstanding.
constexpr std::int64_t maxPendingSendsForPointer = 3;
// After an accept error that is about the process rather than the peer (out of descriptors,
// out of memory), wait a little before accepting again instead of spinning on the error.
constexpr auto acceptRetryDelay = std::chrono::milliseconds(100);

std::string describe(const tcp::endpoint& endpoint) {
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

// The reason a connection ended, as a developer reading the log needs it.
std::string endReason(const FramedConnection& connection, const std::optional<TransportError>& error) {
    if (error) {
        return error->message();
    }
    return describe(connection.endReason());
}

}  // namespace

// One listening socket and what it makes of the connections it accepts. Identity matters: the
// accept loop of a listener the server has since replaced stops quietly.
struct SyncServer::Listener {
    Listener(asio::io_context& context, TransportFactory factory, std::uint16_t requested, bool fallback)
        : acceptor(context), makeTransport(std::move(factory)), requestedPort(requested), allowFallback(fallback) {}

    tcp::acceptor acceptor;
    TransportFactory makeTransport;
    std::uint16_t requestedPort;
    bool allowFallback;
    std::optional<std::uint16_t> port;  // once listening
};

std::shared_ptr<SyncServer> SyncServer::create(Options options) {
    assert(options.monotonicNow && options.security && options.isAllowedPeer);
    return std::shared_ptr<SyncServer>(new SyncServer(std::move(options)));
}

SyncServer::SyncServer(Options options)
    : options_(std::move(options)),
      queue_(options_.queue ? options_.queue : std::make_shared<SerialQueue>("vantrel.server")),
      congestion_(options_.monotonicNow()) {}

SyncServer::~SyncServer() {
    // Nothing can reach the server any more (every closure holds it weakly), so the state can be
    // torn down from here; the sockets still belong to the queue's thread, though. The last owner
    // may be a closure running on the queue: then the work runs right here instead of waiting for
    // the queue's own thread, which would be waiting for itself.
    queue_->sync([this] { tearDown(); });
}

void SyncServer::tearDown() {
    cancelListener();
    // Closing reports through callbacks that hold the server weakly, so nothing comes back here.
    for (auto& [identity, handshake] : handshaking_) {
        handshake.connection->close();
    }
    handshaking_.clear();
    if (client_) {
        client_->close();
        client_.reset();
    }
    peers_.clear();
}

void SyncServer::post(std::function<void(SyncServer&)> work) {
    queue_->post([weakSelf = weak_from_this(), work = std::move(work)] {
        if (auto self = weakSelf.lock()) {
            work(*self);
        }
    });
}

// MARK: - Public operations

void SyncServer::start(Bytes key, std::uint16_t preferredPort) {
    post([key = std::move(key), preferredPort](SyncServer& self) mutable {
        if (key != self.key_) {
            self.closeHandshakes("the pairing key changed");
        }
        self.key_ = std::move(key);
        self.dropClient();
        self.listen(preferredPort, true);
    });
}

void SyncServer::stop(std::function<void()> stopped) {
    post([stopped = std::move(stopped)](SyncServer& self) {
        self.stopOnQueue();
        if (stopped) {
            stopped();
        }
    });
}

void SyncServer::stopAndWait() {
    // The caller holds the server, so `this` outlives the wait.
    queue_->sync([this] { stopOnQueue(); });
}

void SyncServer::stopOnQueue() {
    dropClient();
    closeHandshakes("the server stopped");
    cancelListener();
}

void SyncServer::admit(std::shared_ptr<Transport> transport, std::string peer) {
    post([transport = std::move(transport), peer = std::move(peer)](SyncServer& self) mutable {
        self.admitOnQueue(std::move(transport), std::move(peer));
    });
}

void SyncServer::disconnectClient() {
    post([](SyncServer& self) { self.dropClient(); });
}

void SyncServer::setWelcome(Welcome welcome) {
    post([welcome = std::move(welcome)](SyncServer& self) mutable {
        self.welcome_ = std::move(welcome);
        if (self.client_ && self.clientGreeted_) {
            self.client_->send(MessageType::welcome, JSONMessage::encode(*self.welcome_));
        }
    });
}

void SyncServer::send(const VideoConfig& config) {
    // Sent with the key frame that follows it (sendFrame): while frames are dropped, the
    // configurations of dropped key frames would only pile up in front of a slow phone.
    post([body = config.encoded()](SyncServer& self) mutable { self.lastConfig_ = std::move(body); });
}

void SyncServer::send(VideoFrame frame) {
    post([frame = std::move(frame)](SyncServer& self) mutable { self.sendFrame(std::move(frame)); });
}

void SyncServer::send(PointerPosition pointer) {
    post([pointer](SyncServer& self) { self.sendPointer(pointer); });
}

void SyncServer::send(const AppList& apps) {
    post([body = JSONMessage::encode(apps)](SyncServer& self) mutable { self.sendApps(std::move(body)); });
}

void SyncServer::readStatus(std::function<void(const Status&)> completion) {
    post([completion = std::move(completion)](SyncServer& self) {
        Status status;
        status.port = self.listener_ ? self.listener_->port : std::nullopt;
        status.handshaking = self.handshaking_.size();
        status.hasClient = self.client_ != nullptr;
        status.clientGreeted = self.clientGreeted_;
        status.bitrate = self.congestion_.bitrate();
        completion(status);
    });
}

// MARK: - Listening

void SyncServer::listen(std::uint16_t port, bool allowFallback) {
    cancelListener();

    auto factory = options_.security(key_);
    if (!factory) {
        diagnosticLog().error("cannot listen: no TLS setup for the pairing key (see the messages above)");
        if (onListening) {
            onListening(std::nullopt);
        }
        return;
    }
    auto listener = std::make_shared<Listener>(queue_->context(), std::move(*factory), port, allowFallback);
    std::error_code error;
    // IPv4 only: the listener never accepts IPv6 connections.
    listener->acceptor.open(tcp::v4(), error);
    if (!error) {
        listener->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    }
    if (error) {
        // The listener could not even be made: there is no fallback for that.
        diagnosticLog().error("cannot listen: no IPv4 socket: {}", error.message());
        if (onListening) {
            onListening(std::nullopt);
        }
        return;
    }
    listener_ = listener;

    listener->acceptor.bind(tcp::endpoint(options_.listenAddress, port), error);
    if (!error) {
        listener->acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        diagnosticLog().warn("cannot listen on port {}: {}", port, error.message());
        listenerFailed(listener);
        return;
    }
    const auto local = listener->acceptor.local_endpoint(error);
    if (!error) {
        listener->port = local.port();
    }
    if (listener->port && options_.advertiser) {
        options_.advertiser->advertise(std::string(PairingInfo::bonjourType), *listener->port);
    }
    if (onListening) {
        onListening(listener->port);
    }
    acceptNext(listener);
}

void SyncServer::listenerFailed(const std::shared_ptr<Listener>& failed) {
    if (failed != listener_) {
        return;
    }
    cancelListener();
    // Exactly one retry, on a port the system chooses, and only for a listen that named a port.
    if (failed->allowFallback && failed->requestedPort != 0) {
        diagnosticLog().info("port {} is taken; listening on a port the system chooses", failed->requestedPort);
        listen(0, false);
        return;
    }
    if (onListening) {
        onListening(std::nullopt);
    }
}

void SyncServer::cancelListener() {
    if (!listener_) {
        return;
    }
    if (listener_->port && options_.advertiser) {
        options_.advertiser->withdraw();
    }
    std::error_code ignored;
    listener_->acceptor.close(ignored);
    listener_.reset();
}

void SyncServer::acceptNext(const std::shared_ptr<Listener>& listener) {
    listener->acceptor.async_accept([weakSelf = weak_from_this(), weakListener = std::weak_ptr<Listener>(listener)](
                                        const std::error_code& error, tcp::socket socket) {
        auto self = weakSelf.lock();
        auto listener = weakListener.lock();
        if (!self || !listener || listener != self->listener_ || error == asio::error::operation_aborted) {
            return;
        }
        if (!error) {
            self->accept(listener, std::move(socket));
            self->acceptNext(listener);
            return;
        }
        if (error == asio::error::connection_aborted) {
            self->acceptNext(listener);  // the peer gave up before we took it: nothing to wait for
            return;
        }
        diagnosticLog().warn("accepting a connection failed: {}; trying again shortly", error.message());
        self->queue_->postAfter(acceptRetryDelay, [weakSelf, weakListener] {
            auto self = weakSelf.lock();
            auto listener = weakListener.lock();
            if (self && listener && listener == self->listener_) {
                self->acceptNext(listener);
            }
        });
    });
}

// MARK: - Admission

void SyncServer::accept(const std::shared_ptr<Listener>& listener, tcp::socket socket) {
    std::error_code error;
    const auto remote = socket.remote_endpoint(error);
    if (error) {
        diagnosticLog().debug("an accepted connection was gone before it could be read: {}", error.message());
        socket.close(error);
        return;
    }
    // The peer filter comes before anything else: a refused peer costs no handshake and is
    // reported to no one but the log.
    const auto peer = describe(remote);
    if (!options_.isAllowedPeer(remote)) {
        diagnosticLog().info("refused {}: not a private or local network address", peer);
        socket.close(error);
        return;
    }
    std::shared_ptr<Transport> transport;
    try {
        transport = listener->makeTransport(std::move(socket));
    } catch (const std::exception& failure) {
        // Setting up TLS allocates (SSL_new); a failure refuses this connection only.
        diagnosticLog().error("refused {}: cannot set up its transport: {}", peer, failure.what());
        return;
    }
    admitOnQueue(std::move(transport), peer);
}

void SyncServer::admitOnQueue(std::shared_ptr<Transport> transport, std::string peer) {
    diagnosticLog().debug("connection from {}", peer);
    if (!handshaking_.empty() && handshaking_.size() >= options_.maxHandshaking) {
        evictOldestHandshake();
    }
    auto connection = FramedConnection::create(std::move(transport), hostMaxInboundLength, options_.maxQueuedSendBytes);
    std::weak_ptr<SyncServer> weakSelf = weak_from_this();
    std::weak_ptr<FramedConnection> weakConnection = connection;
    connection->onMessage = [weakSelf, weakConnection](MessageType type, Bytes body) {
        auto self = weakSelf.lock();
        auto connection = weakConnection.lock();
        if (self && connection && connection == self->client_) {
            self->handle(type, body, connection);
        }
    };
    connection->onClosed = [weakSelf, weakConnection](const std::optional<TransportError>& error) {
        auto self = weakSelf.lock();
        auto connection = weakConnection.lock();
        if (self && connection) {
            self->connectionClosed(connection, error);
        }
    };
    connection->onReady = [weakSelf, weakConnection] {
        auto self = weakSelf.lock();
        auto connection = weakConnection.lock();
        if (self && connection) {
            self->connectionReady(connection);
        }
    };
    handshaking_.emplace(connection.get(), Handshake{connection, admissions_++});
    peers_.emplace(connection.get(), std::move(peer));
    connection->start(queue_);

    // The deadline counts from acceptance and covers the handshake and the greeting together.
    queue_->postAfter(options_.greetingDeadline, [weakSelf, weakConnection] {
        auto self = weakSelf.lock();
        auto connection = weakConnection.lock();
        if (self && connection) {
            self->checkDeadline(connection);
        }
    });
}

// The oldest connection in its handshake makes room for the newest: a phone's handshake takes a
// moment, so it can only be displaced by a flood faster than that, while refusing newcomers
// would let anyone who holds every place keep the phone out for good.
void SyncServer::evictOldestHandshake() {
    const auto oldest = std::min_element(handshaking_.begin(), handshaking_.end(), [](const auto& a, const auto& b) {
        return a.second.admission < b.second.admission;
    });
    auto evicted = std::move(oldest->second.connection);
    handshaking_.erase(oldest);
    diagnosticLog().warn("closed {}: the oldest of {} connections in their handshake, making room", peerOf(evicted),
                         options_.maxHandshaking);
    evicted->close();
}

void SyncServer::closeHandshakes(const std::string& reason) {
    for (auto& [identity, handshake] : std::exchange(handshaking_, {})) {
        diagnosticLog().info("closed {} in its handshake: {}", peerOf(handshake.connection), reason);
        handshake.connection->close();
    }
}

void SyncServer::connectionReady(const Connection& connection) {
    // The handshake succeeded, so the peer holds the pairing key: it becomes the client. A
    // client before it is replaced without a report; the next report is the new one's name.
    handshaking_.erase(connection.get());
    diagnosticLog().debug("{} passed the TLS handshake", peerOf(connection));
    if (client_ && client_ != connection) {
        auto replaced = std::exchange(client_, nullptr);
        diagnosticLog().info("client {} is replaced by {}", peerOf(replaced), peerOf(connection));
        peers_.erase(replaced.get());
        replaced->onClosed = nullptr;
        replaced->close();
    }
    client_ = connection;
    clientGreeted_ = false;
    congestion_.setDroppingUntilKeyframe(false);
}

void SyncServer::connectionClosed(const Connection& connection, const std::optional<TransportError>& error) {
    const bool wasHandshaking = handshaking_.erase(connection.get()) > 0;
    // Ends this side chose were logged where it chose them.
    if (connection->endReason() == ConnectionEnd::sendLimit) {
        diagnosticLog().warn("closed {}: more than {} bytes waited to be sent (it stopped reading)", peerOf(connection),
                             options_.maxQueuedSendBytes);
    } else if (connection->endReason() != ConnectionEnd::closedHere) {
        if (wasHandshaking) {
            diagnosticLog().info("TLS handshake with {} failed: {} (a phone with another pairing key, or no phone)",
                                 peerOf(connection), endReason(*connection, error));
        } else if (connection == client_) {
            diagnosticLog().info("client {} left: {}", peerOf(connection), endReason(*connection, error));
        }
    }
    peers_.erase(connection.get());
    if (connection == client_) {
        client_.reset();
        clientGreeted_ = false;
        if (onClientChanged) {
            onClientChanged(std::nullopt);
        }
    }
}

void SyncServer::checkDeadline(const Connection& connection) {
    if (connection == client_ && clientGreeted_) {
        return;
    }
    const auto seconds = std::chrono::duration<double>(options_.greetingDeadline).count();
    if (handshaking_.contains(connection.get())) {
        diagnosticLog().info("closed {}: no TLS handshake within {} s", peerOf(connection), seconds);
    } else if (connection == client_) {
        diagnosticLog().info("closed {}: no hello within {} s", peerOf(connection), seconds);
    }
    connection->close();
}

void SyncServer::refuse(const Connection& connection, const std::string& reason) {
    diagnosticLog().info("closed {}: {}", peerOf(connection), reason);
    connection->close();  // reported through the connection's closed callback
}

std::string SyncServer::peerOf(const Connection& connection) const {
    const auto found = peers_.find(connection.get());
    return found == peers_.end() ? std::string("an unknown peer") : found->second;
}

void SyncServer::dropClient() {
    if (!client_) {
        return;
    }
    auto dropped = std::exchange(client_, nullptr);
    clientGreeted_ = false;
    diagnosticLog().info("dropped client {}", peerOf(dropped));
    peers_.erase(dropped.get());
    dropped->onClosed = nullptr;  // the close below is reported here, once
    dropped->close();
    if (onClientChanged) {
        onClientChanged(std::nullopt);
    }
}

// MARK: - Client messages

void SyncServer::handle(MessageType type, const Bytes& body, const Connection& from) {
    if (!clientGreeted_) {
        if (type == MessageType::hello) {
            greet(body, from);
        } else {
            refuse(from, "sent " + std::string(name(type)) + " before hello");
        }
        return;
    }
    switch (type) {
        case MessageType::input:
            if (auto event = JSONMessage::decode<InputEvent>(body); event && onInput) {
                onInput(*event);
            }
            break;
        case MessageType::requestKeyframe:
            if (congestion_.keyframeRequestedByClient()) {
                requestKeyframe();
            }
            break;
        case MessageType::selectDisplay:
            if (auto choice = JSONMessage::decode<SelectDisplay>(body); choice && onSelectDisplay) {
                onSelectDisplay(choice->id);
            }
            break;
        case MessageType::ping:
            from->send(MessageType::pong, ByteView(body).first(std::min(body.size(), maxPongBytes)));
            break;
        case MessageType::frameAck: congestion_.frameAcknowledged(); break;
        case MessageType::openApp:
            if (auto request = JSONMessage::decode<OpenApp>(body); request && onOpenApp) {
                onOpenApp(Text::prefixCharacters(request->id, maxApplicationIdCharacters));
            }
            break;
        case MessageType::hello:  // a second hello neither greets again nor resends the welcome
        case MessageType::welcome:
        case MessageType::videoConfig:
        case MessageType::videoFrame:
        case MessageType::pong:
        case MessageType::pointer:
        case MessageType::apps: break;
    }
}

void SyncServer::greet(const Bytes& body, const Connection& from) {
    // No reply names the reason: the phone only sees the connection end.
    const auto hello = JSONMessage::decode<Hello>(body);
    if (!hello) {
        refuse(from, "its hello is not valid");
        return;
    }
    if (hello->version != SyncProtocolVersion::current) {
        refuse(from, "it speaks protocol version " + std::to_string(hello->version) + ", this host " +
                         std::to_string(SyncProtocolVersion::current));
        return;
    }
    if (!welcome_) {
        refuse(from, "this host has no welcome to give yet");
        return;
    }
    diagnosticLog().info("client {} greeted as \"{}\"", peerOf(from),
                         oneLine(Text::prefixCharacters(hello->deviceName, maxClientNameCharacters)));
    // The order is what the phone relies on: welcome, the cached configuration and list, and
    // no video until the key frame requested last.
    clientGreeted_ = true;
    from->send(MessageType::welcome, JSONMessage::encode(*welcome_));
    if (lastConfig_) {
        from->send(MessageType::videoConfig, *lastConfig_);
    }
    if (lastApps_) {
        from->send(MessageType::apps, *lastApps_);
    }
    lastPointer_.reset();
    const bool wasHolding = congestion_.droppingUntilKeyframe();
    congestion_.reset(now());  // a greeted phone waits for a key frame: held back until then
    if (congestion_.droppingUntilKeyframe() != wasHolding && onHoldingFrames) {
        onHoldingFrames(!wasHolding);
    }
    if (onBitrateChange) {
        onBitrateChange(congestion_.bitrate());
    }
    if (onClientChanged) {
        onClientChanged(Text::prefixCharacters(hello->deviceName, maxClientNameCharacters));
    }
    requestKeyframe();
}

void SyncServer::requestKeyframe() {
    if (onKeyframeRequest) {
        onKeyframeRequest();
    }
}

// MARK: - Sending

void SyncServer::sendFrame(VideoFrame frame) {
    if (!client_ || !clientGreeted_) {
        return;  // nothing counted, the controller does not run
    }
    const bool wasHolding = congestion_.droppingUntilKeyframe();
    const auto decision = congestion_.offerFrame(frame.isKeyframe, client_->pendingSends(), now());
    const auto client = client_;
    if (congestion_.droppingUntilKeyframe() != wasHolding && onHoldingFrames) {
        onHoldingFrames(!wasHolding);
    }
    if (decision.newBitrate && onBitrateChange) {
        onBitrateChange(*decision.newBitrate);
    }
    for (int request = 0; request < decision.keyframeRequests; ++request) {
        requestKeyframe();
    }
    if (!decision.send) {
        return;
    }
    // Every key frame the phone receives comes right after the configuration it decodes with.
    if (frame.isKeyframe && lastConfig_) {
        client->send(MessageType::videoConfig, *lastConfig_);
    }
    client->send(MessageType::videoFrame, frame.encoded());
    if (onFrameSent) {
        onFrameSent(frame.timestampMicros);
    }
}

void SyncServer::sendPointer(PointerPosition pointer) {
    if (!client_ || !clientGreeted_) {
        return;
    }
    if (lastPointer_ && lastPointer_->x == pointer.x && lastPointer_->y == pointer.y) {
        return;
    }
    if (client_->pendingSends() > maxPendingSendsForPointer) {
        return;  // lastPointer_ stays, so a later call sends this position once the link drained
    }
    lastPointer_ = pointer;
    client_->send(MessageType::pointer, JSONMessage::encode(pointer));
}

void SyncServer::sendApps(Bytes body) {
    if (lastApps_ && *lastApps_ == body) {
        return;
    }
    lastApps_ = std::move(body);
    if (client_ && clientGreeted_) {
        client_->send(MessageType::apps, *lastApps_);
    }
}

}  // namespace vantrel
