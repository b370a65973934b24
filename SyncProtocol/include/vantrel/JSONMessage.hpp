#pragma once

#include <optional>

#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"
#include "vantrel/InputEvent.hpp"

namespace vantrel::JSONMessage {

// Turns a message value into its compact JSON body. Never throws: a value that cannot be encoded
// (a non-finite number) gives an empty body, which every receiver then fails to decode. Bytes of
// a string that are not UTF-8 (only host-made strings can hold them: names from the system) are
// replaced by U+FFFD, so one odd display or application name does not silence the whole message.
//
// Defined for Hello, DisplayInfo, Welcome, PointerPosition, SelectDisplay, AppEntry, AppList,
// OpenApp and InputEvent.
template <typename Message>
[[nodiscard]] Bytes encode(const Message& value);

// Reads a body back. No value when the bytes are not one JSON object of the type's form: a
// missing key (only AppEntry::icon may be missing or null), a value of the wrong JSON type, an
// integer with a fraction or outside its field's range, or an icon that is not standard Base64.
// An integer field takes only a JSON integer: 1.0 and 1e0 are refused like 1.5 (peers write
// integers without a fraction). A floating-point field takes any number, 3 included, but not one
// too large for a double (1e400), which could never be written back. Unknown keys are ignored;
// of duplicate keys the last counts. Never throws, never returns a partial value.
template <typename Message>
[[nodiscard]] std::optional<Message> decode(ByteView data);

// The message types above are the only ones: both templates are compiled once, in the library.
#define VANTREL_DECLARE_JSON_MESSAGE(Type)                 \
    extern template Bytes encode<Type>(const Type& value); \
    extern template std::optional<Type> decode<Type>(ByteView data);
VANTREL_DECLARE_JSON_MESSAGE(Hello)
VANTREL_DECLARE_JSON_MESSAGE(DisplayInfo)
VANTREL_DECLARE_JSON_MESSAGE(Welcome)
VANTREL_DECLARE_JSON_MESSAGE(PointerPosition)
VANTREL_DECLARE_JSON_MESSAGE(SelectDisplay)
VANTREL_DECLARE_JSON_MESSAGE(AppEntry)
VANTREL_DECLARE_JSON_MESSAGE(AppList)
VANTREL_DECLARE_JSON_MESSAGE(OpenApp)
VANTREL_DECLARE_JSON_MESSAGE(InputEvent)
#undef VANTREL_DECLARE_JSON_MESSAGE

}  // namespace vantrel::JSONMessage
