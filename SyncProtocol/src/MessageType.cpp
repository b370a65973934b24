#include "vantrel/MessageType.hpp"

namespace vantrel {

std::string_view name(MessageType type) {
    switch (type) {
        case MessageType::hello: return "hello";
        case MessageType::welcome: return "welcome";
        case MessageType::videoConfig: return "videoConfig";
        case MessageType::videoFrame: return "videoFrame";
        case MessageType::input: return "input";
        case MessageType::requestKeyframe: return "requestKeyframe";
        case MessageType::selectDisplay: return "selectDisplay";
        case MessageType::ping: return "ping";
        case MessageType::pong: return "pong";
        case MessageType::pointer: return "pointer";
        case MessageType::frameAck: return "frameAck";
        case MessageType::apps: return "apps";
        case MessageType::openApp: return "openApp";
    }
    return "unknown";
}

}  // namespace vantrel
