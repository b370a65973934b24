// The keep-awake hold against a stand-in logind (python3-dbusmock's logind template) on a bus of
// the test session: the idle-sleep inhibitor and the backend's own hold are taken with the hold and
// given back with it.
#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "ChildProcess.hpp"
#include "FakeDesktop.hpp"
#include "Platform/desktop/GioHandles.hpp"
#include "Platform/desktop/SessionKeepAwake.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using desktop::GObjectPtr;
using desktop::GVariantUnref;
using Inhibitor = std::tuple<std::string, std::string, std::string, std::string>;

class IdleInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* sessionBus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (sessionBus == nullptr || std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
            GTEST_SKIP() << "needs a session bus and python3-dbusmock (scripts/test-session.sh)";
        }
        // The stand-in plays the system bus's logind on the session's bus; the host reads the
        // system bus's address from the environment, before it first connects.
        setenv("DBUS_SYSTEM_BUS_ADDRESS", sessionBus, 1);
        logind_ = std::make_unique<testing::ChildProcess>(
            "/usr/bin/python3", std::vector<std::string>{"-m", "dbusmock", "--system", "--template", "logind"});
        bus_.reset(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
        ASSERT_TRUE(bus_);
        ASSERT_TRUE(testing::waitUntil([&] { return call("ListInhibitors") != nullptr; }, 20s))
            << "the stand-in logind did not come up: " << logind_->errorOutput();
    }

    std::unique_ptr<GVariant, GVariantUnref> call(const char* method) {
        return std::unique_ptr<GVariant, GVariantUnref>(g_dbus_connection_call_sync(
            bus_.get(), "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", method,
            nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr));
    }

    // What the stand-in has been asked to inhibit and still holds: (what, who, why, mode).
    std::vector<Inhibitor> inhibitors() {
        std::vector<Inhibitor> found;
        const auto reply = call("ListInhibitors");
        if (!reply) {
            return found;
        }
        GVariantIter* entries = nullptr;
        g_variant_get(reply.get(), "(a(ssssuu))", &entries);
        const gchar* what = nullptr;
        const gchar* who = nullptr;
        const gchar* why = nullptr;
        const gchar* mode = nullptr;
        guint32 uid = 0;
        guint32 pid = 0;
        while (g_variant_iter_next(entries, "(&s&s&s&suu)", &what, &who, &why, &mode, &uid, &pid)) {
            found.emplace_back(what, who, why, mode);
        }
        g_variant_iter_free(entries);
        return found;
    }

    std::unique_ptr<testing::ChildProcess> logind_;
    GObjectPtr<GDBusConnection> bus_;
};

// A laptop left alone while the phone watches does not suspend; it may again once the phone left.
TEST_F(IdleInhibitorTest, TheHoldKeepsTheMachineFromIdleSleepUntilReleased) {
    const auto backendHold = std::make_shared<testing::CountingKeepAwake>();
    const auto keepAwake = desktop::makeSessionKeepAwake(backendHold);
    keepAwake->hold("Telefon steuert diesen Mac");
    EXPECT_THAT(inhibitors(),
                ::testing::ElementsAre(Inhibitor{"idle", "Vantrel", "Telefon steuert diesen Mac", "block"}));
    keepAwake->hold("again");  // held already: no second inhibitor
    EXPECT_EQ(inhibitors().size(), 1u);
    EXPECT_EQ(backendHold->holds, 1);
    EXPECT_EQ(backendHold->lastReason, "Telefon steuert diesen Mac");
    keepAwake->release();
    EXPECT_TRUE(testing::waitUntil([&] { return inhibitors().empty(); })) << "the inhibitor is given back";
    keepAwake->release();  // released already
    EXPECT_EQ(backendHold->releases, 1);
}

}  // namespace
}  // namespace vantrel
