#pragma once

// The JSON forms of the message bodies, shared by JSONMessage, the control messages and the input
// events. nlohmann/json does the parsing and writing; the type and range rules that phone clients
// rely on are enforced here on top of it, because nlohmann converts between number kinds freely.

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"
#include "vantrel/InputEvent.hpp"

namespace vantrel::json {

using Json = nlohmann::json;

template <typename T>
using Tag = std::type_identity<T>;

// The one JSON value of a body, or no value when the bytes are not JSON (invalid UTF-8 included).
// Never throws on malformed input.
[[nodiscard]] std::optional<Json> parse(ByteView body);

// Reads the fields of one JSON object under the strict rules. The first failing read is kept
// (with a reason, for the callers that log it); later reads on a failed reader are harmless and
// return defaults, so decoders read every field and check ok() once.
class ObjectReader {
public:
    explicit ObjectReader(const Json& value) : object_(value.is_object() ? &value : nullptr) {
        if (object_ == nullptr) {
            fail("expected a JSON object");
        }
    }

    [[nodiscard]] bool ok() const { return error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }

    // Only JSON integers (no fraction, no exponent: nlohmann reads 1.0 and 1e2 as floating
    // point) inside the range of Int.
    template <typename Int>
    Int integer(const char* key) {
        static_assert(std::is_integral_v<Int> && !std::is_same_v<Int, bool>);
        const Json* value = find(key);
        if (value != nullptr) {
            if (value->is_number_unsigned()) {
                const auto number = value->get<std::uint64_t>();
                if (number <= static_cast<std::uint64_t>(std::numeric_limits<Int>::max())) {
                    return static_cast<Int>(number);
                }
            } else if (value->is_number_integer()) {
                const auto number = value->get<std::int64_t>();
                if (std::in_range<Int>(number)) {
                    return static_cast<Int>(number);
                }
            }
        }
        failField(key, "an integer from " + std::to_string(std::numeric_limits<Int>::min()) + " to " +
                           std::to_string(std::numeric_limits<Int>::max()));
        return 0;
    }

    // Any JSON number, integral ones included. A literal too large for a double (1e400) is
    // refused: it would reach the host as infinity and could never be written back.
    double number(const char* key);
    bool boolean(const char* key);
    std::string string(const char* key);
    // The value under key, which may be missing or null only where the caller allows it.
    const Json* nullable(const char* key);
    // The array under key, or nullptr after failing.
    const Json* array(const char* key);

    void fail(std::string reason) {
        if (error_.empty()) {
            error_ = std::move(reason);
        }
    }

private:
    const Json* find(const char* key) const;
    void failField(const char* key, const std::string& expected);

    const Json* object_;
    std::string error_;
};

// Compact text of a value this library built. No value when a number is not finite (JSON has no
// spelling for it). Strings that are not valid UTF-8 (possible only in host-made values: every
// decoded string is valid) have their bad bytes replaced by U+FFFD rather than failing the body.
[[nodiscard]] Bytes dump(const Json& value);

// Per type: the JSON object of a value, and the value of a JSON object (no partial values).
// toJson gives no value only when the value cannot be written (a non-finite number, an icon too
// large to encode).
std::optional<Json> toJson(const Hello& value);
std::optional<Json> toJson(const DisplayInfo& value);
std::optional<Json> toJson(const Welcome& value);
std::optional<Json> toJson(const PointerPosition& value);
std::optional<Json> toJson(const SelectDisplay& value);
std::optional<Json> toJson(const AppEntry& value);
std::optional<Json> toJson(const AppList& value);
std::optional<Json> toJson(const OpenApp& value);
std::optional<Json> toJson(const InputEvent& value);

std::optional<Hello> fromJson(const Json& value, Tag<Hello>);
std::optional<DisplayInfo> fromJson(const Json& value, Tag<DisplayInfo>);
std::optional<Welcome> fromJson(const Json& value, Tag<Welcome>);
std::optional<PointerPosition> fromJson(const Json& value, Tag<PointerPosition>);
std::optional<SelectDisplay> fromJson(const Json& value, Tag<SelectDisplay>);
std::optional<AppEntry> fromJson(const Json& value, Tag<AppEntry>);
std::optional<AppList> fromJson(const Json& value, Tag<AppList>);
std::optional<OpenApp> fromJson(const Json& value, Tag<OpenApp>);
std::optional<InputEvent> fromJson(const Json& value, Tag<InputEvent>);

// Input events keep the reason a decode failed.
InputEventDecodeResult decodeInputEvent(const Json& value);

}  // namespace vantrel::json
