#include "vantrel/TcpTransport.hpp"

#include <asio/connect.hpp>
#include <asio/steady_timer.hpp>

#include "AsioStreamTransport.hpp"

namespace vantrel {
namespace {

class PlainTcpTransport final : public detail::AsioStreamTransport<asio::ip::tcp::socket> {
public:
    PlainTcpTransport(asio::ip::tcp::socket socket, std::optional<asio::ip::tcp::endpoint> peer,
                      std::chrono::milliseconds timeout)
        : AsioStreamTransport(std::move(socket)), peer_(peer), timeout_(timeout) {}

private:
    void establish(EstablishDone done) override {
        if (!peer_) {
            setNoDelay();
            done(std::nullopt);
            return;
        }
        auto timer = std::make_shared<asio::steady_timer>(context(), timeout_);
        timer->async_wait([this, keepAlive = shared_from_this()](const std::error_code& error) {
            if (!error) {
                closeStream();  // the pending connect then completes with operation_aborted
            }
        });
        stream().async_connect(*peer_, [this, keepAlive = shared_from_this(), timer,
                                        done = std::move(done)](const std::error_code& error) {
            const bool timedOut =
                timer->expiry() <= asio::steady_timer::clock_type::now() && error == asio::error::operation_aborted;
            timer->cancel();
            if (error) {
                done(timedOut ? std::make_error_code(std::errc::timed_out) : error);
                return;
            }
            setNoDelay();
            done(std::nullopt);
        });
    }

    void closeStream() override {
        std::error_code ignored;
        stream().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        stream().close(ignored);
    }

    void setNoDelay() {
        std::error_code ignored;
        stream().set_option(asio::ip::tcp::no_delay(true), ignored);
    }

    std::optional<asio::ip::tcp::endpoint> peer_;
    std::chrono::milliseconds timeout_;
};

}  // namespace

namespace TcpTransport {

std::shared_ptr<Transport> accepted(asio::ip::tcp::socket socket) {
    return std::make_shared<PlainTcpTransport>(std::move(socket), std::nullopt, std::chrono::milliseconds{0});
}

std::shared_ptr<Transport> connecting(asio::io_context& context, asio::ip::tcp::endpoint endpoint,
                                      std::chrono::milliseconds timeout) {
    return std::make_shared<PlainTcpTransport>(asio::ip::tcp::socket(context), endpoint, timeout);
}

}  // namespace TcpTransport
}  // namespace vantrel
