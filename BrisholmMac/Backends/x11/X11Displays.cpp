#include "Backends/x11/X11Displays.hpp"

#include "Backends/x11/RandrMonitors.hpp"
#include "Backends/x11/X11Connection.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::x11 {

namespace {

// The displays of the shared connection, read afresh at every call. They never open the
// connection again themselves, but read through the one the other users reopened.
class X11Displays final : public Displays {
public:
    X11Displays(std::shared_ptr<SharedConnection> shared, std::shared_ptr<X11Connection> probed)
        : shared_(std::move(shared)), probed_(std::move(probed)) {}

protected:
    std::vector<MonitorFacts> monitors() override {
        const auto& connection = shared_->current();
        if (!connection || connection->broken()) {
            if (!reportedBroken_) {
                diagnosticLog().warn("displays: the connection to the X display broke");
                reportedBroken_ = true;
            }
            return {};
        }
        // A connection opened again has not been asked for RandR 1.5 yet.
        if (connection != probed_ && !speaksMonitors(*connection)) {
            return {};
        }
        probed_ = connection;
        reportedBroken_ = false;
        auto monitors = readMonitors(connection->get(), connection->root(), true);
        if (!monitors) {
            diagnosticLog().warn("displays: reading the RandR monitors failed");
            return {};
        }
        return std::move(*monitors);
    }

private:
    std::shared_ptr<SharedConnection> shared_;
    std::shared_ptr<X11Connection> probed_;
    bool reportedBroken_ = false;
};

}  // namespace

std::shared_ptr<Displays> makeX11Displays(std::shared_ptr<SharedConnection> shared) {
    auto connection = shared->current();
    if (!connection || !speaksMonitors(*connection)) {
        return nullptr;
    }
    return std::make_shared<X11Displays>(std::move(shared), std::move(connection));
}

}  // namespace vantrel::x11
