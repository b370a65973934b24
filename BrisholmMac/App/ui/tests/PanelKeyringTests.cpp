// The panel over the session's real keyring (the gnome-keyring of scripts/test-session.sh, whose
// password is "vantrel-test"), across a restart of the host.
#include <gtest/gtest.h>

#include <QLabel>

#include <cstdlib>
#include <memory>
#include <string>

#include "PanelHarness.hpp"
#include "SecretServiceStore.hpp"
#include "UiTesting.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;

int run(const std::string& command) {
    return std::system(command.c_str());
}

// The panel's world over the session's keyring, which may ask the user to unlock it.
PanelWorld::Config onKeyring(bool prompt) {
    PanelWorld::Config config;
    config.credentials = std::make_shared<SecretServiceStore>(
        SecretServiceStore::Options{.promptForUnlock = prompt, .unlockDeadline = 30s});
    return config;
}

bool promptShows() {
    return run("xdotool search --onlyvisible --class gcr-prompter >/dev/null 2>&1") == 0;
}

class PanelKeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_TEST_SESSION") == nullptr || std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs the gnome-keyring and display of scripts/test-session.sh";
        }
        run("secret-tool clear service Vantrel account pairing-key 2>/dev/null");  // fails when none is stored
    }
};

// The user asks for a new key while the keyring is locked: the panel says it was not stored and
// the code stays; the next start (its unlock prompt over a host that shows it is starting) runs
// with exactly the key the panel showed, so no phone regains access the user took away.
TEST_F(PanelKeyringTest, AKeyTheLockedKeyringRefusedIsNeverInForce) {
    Bytes inForce;
    {
        PanelWorld world(onKeyring(false));
        world.app().show();
        ASSERT_TRUE(waitFor([&] { return world.model().port().has_value(); }));
        ASSERT_EQ(world.model().pairingKey().origin, PairingKey::Origin::created) << "the keyring starts unlocked";
        world.click("pairingToggle");
        const auto link = world.model().pairingURL();
        ASSERT_TRUE(link);

        ASSERT_EQ(run("gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
                      "--method org.freedesktop.Secret.Service.Lock "
                      "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null"),
                  0);
        world.click("Schlüssel erneuern");
        ASSERT_TRUE(waitFor([&] { return world.shows("keyError"); }));
        EXPECT_EQ(world.find<QLabel>("keyError")->text(),
                  "Neuer Schlüssel nicht gespeichert: Der Schlüsselbund ist gesperrt. Der bisherige Schlüssel gilt "
                  "weiter.");
        EXPECT_EQ(scanQRCode(world.screenshot()), link) << "the code on the screen is still the one in force";
        inForce = world.model().pairingKey().key;
    }

    PanelWorld world(onKeyring(true));
    world.app().show();
    ASSERT_TRUE(waitFor(promptShows, 15s)) << "the keyring asks to be unlocked";
    EXPECT_EQ(world.status(), "Startet…");
    world.click("pairingToggle");
    EXPECT_FALSE(world.shows("Der Schlüsselbund ist gesperrt oder fehlt: Dieser Schlüssel gilt nur bis zum Beenden."))
        << "no key yet, of any kind";
    EXPECT_FALSE(world.screenshot().isNull()) << "the panel is drawn meanwhile";
    ASSERT_EQ(run("xdotool type --delay 5 vantrel-test && xdotool key Return"), 0);
    ASSERT_TRUE(waitFor([&] { return world.model().port().has_value(); }, 20s));
    EXPECT_EQ(world.model().pairingKey().origin, PairingKey::Origin::stored);
    EXPECT_EQ(world.model().pairingKey().key, inForce);
}

}  // namespace
}  // namespace vantrel::testing
