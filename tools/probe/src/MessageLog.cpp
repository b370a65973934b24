#include "MessageLog.hpp"

#include "vantrel/ControlMessages.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/VideoMessages.hpp"

namespace vantrel::probe {
namespace {

using nlohmann::json;

json welcomeJson(const Welcome& welcome) {
    json displays = json::array();
    for (const auto& display : welcome.displays) {
        displays.push_back(
            {{"id", display.id}, {"name", display.name}, {"width", display.width}, {"height", display.height}});
    }
    return {{"version", welcome.version},
            {"hostName", welcome.hostName},
            {"displays", std::move(displays)},
            {"activeDisplay", welcome.activeDisplay},
            {"canControl", welcome.canControl}};
}

json appsJson(const AppList& list) {
    json apps = json::array();
    for (const auto& app : list.apps) {
        json entry = {{"id", app.id}, {"name", app.name}, {"running", app.running}};
        entry["iconSize"] = app.icon ? json(app.icon->size()) : json(nullptr);
        apps.push_back(std::move(entry));
    }
    return {{"apps", std::move(apps)}};
}

json configJson(const VideoConfig& config) {
    json sizes = json::array();
    for (const auto& set : config.parameterSets) {
        sizes.push_back(set.size());
    }
    return {{"codec", config.codec == VideoCodec::h264 ? "h264" : "unknown"},
            {"width", config.width},
            {"height", config.height},
            {"parameterSetSizes", std::move(sizes)}};
}

json frameJson(const VideoFrame& frame) {
    return {{"isKeyframe", frame.isKeyframe},
            {"timestampMicros", frame.timestampMicros},
            {"payloadSize", frame.payload.size()}};
}

// The decoded body, or an error text when the body does not decode as its kind.
std::pair<json, const char*> decodeBody(MessageType type, ByteView body) {
    switch (type) {
        case MessageType::welcome:
            if (const auto welcome = JSONMessage::decode<Welcome>(body)) {
                return {welcomeJson(*welcome), nullptr};
            }
            return {nullptr, "does not decode as a welcome"};
        case MessageType::videoConfig:
            if (const auto config = VideoConfig::decode(body)) {
                return {configJson(*config), nullptr};
            }
            return {nullptr, "does not decode as a stream configuration"};
        case MessageType::videoFrame:
            if (const auto frame = VideoFrame::decode(body)) {
                return {frameJson(*frame), nullptr};
            }
            return {nullptr, "does not decode as a video frame"};
        case MessageType::pointer:
            if (const auto pointer = JSONMessage::decode<PointerPosition>(body)) {
                return {json{{"x", pointer->x}, {"y", pointer->y}}, nullptr};
            }
            return {nullptr, "does not decode as a pointer position"};
        case MessageType::apps:
            if (const auto apps = JSONMessage::decode<AppList>(body)) {
                return {appsJson(*apps), nullptr};
            }
            return {nullptr, "does not decode as an application list"};
        case MessageType::pong:
            // The echo of one of our pings; the session adds the round trip it measured.
            return {json{{"echoSize", body.size()}}, nullptr};
        default:
            // A kind only phones send: the host should never send it.
            return {nullptr, "a kind the host never sends"};
    }
}

}  // namespace

json describeMessage(MessageType type, ByteView body) {
    auto [decoded, error] = decodeBody(type, body);
    json line = {{"kind", std::string(name(type))}, {"size", body.size()}, {"body", std::move(decoded)}};
    if (error != nullptr) {
        line["error"] = error;
    }
    return line;
}

}  // namespace vantrel::probe
