#pragma once

#include <optional>
#include <string>

#include "vantrel/ControlMessages.hpp"

namespace vantrel {

// The applications the phone is offered, and what asking to open one does. Called on the main
// queue only (the desktop catalog draws icons with the GUI toolkit).
class Applications {
public:
    virtual ~Applications() = default;

    // The list to offer now.
    [[nodiscard]] virtual AppList current() = 0;

    // The phone asked to open id; offered is the list it was last sent, the only ones it may open.
    virtual void open(const std::string& id, const std::optional<AppList>& offered) = 0;
};

}  // namespace vantrel
