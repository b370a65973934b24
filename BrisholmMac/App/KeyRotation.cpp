#include "App/KeyRotation.hpp"

namespace vantrel {

std::optional<std::string> rotationRefusal(const PairingKey& inForce, const PairingKey& fresh) {
    if (fresh.origin != PairingKey::Origin::sessionOnly || inForce.origin == PairingKey::Origin::sessionOnly) {
        return std::nullopt;
    }
    if (fresh.store == CredentialStatus::locked) {
        return "Neuer Schlüssel nicht gespeichert: Der Schlüsselbund ist gesperrt. Der bisherige Schlüssel gilt "
               "weiter.";
    }
    return "Neuer Schlüssel nicht gespeichert: Der Schlüsselbund ist nicht erreichbar. Der bisherige Schlüssel "
           "gilt weiter.";
}

}  // namespace vantrel
