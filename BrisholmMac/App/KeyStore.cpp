#include "App/KeyStore.hpp"

#include <utility>

#include "Log/DiagnosticLog.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {

namespace {

PairingKey sessionOnly(Bytes key, CredentialStatus status, std::string reason) {
    diagnosticLog().warn("Running with a pairing key for this session only, the keyring cannot keep it: {}", reason);
    return {std::move(key), PairingKey::Origin::sessionOnly, status, std::move(reason)};
}

}  // namespace

KeyStore::KeyStore(std::shared_ptr<CredentialStore> store) : store_(std::move(store)) {}

CredentialName KeyStore::name() const {
    return {std::string(service), std::string(account)};
}

PairingKey KeyStore::load() {
    CredentialRead read = store_->read(name());
    if (read.status == CredentialStatus::locked && store_->unlock(name())) {
        read = store_->read(name());
    }
    if (read.status != CredentialStatus::ok) {
        return sessionOnly(PairingInfo::generateKey(), read.status, std::move(read.reason));
    }
    for (auto& secret : read.secrets) {
        if (secret.size() == PairingInfo::keyLength) {
            return {std::move(secret), PairingKey::Origin::stored, CredentialStatus::ok, {}};
        }
    }
    if (read.secrets.empty()) {
        diagnosticLog().info("No pairing key is stored yet; making one");
    } else {
        diagnosticLog().warn("The stored pairing key has {} bytes instead of {}; replacing it",
                             read.secrets.front().size(), PairingInfo::keyLength);
    }
    return keep(PairingInfo::generateKey());
}

PairingKey KeyStore::rotate() {
    return keep(PairingInfo::generateKey());
}

void KeyStore::withdrawUnlock() {
    store_->withdrawUnlock();
}

PairingKey KeyStore::keep(Bytes key) {
    CredentialWrite write = store_->replace(name(), std::string(label), key);
    if (write.status == CredentialStatus::locked && store_->unlock(name())) {
        write = store_->replace(name(), std::string(label), key);
    }
    if (write.status != CredentialStatus::ok) {
        return sessionOnly(std::move(key), write.status, std::move(write.reason));
    }
    diagnosticLog().info("Stored a new pairing key; phones paired before must pair again");
    return {std::move(key), PairingKey::Origin::created, CredentialStatus::ok, {}};
}

}  // namespace vantrel
