#include "Log/DiagnosticLog.hpp"

#include <spdlog/sinks/stdout_sinks.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace vantrel {

namespace {

spdlog::level::level_enum levelFromEnvironment() {
    const char* value = std::getenv("VANTREL_LOG");
    if (value == nullptr) {
        return spdlog::level::info;
    }
    const std::string name(value);
    if (name == "warning") {
        return spdlog::level::warn;  // spdlog spells it "warn"; accept the word people type
    }
    const auto level = spdlog::level::from_str(name);
    // from_str answers "off" for anything it does not know; only an explicit "off" silences.
    return level == spdlog::level::off && name != "off" ? spdlog::level::info : level;
}

std::shared_ptr<spdlog::logger> makeLog() {
    auto log = std::make_shared<spdlog::logger>("vantrel", std::make_shared<spdlog::sinks::stderr_sink_mt>());
    log->set_pattern("brisholm: %L %v");
    log->set_level(levelFromEnvironment());
    // Failures are rare and a developer reads them after the fact: make each visible at once.
    log->flush_on(spdlog::level::trace);
    return log;
}

}  // namespace

spdlog::logger& diagnosticLog() {
    // One log for the process, made on first use (a function-local static is thread-safe to
    // initialise), so no module needs it handed down and no start-up order matters.
    static const std::shared_ptr<spdlog::logger> log = makeLog();
    return *log;
}

std::string oneLine(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string line;
    line.reserve(text.size());
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte >= 0x20 && byte != 0x7F) {
            line.push_back(character);
            continue;
        }
        switch (byte) {
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            case '\t': line += "\\t"; break;
            default:
                line += "\\x";
                line.push_back(hex[byte >> 4]);
                line.push_back(hex[byte & 0xF]);
        }
    }
    return line;
}

void setVerboseDiagnostics() {
    if (diagnosticLog().level() > spdlog::level::debug) {
        diagnosticLog().set_level(spdlog::level::debug);
    }
}

}  // namespace vantrel
