#include "SecretServiceStore.hpp"

#include <libsecret/secret.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Log/DiagnosticLog.hpp"
#include "Platform/desktop/GioHandles.hpp"
#include "Platform/desktop/PrivateMainContext.hpp"

namespace vantrel {

namespace {

using desktop::GErrorFree;
using desktop::GListOfObjectsFree;
using desktop::GObjectPtr;
using desktop::PrivateMainContext;

using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct SecretValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};

// Matches on service and account alone, without libsecret's own schema-name attribute, so items
// another tool filed under the same two attributes are found and replaced too. A schema that
// matched its name would leave such an item beside ours, and a read would return either.
const SecretSchema credentialSchema = {
    "org.vantrel.Credential",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::string describe(const ErrorPtr& error) {
    return error ? error->message : "no reason given";
}

std::unique_ptr<GHashTable, HashTableUnref> attributesOf(const CredentialName& name) {
    std::unique_ptr<GHashTable, HashTableUnref> table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(table.get(), g_strdup("service"), g_strdup(name.service.c_str()));
    g_hash_table_insert(table.get(), g_strdup("account"), g_strdup(name.account.c_str()));
    return table;
}

// What the store holds under a name and which of it is locked, found without unlocking anything.
struct Survey {
    GObjectPtr<SecretService> service;
    std::unique_ptr<GList, GListOfObjectsFree> items;  // every item under the name
    GObjectPtr<SecretCollection> defaultCollection;    // where new items go; absent when there is none
    bool itemLocked = false;
    bool defaultLocked = false;
    std::string failure;  // set: the store could not be asked

    // Nothing under the name can be read: an item is locked, or nothing was found while the default
    // collection is locked (a service may keep a locked collection's items out of search results).
    [[nodiscard]] bool readLocked() const { return itemLocked || (items == nullptr && defaultLocked); }
    // Replacing would have to remove a locked item or add to a locked collection.
    [[nodiscard]] bool writeLocked() const { return itemLocked || defaultLocked; }
};

Survey survey(const CredentialName& name) {
    Survey result;
    GError* raw = nullptr;
    // libsecret keeps one connection per process; a bus or service that has gone away shows up as
    // an error of the search below.
    result.service.reset(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
    ErrorPtr error(raw);
    if (!result.service) {
        result.failure = "no secret service: " + describe(error);
        return result;
    }
    // GIO ends the whole process when its shared session-bus connection closes; a session bus
    // that goes away should cost the host its keyring, not its life.
    g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(result.service.get())), FALSE);
    const auto attributes = attributesOf(name);
    // SECRET_SEARCH_ALL without SECRET_SEARCH_UNLOCK: locked items come back as they are, and no
    // prompt is raised.
    GList* found = secret_service_search_sync(result.service.get(), &credentialSchema, attributes.get(),
                                              SECRET_SEARCH_ALL, nullptr, &raw);
    error.reset(raw);
    if (error) {
        result.failure = "searching the secret service failed: " + describe(error);
        return result;
    }
    result.items.reset(found);
    for (GList* item = found; item != nullptr; item = item->next) {
        result.itemLocked = result.itemLocked || secret_item_get_locked(SECRET_ITEM(item->data));
    }
    result.defaultCollection.reset(secret_collection_for_alias_sync(result.service.get(), SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, nullptr, &raw));
    error.reset(raw);
    if (error) {
        result.failure = "finding the default keyring failed: " + describe(error);
        return result;
    }
    result.defaultLocked = result.defaultCollection && secret_collection_get_locked(result.defaultCollection.get());
    return result;
}

const char* const lockedReason = "the keyring is locked";

struct SourceDestroy {
    void operator()(GSource* source) const {
        g_source_destroy(source);
        g_source_unref(source);
    }
};

}  // namespace

// What withdrawUnlock() needs to end the wait of an unlock in another thread: the loop it waits in
// and the flag it checks.
struct SecretServiceStore::PendingPrompt {
    GMainContext* context;
    std::atomic<bool> withdrawn{false};
};

SecretServiceStore::SecretServiceStore(Options options) : options_(options) {}

void SecretServiceStore::withdrawUnlock() {
    const std::lock_guard lock(mutex_);
    withdrawn_ = true;
    if (pending_ != nullptr) {
        pending_->withdrawn = true;
        g_main_context_wakeup(pending_->context);
    }
}

SecretServiceStore::Options SecretServiceStore::sessionOptions() {
    const auto set = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && *value != '\0';
    };
    Options options;
    options.promptForUnlock = set("DISPLAY") || set("WAYLAND_DISPLAY");
    return options;
}

CredentialRead SecretServiceStore::read(const CredentialName& name) {
    const Survey found = survey(name);
    if (!found.failure.empty()) {
        return {CredentialStatus::unavailable, {}, found.failure};
    }
    if (found.readLocked()) {
        return {CredentialStatus::locked, {}, lockedReason};
    }
    CredentialRead result{CredentialStatus::ok, {}, {}};
    for (GList* entry = found.items.get(); entry != nullptr; entry = entry->next) {
        auto* item = SECRET_ITEM(entry->data);
        GError* raw = nullptr;
        const bool loaded = secret_item_load_secret_sync(item, nullptr, &raw);
        const ErrorPtr error(raw);
        if (!loaded) {
            return {CredentialStatus::unavailable, {}, "reading a stored secret failed: " + describe(error)};
        }
        const std::unique_ptr<SecretValue, SecretValueUnref> value(secret_item_get_secret(item));
        gsize length = 0;
        const auto* data =
            value ? reinterpret_cast<const std::uint8_t*>(secret_value_get(value.get(), &length)) : nullptr;
        result.secrets.emplace_back(data, data + length);
    }
    return result;
}

