// GNOME's keep-awake against a stand-in session manager (python3-dbusmock, with Inhibit and
// Uninhibit added) on the test session's bus: one inhibitor of idling and suspending while held,
// given back with its cookie.
#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Backends/gnome/DBusCall.hpp"
#include "Backends/gnome/SessionManagerHold.hpp"
#include "ChildProcess.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::gnome {
namespace {

using namespace std::chrono_literals;
constexpr const char* service = "org.gnome.SessionManager";
constexpr const char* path = "/org/gnome/SessionManager";
constexpr const char* mockInterface = "org.freedesktop.DBus.Mock";

class SessionManagerHoldTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr ||
            std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
            GTEST_SKIP() << "needs a session bus and python3-dbusmock (scripts/test-session.sh)";
        }
        manager_ = std::make_unique<testing::ChildProcess>(
            "/usr/bin/python3", std::vector<std::string>{"-m", "dbusmock", service, path, service});
        bus_ = sessionBus();
        ASSERT_TRUE(bus_);
        ASSERT_TRUE(testing::waitUntil([&] { return nameHasOwner(bus_.get(), service); }, 20s))
            << "the stand-in session manager did not come up: " << manager_->errorOutput();
        mock("AddMethod", g_variant_new("(sssss)", "", "Inhibit", "susu", "u", "ret = 41"));
        mock("AddMethod", g_variant_new("(sssss)", "", "Uninhibit", "u", "", ""));
    }

    GVariantPtr mock(const char* method, GVariant* args) {
        std::string error;
        auto reply = callSync(bus_.get(), service, path, mockInterface, method, args, nullptr, error);
        EXPECT_TRUE(reply) << method << ": " << error;
        return reply;
    }

    // The arguments of each call of method the stand-in received, printed as GVariant text.
    std::vector<std::string> calls(const char* method) {
        std::vector<std::string> found;
        const auto reply = mock("GetMethodCalls", g_variant_new("(s)", method));
        if (!reply) {
            return found;
        }
        GVariantIter* entries = nullptr;
        g_variant_get(reply.get(), "(a(tav))", &entries);
        guint64 when = 0;
        GVariantIter* args = nullptr;
        while (g_variant_iter_next(entries, "(tav)", &when, &args)) {
            std::string printed;
            GVariant* arg = nullptr;
            while (g_variant_iter_next(args, "v", &arg)) {
                gchar* text = g_variant_print(arg, FALSE);
                printed += (printed.empty() ? "" : ", ") + std::string(text);
                g_free(text);
                g_variant_unref(arg);
            }
            g_variant_iter_free(args);
            found.push_back(printed);
        }
        g_variant_iter_free(entries);
        return found;
    }

    std::unique_ptr<testing::ChildProcess> manager_;
    GDBusConnectionPtr bus_;
};

// While a phone watches, the session neither goes idle (blank, lock) nor suspends; once it left,
// it may again. A second hold or release changes nothing.
TEST_F(SessionManagerHoldTest, InhibitsIdlingAndSuspendingWhileHeldAndGivesTheCookieBack) {
    const auto hold = makeSessionManagerHold();
    hold->hold("Ein Telefon sieht zu");
    hold->hold("again");
    EXPECT_THAT(calls("Inhibit"), ::testing::ElementsAre("'brisholm', 0, 'Ein Telefon sieht zu', 12"));
    EXPECT_TRUE(calls("Uninhibit").empty());
    hold->release();
    hold->release();
    EXPECT_THAT(calls("Uninhibit"), ::testing::ElementsAre("41"));
}

}  // namespace
}  // namespace vantrel::gnome
