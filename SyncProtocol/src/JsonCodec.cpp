#include "JsonCodec.hpp"

#include <vector>

namespace vantrel::json {
namespace {

// Our own values nest at most three levels, but the walk keeps an explicit stack anyway.
bool allNumbersFinite(const Json& root) {
    std::vector<const Json*> pending{&root};
    while (!pending.empty()) {
        const Json* value = pending.back();
        pending.pop_back();
        if (value->is_number_float() && !std::isfinite(value->get<double>())) {
            return false;
        }
        if (value->is_structured()) {
            for (const Json& child : *value) {
                pending.push_back(&child);
            }
        }
    }
    return true;
}

}  // namespace

std::optional<Json> parse(ByteView body) {
    // allow_exceptions = false: a syntax error (or invalid UTF-8) gives a discarded value instead
    // of a parse_error.
    Json value = Json::parse(body.begin(), body.end(), nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

const Json* ObjectReader::find(const char* key) const {
    if (object_ == nullptr) {
        return nullptr;
    }
    const auto found = object_->find(key);
    return found == object_->end() ? nullptr : &*found;
}

void ObjectReader::failField(const char* key, const std::string& expected) {
    fail(std::string("key \"") + key + "\": expected " + expected);
}

double ObjectReader::number(const char* key) {
    const Json* value = find(key);
    if (value != nullptr && value->is_number()) {
        const auto number = value->get<double>();
        if (std::isfinite(number)) {
            return number;
        }
    }
    failField(key, "a finite number");
    return 0;
}

bool ObjectReader::boolean(const char* key) {
    const Json* value = find(key);
    if (value != nullptr && value->is_boolean()) {
        return value->get<bool>();
    }
    failField(key, "true or false");
    return false;
}

std::string ObjectReader::string(const char* key) {
    const Json* value = find(key);
    if (value != nullptr && value->is_string()) {
        return value->get<std::string>();
    }
    failField(key, "a string");
    return {};
}

const Json* ObjectReader::nullable(const char* key) {
    const Json* value = find(key);
    return value == nullptr || value->is_null() ? nullptr : value;
}

const Json* ObjectReader::array(const char* key) {
    const Json* value = find(key);
    if (value != nullptr && value->is_array()) {
        return value;
    }
    failField(key, "an array");
    return nullptr;
}

Bytes dump(const Json& value) {
    if (!allNumbersFinite(value)) {
        return {};
    }
    const std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

}  // namespace vantrel::json
