#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "App/KeyStore.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

// A session without a secret service (a bare console, a container): the host must start at once
// with a key of its own, without hanging in a D-Bus timeout and without printing anything. The
// only test of its program, because the session bus connection is made once per process.
TEST(KeyStoreOfflineTest, RunsAtOnceWithASessionKeyAndPrintsNothing) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vantrel-test-bus", 1);
    unsetenv("DISPLAY");  // or D-Bus would try to start a bus for the X session

    ::testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    KeyStore keyStore(CredentialStore::create());
    const PairingKey loaded = keyStore.load();
    const PairingKey rotated = keyStore.rotate();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    for (const PairingKey& key : {loaded, rotated}) {
        EXPECT_EQ(key.origin, PairingKey::Origin::sessionOnly);
        EXPECT_EQ(key.store, CredentialStatus::unavailable);
        EXPECT_EQ(key.key.size(), PairingInfo::keyLength);
        EXPECT_NE(key.reason, "");
    }
    EXPECT_NE(loaded.key, rotated.key);
    // Far below the 25 s a blocked D-Bus call would take.
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    RecordProperty("elapsed_us",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
}

}  // namespace
}  // namespace vantrel
