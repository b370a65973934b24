#include "Platform/desktop/GnomeFavourites.hpp"

#include "Platform/desktop/GioHandles.hpp"

namespace vantrel::desktop {

namespace {

constexpr const char* schemaId = "org.gnome.shell";
constexpr const char* favouritesKey = "favorite-apps";

}  // namespace

std::vector<std::string> gnomeFavourites(const std::string& schemaDirectory) {
    // The default source is owned by GIO (and may be absent when no schemas are installed).
    GSettingsSchemaSource* const systemSource = g_settings_schema_source_get_default();
    std::unique_ptr<GSettingsSchemaSource, GSettingsSchemaSourceUnref> ownSource;
    GSettingsSchemaSource* source = systemSource;
    if (!schemaDirectory.empty()) {
        GError* rawError = nullptr;
        ownSource.reset(
            g_settings_schema_source_new_from_directory(schemaDirectory.c_str(), systemSource, TRUE, &rawError));
        std::unique_ptr<GError, GErrorFree> error(rawError);
        if (!ownSource) {
            return {};
        }
        source = ownSource.get();
    }
    if (source == nullptr) {
        return {};
    }

    std::unique_ptr<GSettingsSchema, GSettingsSchemaUnref> schema(
        g_settings_schema_source_lookup(source, schemaId, TRUE));
    if (!schema || !g_settings_schema_has_key(schema.get(), favouritesKey)) {
        return {};
    }
    GObjectPtr<GSettings> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    if (!settings) {
        return {};
    }
    // The key's type is fixed by the schema, but a stranger's schema of the same name need not
    // agree: read it as a string list only when it is one.
    std::unique_ptr<GVariant, GVariantUnref> value(g_settings_get_value(settings.get(), favouritesKey));
    std::vector<std::string> ids;
    if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        // The container is ours to free, the strings inside belong to the value.
        std::unique_ptr<const gchar*, GFree> strings(g_variant_get_strv(value.get(), &count));
        for (gsize i = 0; i < count; ++i) {
            ids.emplace_back(strings.get()[i]);
        }
    }
    return ids;
}

}  // namespace vantrel::desktop
