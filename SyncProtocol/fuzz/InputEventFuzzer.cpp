// Input bodies come from the phone on every touch: decoding must never crash, leak or throw, the
// reason-giving decoder must agree with JSONMessage, and a decoded event must re-encode to a body
// that decodes to an event with the same encoding.
#include <cstdlib>

#include "vantrel/InputEvent.hpp"
#include "vantrel/JSONMessage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    const ByteView body(data, size);
    const InputEventDecodeResult result = decodeInputEvent(body);
    const auto viaMessage = JSONMessage::decode<InputEvent>(body);
    if (result.event.has_value() != viaMessage.has_value() || result.event.has_value() != result.error.empty()) {
        std::abort();
    }
    if (!result.event) {
        return 0;
    }
    (void)describe(*result.event);
    const Bytes encoded = JSONMessage::encode(*result.event);
    const auto again = JSONMessage::decode<InputEvent>(encoded);
    if (encoded.empty() || !again || again->index() != result.event->index() ||
        JSONMessage::encode(*again) != encoded) {
        std::abort();
    }
    return 0;
}
