#include <gtest/gtest.h>

#include <memory>

#include "App/KeyStore.hpp"
#include "Platform/FakeCredentialStore.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

using Origin = PairingKey::Origin;
using testing::FakeCredentialStore;
using Items = std::vector<Bytes>;

const Bytes storedKey(PairingInfo::keyLength, 0x5a);

struct KeyStoreTest : ::testing::Test {
    std::shared_ptr<FakeCredentialStore> store = std::make_shared<FakeCredentialStore>();
    KeyStore keyStore{store};
};

TEST_F(KeyStoreTest, StartUpKeepsAUsableStoredKeyAndReplacesOnlyAMissingOrShortOne) {
    const PairingKey first = keyStore.load();
    EXPECT_EQ(first.origin, Origin::created);
    EXPECT_EQ(first.key.size(), PairingInfo::keyLength);
    EXPECT_EQ(store->items, Items{first.key});

    const PairingKey again = keyStore.load();
    EXPECT_EQ(again.origin, Origin::stored);
    EXPECT_EQ(again.key, first.key);
    EXPECT_EQ(store->replacements, 1);

    store->items = {Bytes(16, 1)};
    const PairingKey replaced = keyStore.load();
    EXPECT_EQ(replaced.origin, Origin::created);
    EXPECT_EQ(store->items, Items{replaced.key});

    // Two items under the name (another tool filed one): the usable key wins and nothing is written.
    store->items = {Bytes(16, 1), storedKey};
    store->replacements = 0;
    EXPECT_EQ(keyStore.load().key, storedKey);
    EXPECT_EQ(store->replacements, 0);
}

TEST_F(KeyStoreTest, ALockedKeyringIsUnlockedByTheUserOrLeftAsItIs) {
    store->items = {storedKey};
    store->state = CredentialStatus::locked;

    const PairingKey declined = keyStore.load();
    EXPECT_EQ(declined.origin, Origin::sessionOnly);
    EXPECT_EQ(declined.store, CredentialStatus::locked);
    EXPECT_EQ(declined.key.size(), PairingInfo::keyLength);
    EXPECT_NE(declined.key, storedKey);
    EXPECT_EQ(keyStore.rotate().origin, Origin::sessionOnly);
    EXPECT_EQ(store->unlockRequests, 2);
    EXPECT_EQ(store->items, Items{storedKey});

    store->userUnlocks = true;
    const PairingKey unlocked = keyStore.load();
    EXPECT_EQ(unlocked.origin, Origin::stored);
    EXPECT_EQ(unlocked.key, storedKey);

    // A rotation asked for while locked goes ahead once the user unlocks.
    store->state = CredentialStatus::locked;
    const PairingKey rotated = keyStore.rotate();
    EXPECT_EQ(rotated.origin, Origin::created);
    EXPECT_EQ(store->items, Items{rotated.key});
}

TEST_F(KeyStoreTest, WithoutAWorkingStoreTheKeyLastsForThisSessionOnly) {
    store->state = CredentialStatus::unavailable;
    const PairingKey loaded = keyStore.load();
    EXPECT_EQ(loaded.origin, Origin::sessionOnly);
    EXPECT_EQ(loaded.store, CredentialStatus::unavailable);
    EXPECT_EQ(loaded.reason, "fake store");
    EXPECT_EQ(store->unlockRequests, 0);  // no prompt without a store to unlock

    // Readable but refusing to write: the fresh key is still handed out, and said to be unsaved.
    store->state = CredentialStatus::ok;
    store->failWrites = true;
    const PairingKey unsaved = keyStore.load();
    EXPECT_EQ(unsaved.origin, Origin::sessionOnly);
    EXPECT_EQ(unsaved.key.size(), PairingInfo::keyLength);
    EXPECT_TRUE(store->items.empty());
}

}  // namespace
}  // namespace vantrel
