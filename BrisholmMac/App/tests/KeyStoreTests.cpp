#include <gtest/gtest.h>

#include <memory>

#include "App/KeyRotation.hpp"
#include "App/KeyStore.hpp"
#include "Platform/FakeCredentialStore.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

using Origin = PairingKey::Origin;
using Items = std::vector<Bytes>;

const Bytes storedKey(PairingInfo::keyLength, 0x5a);

struct KeyStoreTest : ::testing::Test {
    std::shared_ptr<testing::FakeCredentialStore> store = std::make_shared<testing::FakeCredentialStore>();
    KeyStore keyStore{store};
};

// The locked keyring's everyday paths run against gnome-keyring (KeyStoreKeyringTests); these are
// the cases that are costly to stage there.
TEST_F(KeyStoreTest, TheUsableKeyWinsAndARotationWaitsForTheUnlock) {
    store->items = {Bytes(16, 1), storedKey};  // another tool's item beside ours
    EXPECT_EQ(keyStore.load().key, storedKey);
    EXPECT_EQ(store->replacements, 0);

    store->state = CredentialStatus::locked;
    store->userUnlocks = true;
    const PairingKey rotated = keyStore.rotate();
    EXPECT_EQ(rotated.origin, Origin::created);
    EXPECT_EQ(store->items, Items{rotated.key});
    EXPECT_EQ(store->unlockRequests, 1);
}

TEST_F(KeyStoreTest, WithoutAWorkingStoreTheKeyLastsForThisSessionOnly) {
    store->state = CredentialStatus::unavailable;
    const PairingKey loaded = keyStore.load();
    EXPECT_EQ(loaded.origin, Origin::sessionOnly);
    EXPECT_EQ(loaded.store, CredentialStatus::unavailable);
    EXPECT_EQ(loaded.reason, "fake store");
    EXPECT_EQ(store->unlockRequests, 0);

    // Readable but refusing to write: the fresh key is still handed out, and said to be unsaved.
    store->state = CredentialStatus::ok;
    store->failWrites = true;
    const PairingKey unsaved = keyStore.load();
    EXPECT_EQ(unsaved.origin, Origin::sessionOnly);
    EXPECT_EQ(unsaved.key.size(), PairingInfo::keyLength);
}

// A fresh key that would not outlive a restart never replaces the stored key in force: the next
// start would load the stored key again and let back in the phones the user meant to lock out.
TEST(KeyRotationTest, AFreshKeyTheKeyringCannotKeepReplacesOnlyAKeyAsShortLived) {
    const PairingKey stored{storedKey, Origin::stored, CredentialStatus::ok, {}};
    const PairingKey created{storedKey, Origin::created, CredentialStatus::ok, {}};
    const PairingKey lockedOut{Bytes(PairingInfo::keyLength, 1), Origin::sessionOnly, CredentialStatus::locked, "x"};
    const PairingKey noKeyring{Bytes(PairingInfo::keyLength, 2), Origin::sessionOnly, CredentialStatus::unavailable,
                               "x"};
    const PairingKey kept{Bytes(PairingInfo::keyLength, 3), Origin::created, CredentialStatus::ok, {}};

    EXPECT_EQ(rotationRefusal(stored, lockedOut),
              "Neuer Schlüssel nicht gespeichert: Der Schlüsselbund ist gesperrt. Der bisherige Schlüssel gilt "
              "weiter.");
    EXPECT_EQ(rotationRefusal(created, noKeyring),
              "Neuer Schlüssel nicht gespeichert: Der Schlüsselbund ist nicht erreichbar. Der bisherige Schlüssel "
              "gilt weiter.");
    EXPECT_EQ(rotationRefusal(stored, kept), std::nullopt);
    EXPECT_EQ(rotationRefusal(lockedOut, noKeyring), std::nullopt) << "both end with this run";
    EXPECT_EQ(rotationRefusal(lockedOut, kept), std::nullopt);
}

}  // namespace
}  // namespace vantrel