CredentialWrite SecretServiceStore::replace(const CredentialName& name, const std::string& label, const Bytes& secret) {
    const Survey found = survey(name);
    if (!found.failure.empty()) {
        return {CredentialStatus::unavailable, found.failure};
    }
    // Checked first: libsecret would raise the unlock prompt by itself when asked to add to a
    // locked collection.
    if (found.writeLocked()) {
        return {CredentialStatus::locked, lockedReason};
    }
    for (GList* entry = found.items.get(); entry != nullptr; entry = entry->next) {
        GError* raw = nullptr;
        const bool deleted = secret_item_delete_sync(SECRET_ITEM(entry->data), nullptr, &raw);
        const ErrorPtr error(raw);
        // Adding beside an item that stays would leave two, and later reads would return either.
        if (!deleted) {
            return {CredentialStatus::unavailable, "removing a stored secret failed: " + describe(error)};
        }
    }
    const std::unique_ptr<SecretValue, SecretValueUnref> value(secret_value_new(
        reinterpret_cast<const gchar*>(secret.data()), static_cast<gssize>(secret.size()), "application/octet-stream"));
    const auto attributes = attributesOf(name);
    GError* raw = nullptr;
    const bool stored = secret_service_store_sync(found.service.get(), &credentialSchema, attributes.get(),
                                                  SECRET_COLLECTION_DEFAULT, label.c_str(), value.get(), nullptr, &raw);
    const ErrorPtr error(raw);
    if (!stored) {
        return {CredentialStatus::unavailable, "storing the secret failed: " + describe(error)};
    }
    return {CredentialStatus::ok, {}};
}

bool SecretServiceStore::unlock(const CredentialName& name) {
    const Survey found = survey(name);
    if (!found.failure.empty()) {
        diagnosticLog().warn("Cannot unlock the keyring: {}", found.failure);
        return false;
    }
    GList* locked = nullptr;  // borrowed from found; only the list cells are ours
    for (GList* entry = found.items.get(); entry != nullptr; entry = entry->next) {
        if (secret_item_get_locked(SECRET_ITEM(entry->data))) {
            locked = g_list_prepend(locked, entry->data);
        }
    }
    if (found.defaultLocked) {
        locked = g_list_prepend(locked, found.defaultCollection.get());
    }
    const std::unique_ptr<GList, decltype(&g_list_free)> objects(locked, &g_list_free);
    if (objects == nullptr) {
        return true;
    }
    if (!options_.promptForUnlock) {
        diagnosticLog().info("The keyring is locked; not asking to unlock it: no desktop session to show the prompt");
        return false;
    }

    struct Wait {
        bool done = false;
        ErrorPtr error;
    };
    // Shared with the completion: a wait that ends early (below) leaves the call behind, and its
    // completion, should it ever run, finds this still there.
    const auto wait = std::make_shared<Wait>();
    const PrivateMainContext context;
    PendingPrompt pending{context.get()};
    {
        const std::lock_guard lock(mutex_);
        if (withdrawn_) {
            return false;
        }
        pending_ = &pending;
    }
    diagnosticLog().info("The keyring is locked; asking the user to unlock it");
    // Never cancelled: cancelling makes libsecret dismiss the prompt, and gnome-keyring (42)
    // crashes on a prompt dismissed while it is shown, taking every unlocked keyring of the session
    // with it. A wait that ends early leaves the prompt to the user instead.
    secret_service_unlock(
        found.service.get(), objects.get(), nullptr,
        [](GObject* service, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<std::shared_ptr<Wait>> wait(static_cast<std::shared_ptr<Wait>*>(data));
            GError* raw = nullptr;
            secret_service_unlock_finish(SECRET_SERVICE(service), result, nullptr, &raw);
            (*wait)->error.reset(raw);
            (*wait)->done = true;
        },
        new std::shared_ptr<Wait>(wait));
    // A prompt nobody answers must not keep the host from serving for ever.
    bool expired = false;
    const std::unique_ptr<GSource, SourceDestroy> deadline(
        g_timeout_source_new(static_cast<guint>(options_.unlockDeadline.count())));
    g_source_set_callback(
        deadline.get(),
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(deadline.get(), context.get());
    while (!wait->done && !expired && !pending.withdrawn) {
        g_main_context_iteration(context.get(), TRUE);
    }
    bool withdrawn = false;
    {
        const std::lock_guard lock(mutex_);
        pending_ = nullptr;
        withdrawn = withdrawn_;
    }

    if (!wait->done && withdrawn) {
        diagnosticLog().info("Stopped waiting for the keyring's unlock prompt: the host is quitting");
        return false;
    }
    if (!wait->done) {
        diagnosticLog().warn("Nobody answered the keyring's unlock prompt within {} s; going on without the keyring",
                             std::chrono::duration_cast<std::chrono::seconds>(options_.unlockDeadline).count());
        return false;
    }
    if (wait->error) {
        diagnosticLog().warn("Unlocking the keyring failed: {}", describe(wait->error));
        return false;
    }
    // A dismissed prompt is no error; what counts is whether the locks are gone now.
    const Survey after = survey(name);
    if (!after.failure.empty() || after.writeLocked()) {
        diagnosticLog().warn("The keyring stays locked: {}",
                             after.failure.empty() ? "the prompt was dismissed" : after.failure);
        return false;
    }
    diagnosticLog().info("The keyring was unlocked");
    return true;
}

std::unique_ptr<CredentialStore> CredentialStore::create() {
    return std::make_unique<SecretServiceStore>(SecretServiceStore::sessionOptions());
}

}  // namespace vantrel
