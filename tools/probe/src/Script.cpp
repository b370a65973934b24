#include "Script.hpp"

#include <nlohmann/json.hpp>
#include <optional>

#include "vantrel/ControlMessages.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/JSONMessage.hpp"

namespace vantrel::probe {
namespace {

using nlohmann::json;

constexpr std::int64_t maxDelayMillis = 3'600'000;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The body of one message key, or an error text. JSON bodies go through the protocol decoder
// and back out through its encoder: what reaches the host is exactly what a phone would send.
std::variant<Bytes, std::string> bodyFor(MessageType type, const json& value) {
    switch (type) {
        case MessageType::input: {
            const auto decoded = decodeInputEvent(bytesOf(value.dump()));
            if (!decoded.event) {
                return "not an input event: " + decoded.error;
            }
            return JSONMessage::encode(*decoded.event);
        }
        case MessageType::selectDisplay: {
            const auto decoded = JSONMessage::decode<SelectDisplay>(bytesOf(value.dump()));
            if (!decoded) {
                return std::string("selectDisplay needs {\"id\": display number}");
            }
            return JSONMessage::encode(*decoded);
        }
        case MessageType::openApp: {
            const auto decoded = JSONMessage::decode<OpenApp>(bytesOf(value.dump()));
            if (!decoded) {
                return std::string("openApp needs {\"id\": application id}");
            }
            return JSONMessage::encode(*decoded);
        }
        case MessageType::ping:
            if (value.is_null()) {
                return Bytes{};
            }
            if (!value.is_string()) {
                return std::string("ping takes a string (its bytes are the ping's body)");
            }
            return bytesOf(value.get<std::string>());
        case MessageType::requestKeyframe:
        case MessageType::frameAck: return Bytes{};
        default: return std::string("not a message the probe sends");
    }
}

std::optional<MessageType> scriptKind(std::string_view key) {
    static constexpr std::pair<std::string_view, MessageType> kinds[] = {
        {"input", MessageType::input},
        {"selectDisplay", MessageType::selectDisplay},
        {"openApp", MessageType::openApp},
        {"ping", MessageType::ping},
        {"requestKeyframe", MessageType::requestKeyframe},
        {"frameAck", MessageType::frameAck},
    };
    for (const auto& [name, type] : kinds) {
        if (key == name) {
            return type;
        }
    }
    return std::nullopt;
}

std::variant<ScriptStep, std::string> parseLine(std::string_view line) {
    const json object = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (object.is_discarded()) {
        return std::string("not valid JSON");
    }
    if (!object.is_object()) {
        return std::string("expected one JSON object");
    }
    ScriptStep step;
    std::optional<std::pair<MessageType, const json*>> message;
    for (const auto& [key, value] : object.items()) {
        if (key == "delay") {
            if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
                value.get<std::int64_t>() > maxDelayMillis) {
                return std::string("\"delay\" must be whole milliseconds from 0 to 3600000");
            }
            step.delay = std::chrono::milliseconds(value.get<std::int64_t>());
            continue;
        }
        const auto kind = scriptKind(key);
        if (!kind) {
            return "unknown key \"" + key + "\"";
        }
        if (message) {
            return std::string("more than one message on one line");
        }
        message.emplace(*kind, &value);
    }
    if (!message) {
        return std::string("no message (input, selectDisplay, openApp, ping, requestKeyframe or frameAck)");
    }
    step.type = message->first;
    auto body = bodyFor(message->first, *message->second);
    if (auto* error = std::get_if<std::string>(&body)) {
        return std::move(*error);
    }
    step.body = std::move(std::get<Bytes>(body));
    return step;
}

}  // namespace

ParsedScript parseScript(std::string_view text) {
    std::vector<ScriptStep> steps;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);

        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        auto parsed = parseLine(line);
        if (auto* error = std::get_if<std::string>(&parsed)) {
            return ScriptError{"line " + std::to_string(lineNumber) + ": " + *error};
        }
        auto& step = std::get<ScriptStep>(parsed);
        step.line = lineNumber;
        steps.push_back(std::move(step));
    }
    return steps;
}

}  // namespace vantrel::probe
