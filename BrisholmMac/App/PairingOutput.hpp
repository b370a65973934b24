#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// What the desktop host writes on standard output about pairing. The link holds the pairing key,
// so it is printed only where a person reads it (a terminal) or where it was asked for
// (--print-link, for scripts and tests). Started at log-in, standard output goes to the journal or
// ~/.xsession-errors, where a secret must never land: there one line says where the code is.
class PairingOutput {
public:
    // showLink: the link may be printed; terminal: standard output is a terminal (the link is
    // drawn as a QR code below it as well).
    PairingOutput(bool showLink, bool terminal) : showLink_(showLink), terminal_(terminal) {}

    // Standard output's lines for the link as it is now (none: no link yet). A link is printed
    // once, and again whenever it changes; the line without it only once.
    [[nodiscard]] std::vector<std::string> linesFor(const std::optional<std::string>& link);

    static constexpr const char* withheld =
        "pairing: the link holds the pairing key and is not printed here; scan the code in the Vantrel panel "
        "(tray icon), or start brisholm --print-link";

private:
    bool showLink_;
    bool terminal_;
    std::optional<std::string> printed_;
    bool toldWhere_ = false;
};

}  // namespace vantrel
