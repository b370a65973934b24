#pragma once

#include <gio/gio.h>

#include <memory>

namespace vantrel::desktop {

// Owning handles for the GObject and GLib values the desktop layer reads.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GSettingsSchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct GSettingsSchemaSourceUnref {
    void operator()(GSettingsSchemaSource* source) const { g_settings_schema_source_unref(source); }
};
struct GStrvFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GVariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct GFree {
    void operator()(const void* memory) const { g_free(const_cast<void*>(memory)); }
};
struct GListOfObjectsFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

}  // namespace vantrel::desktop
