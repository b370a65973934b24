#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <functional>
#include <thread>

#include "AvahiAdvertiser.hpp"
#include "AvahiBrowse.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::browse;

bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(200ms);
    }
    return condition();
}

bool publishedOn(const std::string& port) {
    for (const auto& service : browse("_vantrel._tcp")) {
        if (service.port == port) {
            return true;
        }
    }
    return false;
}

class AvahiAdvertiserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::avahiDaemonRunning()) {
            GTEST_SKIP() << "no avahi-daemon in a private test session (VANTREL_TEST_AVAHI=1); run inside "
                            "scripts/test-session.sh";
        }
    }
};

TEST_F(AvahiAdvertiserTest, PublishesUnderTheHostNameWithoutTxtMovesAndWithdraws) {
    AvahiAdvertiser advertiser;
    advertiser.advertise("_vantrel._tcp", 47901);
    ASSERT_TRUE(eventually([] { return publishedOn("47901"); }));
    const auto services = browse("_vantrel._tcp");
    ASSERT_FALSE(services.empty());
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(services.front().instance.rfind(host, 0), 0u) << services.front().instance;
    EXPECT_EQ(services.front().txt, "");

    // A new port replaces the old announcement.
    advertiser.advertise("_vantrel._tcp", 47902);
    EXPECT_TRUE(eventually([] { return publishedOn("47902") && !publishedOn("47901"); }));

    advertiser.withdraw();
    EXPECT_TRUE(eventually([] { return !publishedOn("47902"); }));
}

TEST_F(AvahiAdvertiserTest, DestroyingTheAdvertiserWithdrawsTheService) {
    {
        AvahiAdvertiser advertiser;
        advertiser.advertise("_vantrel._tcp", 47903);
        ASSERT_TRUE(eventually([] { return publishedOn("47903"); }));
    }
    EXPECT_TRUE(eventually([] { return !publishedOn("47903"); }));
}

// The daemon going away and coming back: the advertiser reconnects on its own and publishes
// again. Only where the run owns its daemon (see avahiDaemonRestartable).
TEST_F(AvahiAdvertiserTest, PublishesAgainAfterTheDaemonRestarts) {
    if (!testing::avahiDaemonRestartable()) {
        GTEST_SKIP() << "the daemon is shared with other tests; set VANTREL_TEST_AVAHI_RESTARTABLE=1 in a "
                        "namespace of your own";
    }
    AvahiAdvertiser advertiser;
    advertiser.advertise("_vantrel._tcp", 47904);
    ASSERT_TRUE(eventually([] { return publishedOn("47904"); }));
    ASSERT_EQ(std::system("avahi-daemon -k >/dev/null 2>&1"), 0);
    ASSERT_TRUE(eventually([] { return !testing::avahiDaemonRunning(); }));
    ASSERT_EQ(std::system("avahi-daemon --no-drop-root --no-chroot --no-rlimits -D >/dev/null 2>&1"), 0);
    EXPECT_TRUE(eventually([] { return publishedOn("47904"); }, 30s));
}

}  // namespace
}  // namespace vantrel
