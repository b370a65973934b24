#pragma once

#include <asio/ip/address_v4.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "CongestionController.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/MessageType.hpp"
#include "vantrel/Transport.hpp"
#include "vantrel/VideoMessages.hpp"

namespace vantrel {

class SerialQueue;
class ServiceAdvertiser;

// The host's one protocol endpoint. It listens on one TCP port (IPv4 only, one fallback to a
// port the system chooses), advertises itself by DNS-SD, and serves at most one phone at a time:
// the connection that last completed the TLS handshake with the pairing key. It greets that
// phone, turns its messages into the callbacks below, and sends it the stream with a congestion
// control of its own, so a weak link gets fewer bits and a fresh key frame instead of a pile of
// stale frames.
//
// All state lives on the "vantrel.server" serial queue. Every public operation only posts its
// work there and returns, so callers on any thread never block; every callback is invoked on that
// queue, and an owner that touches its own state hops to its own thread itself. Set the callbacks
// before the first start(); the server never clears them.
//
// Owned through std::shared_ptr. Everything the server hands out (queued work, listener and
// connection callbacks, deadline checks) holds it weakly, so dropping the last owner ends all
// activity: the destructor closes the listener and every connection, without any callback.
class SyncServer : public std::enable_shared_from_this<SyncServer> {
public:
    using Nanoseconds = std::chrono::nanoseconds;
    // Turns a socket the listener accepted into the transport a connection runs on.
    using TransportFactory = std::function<std::shared_ptr<Transport>(asio::ip::tcp::socket socket)>;

    // What the server takes from its surroundings; production() is the host's, tests replace
    // pieces of it.
    struct Options {
        // Monotonic time, for the congestion windows.
        std::function<Nanoseconds()> monotonicNow;
        // How long an accepted connection has for the TLS handshake and the greeting together.
        Nanoseconds greetingDeadline = std::chrono::seconds(10);
        // The local address to listen on; all IPv4 interfaces in production, loopback in tests.
        asio::ip::address_v4 listenAddress = asio::ip::address_v4::any();
        // Builds the transport factory of one listener from the pairing key: TLS with the key
        // in production. No value means the listener cannot be created.
        std::function<std::optional<TransportFactory>(const Bytes& key)> security;
        // The peer filter, applied to every accepted connection before anything else.
        std::function<bool(const asio::ip::tcp::endpoint& remote)> isAllowedPeer;
        // DNS-SD; may be empty (nothing is advertised).
        std::shared_ptr<ServiceAdvertiser> advertiser;
        // Connections in their handshake at once; beyond this number
        // the newest evicts the oldest, so a flood of connections that never finish cannot use
        // up the process's descriptors, nor keep the phone out by holding every place.
        std::size_t maxHandshaking = 64;
        // What one connection may have waiting to be sent, in bytes; a phone that stops reading
        // is dropped once it would be more. Far above what the congestion control lets queue
        // (nine frames), application lists with their icons and pongs included.
        std::int64_t maxQueuedSendBytes = std::int64_t{16} << 20;
        // The queue all server state lives on; null means a new "vantrel.server". Tests hand in
        // a queue they run themselves, together with in-memory connections (admit()).
        std::shared_ptr<SerialQueue> queue;

        // Steady clock, 10 seconds, all interfaces, TLS with the pre-shared key, the private-
        // network peer filter, Avahi.
        [[nodiscard]] static Options production();
    };

    // A snapshot of the server's state, for diagnostics and tests.
    struct Status {
        std::optional<std::uint16_t> port;  // the port listened on, while listening
        std::size_t handshaking = 0;        // connections accepted but not yet through the handshake
        bool hasClient = false;
        bool clientGreeted = false;
        std::int64_t bitrate = CongestionController::initialBitrate;
    };

    [[nodiscard]] static std::shared_ptr<SyncServer> create();
    [[nodiscard]] static std::shared_ptr<SyncServer> create(Options options);

    SyncServer(const SyncServer&) = delete;
    SyncServer& operator=(const SyncServer&) = delete;
    ~SyncServer();

    // The greeted client's name (at most 64 characters), or no value when the client is gone.
    std::function<void(std::optional<std::string>)> onClientChanged;
    std::function<void(const InputEvent&)> onInput;
    // The video source should make a key frame as soon as it can.
    std::function<void()> onKeyframeRequest;
    std::function<void(std::uint32_t display)> onSelectDisplay;
    // An application identifier of at most 256 characters.
    std::function<void(const std::string& applicationId)> onOpenApp;
    // The port actually listened on, or no value when listening failed.
    std::function<void(std::optional<std::uint16_t> port)> onListening;
    // The encoder's new target in bits per second.
    std::function<void(std::int64_t bitsPerSecond)> onBitrateChange;
    // Whether frames are being held back until a key frame (the phone fell behind); reported on
    // each change. A video source may spare its extras (still-screen refinements) meanwhile.
    std::function<void(bool holding)> onHoldingFrames;
    // A video frame (known by its time stamp) was handed to the client's connection; frames the
    // congestion control holds back are not reported. For measuring where a frame's time goes.
    std::function<void(std::uint64_t timestampMicros)> onFrameSent;

