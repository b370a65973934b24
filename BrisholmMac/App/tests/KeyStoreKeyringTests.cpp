#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>

#include "App/KeyStore.hpp"
#include "SecretServiceStore.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using Origin = PairingKey::Origin;

// The throw-away login keyring of scripts/test-session.sh, read and written with secret-tool,
// independently of the code under test.
const std::string ourItem = " service Vantrel account pairing-key";

Bytes output(const std::string& command) {
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    Bytes bytes;
    for (int byte = 0; pipe && (byte = std::fgetc(pipe.get())) != EOF;) {
        bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return bytes;
}

Bytes storedSecret() {
    return output("secret-tool lookup" + ourItem);
}

int storedItems() {  // secret-tool opens each item with a line "[/<number>]"
    const Bytes listing = output("secret-tool search --all" + ourItem + " 2>/dev/null");
    const std::string text = "\n" + std::string(listing.begin(), listing.end());
    int count = 0;
    for (auto at = text.find("\n[/"); at != std::string::npos; at = text.find("\n[/", at + 1)) {
        ++count;
    }
    return count;
}

KeyStore keyStore(bool prompt) {
    return KeyStore(std::make_shared<SecretServiceStore>(
        SecretServiceStore::Options{.promptForUnlock = prompt, .unlockDeadline = std::chrono::seconds(20)}));
}

class KeyStoreKeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_TEST_SESSION") == nullptr || std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs the gnome-keyring and display of scripts/test-session.sh";
        }
        std::system(("secret-tool clear" + ourItem + " 2>/dev/null").c_str());  // fails when nothing is stored
    }
};

TEST_F(KeyStoreKeyringTest, KeepsOneItemThatLaterStartsLoadAndReplacesAShortOne) {
    const PairingKey first = keyStore(false).load();
    EXPECT_EQ(first.origin, Origin::created);
    EXPECT_EQ(storedSecret(), first.key);
    const PairingKey next = keyStore(false).load();
    EXPECT_EQ(next.origin, Origin::stored);
    EXPECT_EQ(next.key, first.key);

    KeyStore store = keyStore(false);
    const PairingKey rotated = store.rotate();
    const PairingKey again = store.rotate();
    EXPECT_NE(again.key, rotated.key);
    EXPECT_EQ(storedSecret(), again.key);
    EXPECT_EQ(storedItems(), 1);

    // Another tool's 16-byte item, without our schema's name among its attributes.
    ASSERT_EQ(std::system(("secret-tool clear" + ourItem +
                           " && printf 0123456789abcdef | secret-tool store "
                           "--label=short" +
                           ourItem)
                              .c_str()),
              0);
    const PairingKey replaced = store.load();
    EXPECT_EQ(replaced.origin, Origin::created);
    EXPECT_EQ(replaced.key.size(), PairingInfo::keyLength);
    EXPECT_EQ(storedSecret(), replaced.key);
    EXPECT_EQ(storedItems(), 1);
}

// Locked, the key store neither reads nor writes: without a prompt, or when the user dismisses
// it, the host gets a key for this session only; the user's password at gnome-keyring's own
// prompt on the test display brings back the key stored before.
TEST_F(KeyStoreKeyringTest, ALockedKeyringIsNeverReplacedAndTheUnlockPromptDecides) {
    const Bytes stored = keyStore(false).load().key;
    ASSERT_EQ(std::system("gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
                          "--method org.freedesktop.Secret.Service.Lock "
                          "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null"),
              0);
    const auto answerPrompt = [](const std::string& keys) {
        return std::async(std::launch::async, [keys] {
            return std::system(("timeout 15 xdotool search --sync --onlyvisible --class gcr-prompter >/dev/null && " +
                                keys + " >/dev/null 2>&1")
                                   .c_str());
        });
    };

    KeyStore quiet = keyStore(false);
    const PairingKey loaded = quiet.load();
    EXPECT_EQ(loaded.origin, Origin::sessionOnly);
    EXPECT_EQ(loaded.store, CredentialStatus::locked);
    EXPECT_NE(loaded.key, stored);
    EXPECT_EQ(quiet.rotate().origin, Origin::sessionOnly);

    auto dismissed = answerPrompt("xdotool key Escape");
    EXPECT_EQ(keyStore(true).load().origin, Origin::sessionOnly);
    EXPECT_EQ(dismissed.get(), 0);
    // Typing must not reach the closing prompt instead of the next one.
    EXPECT_TRUE(testing::waitUntil(
        [] { return std::system("xdotool search --onlyvisible --class gcr-prompter >/dev/null") != 0; }));

    auto answered = answerPrompt("xdotool type --delay 5 vantrel-test && xdotool key Return");
    const PairingKey unlocked = keyStore(true).load();
    EXPECT_EQ(answered.get(), 0);
    EXPECT_EQ(unlocked.origin, Origin::stored);
    EXPECT_EQ(unlocked.key, stored);
    EXPECT_EQ(storedItems(), 1);
}

// Quitting while gnome-keyring's prompt waits: the waiting call returns at once instead of holding
// the quit until the user answers or the deadline passes, and the keyring lives on (taking the
// prompt back would crash it); the prompt is left to the user.
TEST_F(KeyStoreKeyringTest, AWithdrawnPromptEndsTheWaitingCall) {
    (void)keyStore(false).load();
    ASSERT_EQ(std::system("gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
                          "--method org.freedesktop.Secret.Service.Lock "
                          "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null"),
              0);
    const auto promptShows = [] {
        return std::system("xdotool search --onlyvisible --class gcr-prompter >/dev/null 2>&1") == 0;
    };
    KeyStore store = keyStore(true);
    auto loading = std::async(std::launch::async, [&store] { return store.load(); });
    ASSERT_TRUE(testing::waitUntil(promptShows, std::chrono::seconds(15)));
    store.withdrawUnlock();
    ASSERT_EQ(loading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(loading.get().origin, Origin::sessionOnly);
    EXPECT_EQ(store.rotate().origin, Origin::sessionOnly) << "asks nobody once withdrawn";

    // The user answers the prompt left open, which unlocks the keyring for the tests that follow.
    ASSERT_EQ(std::system("xdotool type --delay 5 vantrel-test && xdotool key Return"), 0);
    EXPECT_TRUE(testing::waitUntil([] { return keyStore(false).load().origin == Origin::stored; }));
}

}  // namespace
}  // namespace vantrel
