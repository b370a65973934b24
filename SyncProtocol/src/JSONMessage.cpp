#include "vantrel/JSONMessage.hpp"

#include <new>

#include "JsonCodec.hpp"

namespace vantrel::JSONMessage {

// The exceptions nlohmann can raise once a value has been parsed (type_error, out_of_range) and
// allocation failure stop here: callers of this namespace see only values.

template <typename Message>
Bytes encode(const Message& value) {
    try {
        const auto object = json::toJson(value);
        return object ? json::dump(*object) : Bytes{};
    } catch (const json::Json::exception&) {
        return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

template <typename Message>
std::optional<Message> decode(ByteView data) {
    try {
        const auto value = json::parse(data);
        if (!value) {
            return std::nullopt;
        }
        return json::fromJson(*value, json::Tag<Message>{});
    } catch (const json::Json::exception&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

#define VANTREL_JSON_MESSAGE(Type)                  \
    template Bytes encode<Type>(const Type& value); \
    template std::optional<Type> decode<Type>(ByteView data);

VANTREL_JSON_MESSAGE(Hello)
VANTREL_JSON_MESSAGE(DisplayInfo)
VANTREL_JSON_MESSAGE(Welcome)
VANTREL_JSON_MESSAGE(PointerPosition)
VANTREL_JSON_MESSAGE(SelectDisplay)
VANTREL_JSON_MESSAGE(AppEntry)
VANTREL_JSON_MESSAGE(AppList)
VANTREL_JSON_MESSAGE(OpenApp)
VANTREL_JSON_MESSAGE(InputEvent)

#undef VANTREL_JSON_MESSAGE

}  // namespace vantrel::JSONMessage