    // Stores the key, drops the current client and listens on preferredPort (0: any port), with
    // one fallback to a port the system chooses when the preferred one cannot be used. A new key
    // also closes the connections in their handshake: they were greeted under the revoked one.
    void start(Bytes key, std::uint16_t preferredPort);
    // Drops the current client (reported as no value), closes the connections still in their
    // handshake (none may become a client of a stopped server), and stops listening and
    // advertising. stopped, when given, runs on the queue once all of that is done.
    void stop(std::function<void()> stopped = {});
    // stop(), then waits for it. For the owner's shutdown path on another thread; on the queue
    // itself (from a server callback) it stops at once.
    void stopAndWait();
    void disconnectClient();

    // Takes a connection that has passed the peer filter, as the listener does with each socket
    // it accepts: the connection runs its handshake, and becomes the client once ready. peer names
    // the remote end in the diagnostic log. Tests hand in in-memory transports here.
    void admit(std::shared_ptr<Transport> transport, std::string peer);

    // The welcome for the next greeting; a greeted client receives the new one at once.
    void setWelcome(Welcome welcome);
    // Encoded on the caller's thread; kept for the next greeting, and sent to a greeted client
    // just before each key frame that goes out (so none is queued for frames that are dropped).
    void send(const VideoConfig& config);
    // Encoded on the queue, and only when the congestion control lets it through.
    void send(VideoFrame frame);
    // Sent only when changed and while the connection has at most 3 sends outstanding.
    void send(PointerPosition pointer);
    // Encoded on the caller's thread; sent only when changed, and kept for the next greeting.
    void send(const AppList& apps);

    // Calls completion on the queue with the current state.
    void readStatus(std::function<void(const Status&)> completion);

private:
    struct Listener;
    using Connection = std::shared_ptr<FramedConnection>;

    explicit SyncServer(Options options);

    // Runs work on the queue while the server exists.
    void post(std::function<void(SyncServer&)> work);

    // Everything below runs on the queue.
    void listen(std::uint16_t port, bool allowFallback);
    void listenerFailed(const std::shared_ptr<Listener>& failed);
    void cancelListener();
    void acceptNext(const std::shared_ptr<Listener>& listener);
    void accept(const std::shared_ptr<Listener>& listener, asio::ip::tcp::socket socket);
    void admitOnQueue(std::shared_ptr<Transport> transport, std::string peer);
    void connectionReady(const Connection& connection);
    void connectionClosed(const Connection& connection, const std::optional<TransportError>& error);
    void checkDeadline(const Connection& connection);
    void dropClient();
    void stopOnQueue();
    void closeHandshakes(const std::string& reason);
    void evictOldestHandshake();
    void requestKeyframe();
    void handle(MessageType type, const Bytes& body, const Connection& from);
    void refuse(const Connection& connection, const std::string& reason);
    [[nodiscard]] std::string peerOf(const Connection& connection) const;
    void greet(const Bytes& body, const Connection& from);
    void sendFrame(VideoFrame frame);
    void sendPointer(PointerPosition pointer);
    void sendApps(Bytes body);
    void tearDown();
    [[nodiscard]] Nanoseconds now() const { return options_.monotonicNow(); }

    Options options_;
    std::shared_ptr<SerialQueue> queue_;

    std::shared_ptr<Listener> listener_;
    Bytes key_;
    Connection client_;
    struct Handshake {
        Connection connection;
        std::uint64_t admission;  // order of arrival, for eviction
    };
    // Keyed by object identity; the map holds the only strong reference during the handshake.
    std::unordered_map<const FramedConnection*, Handshake> handshaking_;
    std::uint64_t admissions_ = 0;
    // The remote end of every connection the server holds, for the diagnostic log.
    std::unordered_map<const FramedConnection*, std::string> peers_;
    bool clientGreeted_ = false;
    std::optional<Welcome> welcome_;
    std::optional<Bytes> lastConfig_;
    CongestionController congestion_;
    std::optional<PointerPosition> lastPointer_;
    std::optional<Bytes> lastApps_;
};

}  // namespace vantrel
