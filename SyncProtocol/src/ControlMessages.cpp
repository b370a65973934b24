#include "vantrel/ControlMessages.hpp"

#include <algorithm>

#include "Base64.hpp"
#include "JsonCodec.hpp"

namespace vantrel {

AppList::AppList(std::vector<AppEntry> entries) : apps(std::move(entries)) {
    if (apps.size() > maxCount) {
        apps.resize(maxCount);
    }
}

namespace json {
namespace {

// Decodes every element of an array with the element type's rules; one bad element fails all.
template <typename Element>
std::optional<std::vector<Element>> elements(const Json* array) {
    if (array == nullptr) {
        return std::nullopt;
    }
    std::vector<Element> out;
    out.reserve(array->size());
    for (const Json& item : *array) {
        auto element = fromJson(item, Tag<Element>{});
        if (!element) {
            return std::nullopt;
        }
        out.push_back(std::move(*element));
    }
    return out;
}

template <typename Element>
std::optional<Json> arrayOf(const std::vector<Element>& values) {
    Json out = Json::array();
    for (const Element& value : values) {
        auto item = toJson(value);
        if (!item) {
            return std::nullopt;
        }
        out.push_back(std::move(*item));
    }
    return out;
}

}  // namespace

std::optional<Json> toJson(const Hello& value) {
    return Json{{"version", value.version}, {"deviceName", value.deviceName}};
}

std::optional<Hello> fromJson(const Json& value, Tag<Hello>) {
    ObjectReader reader(value);
    Hello out{reader.integer<std::int64_t>("version"), reader.string("deviceName")};
    return reader.ok() ? std::optional(std::move(out)) : std::nullopt;
}

std::optional<Json> toJson(const DisplayInfo& value) {
    return Json{{"id", value.id}, {"name", value.name}, {"width", value.width}, {"height", value.height}};
}

std::optional<DisplayInfo> fromJson(const Json& value, Tag<DisplayInfo>) {
    ObjectReader reader(value);
    DisplayInfo out{reader.integer<std::uint32_t>("id"), reader.string("name"), reader.integer<std::int64_t>("width"),
                    reader.integer<std::int64_t>("height")};
    return reader.ok() ? std::optional(std::move(out)) : std::nullopt;
}

std::optional<Json> toJson(const Welcome& value) {
    auto displays = arrayOf(value.displays);
    if (!displays) {
        return std::nullopt;
    }
    return Json{{"version", value.version},
                {"hostName", value.hostName},
                {"displays", std::move(*displays)},
                {"activeDisplay", value.activeDisplay},
                {"canControl", value.canControl}};
}

std::optional<Welcome> fromJson(const Json& value, Tag<Welcome>) {
    ObjectReader reader(value);
    Welcome out;
    out.version = reader.integer<std::int64_t>("version");
    out.hostName = reader.string("hostName");
    auto displays = elements<DisplayInfo>(reader.array("displays"));
    out.activeDisplay = reader.integer<std::uint32_t>("activeDisplay");
    out.canControl = reader.boolean("canControl");
    if (!reader.ok() || !displays) {
        return std::nullopt;
    }
    out.displays = std::move(*displays);
    return out;
}

std::optional<Json> toJson(const PointerPosition& value) {
    return Json{{"x", value.x}, {"y", value.y}};
}

std::optional<PointerPosition> fromJson(const Json& value, Tag<PointerPosition>) {
    ObjectReader reader(value);
    PointerPosition out{reader.number("x"), reader.number("y")};
    return reader.ok() ? std::optional(out) : std::nullopt;
}

std::optional<Json> toJson(const SelectDisplay& value) {
    return Json{{"id", value.id}};
}

std::optional<SelectDisplay> fromJson(const Json& value, Tag<SelectDisplay>) {
    ObjectReader reader(value);
    SelectDisplay out{reader.integer<std::uint32_t>("id")};
    return reader.ok() ? std::optional(out) : std::nullopt;
}

std::optional<Json> toJson(const AppEntry& value) {
    Json out{{"id", value.id}, {"name", value.name}, {"running", value.running}};
    if (value.icon) {
        auto icon = base64::encode(*value.icon);
        if (!icon) {
            return std::nullopt;
        }
        out["icon"] = std::move(*icon);
    }
    return out;
}

std::optional<AppEntry> fromJson(const Json& value, Tag<AppEntry>) {
    ObjectReader reader(value);
    AppEntry out{reader.string("id"), reader.string("name"), reader.boolean("running"), std::nullopt};
    if (const Json* icon = reader.nullable("icon")) {
        out.icon = icon->is_string() ? base64::decode(icon->get_ref<const std::string&>()) : std::nullopt;
        if (!out.icon) {
            reader.fail("key \"icon\": expected standard Base64 with padding, or null");
        }
    }
    return reader.ok() ? std::optional(std::move(out)) : std::nullopt;
}

std::optional<Json> toJson(const AppList& value) {
    auto apps = arrayOf(value.apps);
    if (!apps) {
        return std::nullopt;
    }
    return Json{{"apps", std::move(*apps)}};
}

std::optional<AppList> fromJson(const Json& value, Tag<AppList>) {
    ObjectReader reader(value);
    auto apps = elements<AppEntry>(reader.array("apps"));
    if (!reader.ok() || !apps) {
        return std::nullopt;
    }
    // Not through the constructor: a peer's list is kept whole, only the host's own is cut.
    AppList out;
    out.apps = std::move(*apps);
    return out;
}

std::optional<Json> toJson(const OpenApp& value) {
    return Json{{"id", value.id}};
}

std::optional<OpenApp> fromJson(const Json& value, Tag<OpenApp>) {
    ObjectReader reader(value);
    OpenApp out{reader.string("id")};
    return reader.ok() ? std::optional(std::move(out)) : std::nullopt;
}

}  // namespace json
}  // namespace vantrel
