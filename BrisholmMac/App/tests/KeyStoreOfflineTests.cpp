#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "App/KeyStore.hpp"

namespace vantrel {
namespace {

// No secret service at all (a console, a container): the host must start at once with a key of
// its own, printing nothing. Alone in its program: the bus connection is made once per process.
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
    }
    EXPECT_LT(elapsed, std::chrono::seconds(2));  // a blocked D-Bus call would take 25 s
}

}  // namespace
}  // namespace vantrel
