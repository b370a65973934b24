#include "App/PairingOutput.hpp"

#include "App/TerminalCode.hpp"

namespace vantrel {

std::vector<std::string> PairingOutput::linesFor(const std::optional<std::string>& link) {
    if (!link) {
        return {};
    }
    if (!showLink_) {
        if (toldWhere_) {
            return {};
        }
        toldWhere_ = true;
        return {withheld};
    }
    if (link == printed_) {
        return {};
    }
    printed_ = link;
    std::vector<std::string> lines{"pairing: " + *link};
    if (terminal_) {
        if (auto code = terminalQRCode(*link); !code.empty()) {
            lines.push_back(std::move(code));
        }
    }
    return lines;
}

}  // namespace vantrel
