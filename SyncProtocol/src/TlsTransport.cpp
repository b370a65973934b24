#include "vantrel/TlsTransport.hpp"

#include <asio/ssl/error.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>

#include "AsioStreamTransport.hpp"

namespace vantrel {
namespace {

using TlsStream = asio::ssl::stream<asio::ip::tcp::socket>;

// TLS-PSK over one TCP socket, in either role. The OpenSSL context comes from the shared
// parameters and is held for as long as the connection runs (its PSK callbacks read the derived
// key from it). Error codes reported from here carry OpenSSL's reason texts only, never key bytes.
class SecureTransport final : public detail::AsioStreamTransport<TlsStream> {
public:
    SecureTransport(asio::ip::tcp::socket socket, const SyncSecurity::Parameters& parameters, SyncSecurity::Role role,
                    std::optional<asio::ip::tcp::endpoint> peer)
        : AsioStreamTransport(std::move(socket), *parameters.context(role)),
          parameters_(parameters),
          role_(role),
          peer_(peer) {}

    void cancel() override {
        ended_ = true;
        AsioStreamTransport::cancel();
    }

private:
    void establish(EstablishDone done) override {
        if (role_ == SyncSecurity::Role::server) {
            parameters_.applyTcpOptions(stream().next_layer());
            handshake(std::move(done), nullptr);
            return;
        }
        // The client's deadline covers the TCP connection and the handshake: a host that takes
        // the connection but never answers the handshake must not hang the caller either.
        auto deadline = std::make_shared<asio::steady_timer>(context(), parameters_.tcp().connectTimeout);
        deadline->async_wait([this, keepAlive = shared_from_this()](const std::error_code& error) {
            if (!error) {
                closeSocket();  // the pending connect or handshake then completes with an error
            }
        });
        stream().next_layer().async_connect(*peer_, [this, keepAlive = shared_from_this(), deadline,
                                                     done = std::move(done)](const std::error_code& error) mutable {
            if (error) {
                finish(done, deadline, error);
                return;
            }
            parameters_.applyTcpOptions(stream().next_layer());
            handshake(std::move(done), deadline);
        });
    }

    void handshake(EstablishDone done, std::shared_ptr<asio::steady_timer> deadline) {
        const auto type =
            role_ == SyncSecurity::Role::server ? asio::ssl::stream_base::server : asio::ssl::stream_base::client;
        stream().async_handshake(
            type, [this, keepAlive = shared_from_this(), deadline = std::move(deadline),
                   done = std::move(done)](const std::error_code& error) { finish(done, deadline, error); });
    }

    void finish(const EstablishDone& done, const std::shared_ptr<asio::steady_timer>& deadline,
                const std::error_code& error) {
        const bool timedOut = deadline && deadline->expiry() <= asio::steady_timer::clock_type::now();
        if (deadline) {
            deadline->cancel();
        }
        if (ended_) {
            return;  // cancelled meanwhile
        }
        if (!error) {
            established_ = true;
            done(std::nullopt);
            return;
        }
        ended_ = true;
        done(timedOut ? std::make_error_code(std::errc::timed_out) : error);
    }

    // After the handshake the peer gets a close_notify, so it can tell our orderly end from a cut
    // connection (OpenSSL peers report a bare TCP close as "unexpected eof"). Pending operations
    // are cancelled first: the TLS shutdown must not run beside the read loop. The socket closes
    // when the peer answers or after a short grace period, whichever comes first.
    void closeStream() override {
        if (!established_ || shuttingDown_) {
            closeSocket();
            return;
        }
        shuttingDown_ = true;
        std::error_code ignored;
        stream().next_layer().cancel(ignored);
        auto grace = std::make_shared<asio::steady_timer>(context(), closeGrace);
        grace->async_wait([this, keepAlive = shared_from_this()](const std::error_code& error) {
            if (!error) {
                closeSocket();
            }
        });
        stream().async_shutdown([this, keepAlive = shared_from_this(), grace](const std::error_code&) {
            grace->cancel();
            closeSocket();
        });
    }

    void closeSocket() {
        std::error_code ignored;
        stream().next_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        stream().next_layer().close(ignored);
    }

    // Many peers (s_client, a phone whose app is dropped) close TCP without a close_notify.
    // Truncation matters only to protocols that delimit data by the connection's end; every
    // message here carries its own length, so a bare close is just the end.
    bool isOrderlyEnd(const std::error_code& error) const override {
        return error == asio::error::eof || error == asio::ssl::error::stream_truncated;
    }

    static constexpr std::chrono::milliseconds closeGrace{500};

    SyncSecurity::Parameters parameters_;  // keeps the OpenSSL context alive
    SyncSecurity::Role role_;
    std::optional<asio::ip::tcp::endpoint> peer_;
    bool established_ = false;
    bool ended_ = false;  // cancelled, or the handshake failed
    bool shuttingDown_ = false;
};

}  // namespace

namespace TlsTransport {

std::shared_ptr<Transport> accepted(asio::ip::tcp::socket socket, const SyncSecurity::Parameters& parameters) {
    return std::make_shared<SecureTransport>(std::move(socket), parameters, SyncSecurity::Role::server, std::nullopt);
}

std::shared_ptr<Transport> connecting(asio::io_context& context, asio::ip::tcp::endpoint endpoint,
                                      const SyncSecurity::Parameters& parameters) {
    return std::make_shared<SecureTransport>(asio::ip::tcp::socket(context), parameters, SyncSecurity::Role::client,
                                             endpoint);
}

}  // namespace TlsTransport
}  // namespace vantrel
