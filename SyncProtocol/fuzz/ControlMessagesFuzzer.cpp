// Every input is offered to the decoder of each JSON control body. None may crash, leak or throw;
// and a value that decodes must encode to a body that decodes to the same value and encodes to
// the same bytes again, so the host never sends what a peer would read differently.
#include <cstdlib>

#include "vantrel/ControlMessages.hpp"
#include "vantrel/JSONMessage.hpp"

namespace {

template <typename Message>
void roundTrip(vantrel::ByteView data) {
    using namespace vantrel;
    const auto decoded = JSONMessage::decode<Message>(data);
    if (!decoded) {
        return;
    }
    const Bytes body = JSONMessage::encode(*decoded);
    const auto again = JSONMessage::decode<Message>(body);
    if (body.empty() || !again || !(*again == *decoded) || JSONMessage::encode(*again) != body) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    const ByteView body(data, size);
    roundTrip<Hello>(body);
    roundTrip<DisplayInfo>(body);
    roundTrip<Welcome>(body);
    roundTrip<PointerPosition>(body);
    roundTrip<SelectDisplay>(body);
    roundTrip<AppEntry>(body);
    roundTrip<AppList>(body);
    roundTrip<OpenApp>(body);
    return 0;
}
