#pragma once

#include <optional>
#include <string>

#include "App/KeyStore.hpp"

namespace vantrel {

// Whether a fresh key from KeyStore::rotate() may replace the key in force; none when it may,
// else the panel's text saying why not.
//
// A fresh key the store could not keep would be undone by the next start, which loads the stored
// key again and lets back in the phones the user meant to lock out. So while the key in force is
// the stored one, such a key is refused: the key in force stays, and the user is told plainly, and
// can unlock the keyring and try again. A key in force for this session only ends with it anyway,
// so a fresh one of the same kind replaces it.
[[nodiscard]] std::optional<std::string> rotationRefusal(const PairingKey& inForce, const PairingKey& fresh);

}  // namespace vantrel
