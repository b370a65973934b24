#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <string>

#include "App/KeyStore.hpp"
#include "SecretServiceStore.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

using Origin = PairingKey::Origin;

// The throw-away login keyring of scripts/test-session.sh, its password, and secret-tool as a
// reader and writer independent of the code under test.
constexpr const char* keyringPassword = "vantrel-test";
constexpr const char* loginCollection = "/org/freedesktop/secrets/collection/login";
constexpr const char* ourAttributes = " service Vantrel account pairing-key";

struct PipeClose {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

Bytes output(const std::string& command) {
    const std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    Bytes bytes;
    int byte = 0;
    while (pipe && (byte = std::fgetc(pipe.get())) != EOF) {
        bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return bytes;
}

void input(const std::string& command, const Bytes& bytes) {
    const std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "w"));
    std::fwrite(bytes.data(), 1, bytes.size(), pipe.get());
}

// The secret of the one item under our name, as secret-tool reads it.
Bytes storedSecret() {
    return output(std::string("secret-tool lookup") + ourAttributes);
}

int storedItems() {
    const Bytes listing = output(std::string("secret-tool search --all") + ourAttributes + " 2>/dev/null");
    const std::string text(listing.begin(), listing.end());
    int count = 0;
    for (auto at = text.find("\n["); at != std::string::npos; at = text.find("\n[", at + 1)) {
        ++count;
    }
    return count + (text.rfind('[', 0) == 0 ? 1 : 0);
}

void lockKeyring() {
    ASSERT_EQ(std::system((std::string("gdbus call --session --dest org.freedesktop.secrets --object-path "
                                       "/org/freedesktop/secrets --method org.freedesktop.Secret.Service.Lock \"['") +
                           loginCollection + "']\" >/dev/null")
                              .c_str()),
              0);
}

// Unlocks without a prompt through gnome-keyring's own interface for this: a plain (unencrypted)
// session carries the password, so both calls must share one connection.
void unlockKeyring() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    ASSERT_NE(bus, nullptr) << error->message;
    GVariant* opened = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "OpenSession",
        g_variant_new("(sv)", "plain", g_variant_new_string("")), G_VARIANT_TYPE("(vo)"), G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &error);
    ASSERT_NE(opened, nullptr) << error->message;
    GVariant* nothing = nullptr;
    const char* session = nullptr;
    g_variant_get(opened, "(v&o)", &nothing, &session);
    GVariant* secret = g_variant_new(
        "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, keyringPassword, std::strlen(keyringPassword), 1), "text/plain");
    GVariant* unlocked = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
        "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
        g_variant_new("(o@(oayays))", loginCollection, secret), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    EXPECT_NE(unlocked, nullptr) << error->message;
    if (unlocked != nullptr) {
        g_variant_unref(unlocked);
    }
    g_variant_unref(nothing);
    g_variant_unref(opened);
    g_object_unref(bus);
}

// Answers the keyring's unlock prompt on the test display as a user would, by keyboard.
std::future<int> answerPrompt(const std::string& keys) {
    return std::async(std::launch::async, [keys] {
        return std::system(("timeout 15 xdotool search --sync --onlyvisible --class gcr-prompter >/dev/null && " +
                            keys + " >/dev/null 2>&1")
                               .c_str());
    });
}

class KeyStoreKeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_TEST_SESSION") == nullptr) {
            GTEST_SKIP() << "needs the unlocked gnome-keyring of scripts/test-session.sh";
        }
        unlockKeyring();
        std::system((std::string("secret-tool clear") + ourAttributes).c_str());
    }
    void TearDown() override {
        if (!IsSkipped()) {
            unlockKeyring();
        }
    }

    static KeyStore keyStore(bool prompt) {
        return KeyStore(std::make_shared<SecretServiceStore>(
            SecretServiceStore::Options{.promptForUnlock = prompt, .unlockDeadline = std::chrono::seconds(20)}));
    }
};

TEST_F(KeyStoreKeyringTest, FirstStartStoresOneKeyThatLaterStartsLoad) {
    const PairingKey first = keyStore(false).load();
    EXPECT_EQ(first.origin, Origin::created);
    EXPECT_EQ(first.key.size(), PairingInfo::keyLength);
    EXPECT_EQ(storedSecret(), first.key);

    const PairingKey next = keyStore(false).load();
    EXPECT_EQ(next.origin, Origin::stored);
    EXPECT_EQ(next.key, first.key);
    EXPECT_EQ(storedItems(), 1);
}

TEST_F(KeyStoreKeyringTest, AShortItemIsReplacedAndRotationsLeaveOneItem) {
    input(std::string("secret-tool store --label=short") + ourAttributes, Bytes(16, 0xab));
    ASSERT_EQ(storedSecret(), Bytes(16, 0xab));
    KeyStore store = keyStore(false);
    const PairingKey replaced = store.load();
    EXPECT_EQ(replaced.origin, Origin::created);
    EXPECT_EQ(storedSecret(), replaced.key);
    EXPECT_EQ(storedItems(), 1);

    const PairingKey first = store.rotate();
    const PairingKey second = store.rotate();
    EXPECT_EQ(second.origin, Origin::created);
    EXPECT_NE(second.key, first.key);
    EXPECT_EQ(storedSecret(), second.key);
    EXPECT_EQ(storedItems(), 1);
}

TEST_F(KeyStoreKeyringTest, ALockedKeyringWithoutAPromptKeepsTheStoredKey) {
    const Bytes stored = keyStore(false).load().key;
    lockKeyring();
    KeyStore store = keyStore(false);
    const PairingKey loaded = store.load();
    EXPECT_EQ(loaded.origin, Origin::sessionOnly);
    EXPECT_EQ(loaded.store, CredentialStatus::locked);
    EXPECT_NE(loaded.key, stored);
    EXPECT_EQ(store.rotate().origin, Origin::sessionOnly);

    unlockKeyring();
    EXPECT_EQ(storedSecret(), stored);
    EXPECT_EQ(storedItems(), 1);
}

// The prompt path end to end: gnome-keyring shows its prompt on the test display; the user's
// password brings back the stored key, a dismissed prompt leaves it alone.
TEST_F(KeyStoreKeyringTest, TheUnlockPromptDecides) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "the unlock prompt needs the test session's display";
    }
    const Bytes stored = keyStore(false).load().key;

    lockKeyring();
    auto dismissed = answerPrompt("xdotool key Escape");
    const PairingKey declined = keyStore(true).load();
    ASSERT_EQ(dismissed.get(), 0);
    EXPECT_EQ(declined.origin, Origin::sessionOnly);
    EXPECT_EQ(declined.store, CredentialStatus::locked);

    auto answered = answerPrompt(std::string("xdotool type --delay 5 ") + keyringPassword + " && xdotool key Return");
    const PairingKey unlocked = keyStore(true).load();
    ASSERT_EQ(answered.get(), 0);
    EXPECT_EQ(unlocked.origin, Origin::stored);
    EXPECT_EQ(unlocked.key, stored);
    EXPECT_EQ(storedItems(), 1);
}

}  // namespace
}  // namespace vantrel
