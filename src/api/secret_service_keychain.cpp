#include "api/secret_service_keychain.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {
namespace {

// Matches items by their attributes only, whichever tool stored them.
const SecretSchema* schema() {
    static const SecretSchema value = {"com.brisklane.perchwell.Secret",
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
                                       nullptr};
    return &value;
}

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error != nullptr) {
            g_error_free(error);
        }
    }
};

// A call that does not answer within this is a failed lookup, not a frozen application.
constexpr int callTimeoutMs = 5000;

// Whether `name` is on the bus (or can be started there); nothing when the bus does
// not answer.
std::optional<bool> nameOnBus(GDBusConnection* bus, const char* method, const char* name) {
    const bool owner = std::string_view(method) == "NameHasOwner";
    ErrorHolder e;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", method,
                                                  owner ? g_variant_new("(s)", name) : nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &e.error);
    if (reply == nullptr) {
        return std::nullopt;
    }
    bool found = false;
    if (owner) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        found = owned != FALSE;
    } else {
        GVariantIter* names = nullptr;
        g_variant_get(reply, "(as)", &names);
        const gchar* candidate = nullptr;
        while (g_variant_iter_next(names, "&s", &candidate)) {
            if (std::string_view(candidate) == name) {
                found = true;
            }
        }
        g_variant_iter_free(names);
    }
    g_variant_unref(reply);
    return found;
}

// The shared service proxy with our time-out, or nothing with the error's code.
SecretService* serviceProxy(ErrorHolder& e) {
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &e.error);
    if (service != nullptr) {
        g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(service), callTimeoutMs);
    }
    return service;
}

// Asked afresh each time: libsecret's cached proxies miss changes made while no loop of
// theirs runs (a screen locker locking the keyring, say).
bool defaultCollectionUnlocked(SecretService* service) {
    GDBusConnection* bus = g_dbus_proxy_get_connection(G_DBUS_PROXY(service));
    GVariant* alias = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "ReadAlias", g_variant_new("(s)", SECRET_COLLECTION_DEFAULT), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr);
    if (alias == nullptr) {
        return false;
    }
    const gchar* path = nullptr;
    g_variant_get(alias, "(&o)", &path);
    bool unlocked = false;
    if (std::string_view(path) != "/") { // "/": there is no default collection yet
        GVariant* locked = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", path, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"), G_VARIANT_TYPE("(v)"),
            G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr);
        if (locked != nullptr) {
            GVariant* value = nullptr;
            g_variant_get(locked, "(v)", &value);
            unlocked = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && !g_variant_get_boolean(value);
            g_variant_unref(value);
            g_variant_unref(locked);
        }
    }
    g_variant_unref(alias);
    return unlocked;
}

int32_t statusOf(const GError* error) {
    return error->code != 0 ? error->code : -1;
}

} // namespace

SecretServiceKeychain::Presence SecretServiceKeychain::presence() {
    // No session bus address: do not let GLib try to autolaunch one.
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    const bool defaultBus =
        runtime != nullptr && g_file_test((std::string(runtime) + "/bus").c_str(), G_FILE_TEST_EXISTS);
    if ((address == nullptr || *address == '\0') && !defaultBus) {
        return Presence::absent;
    }
    ErrorHolder e;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e.error);
    if (bus == nullptr) {
        return Presence::unknown;
    }
    const char* name = "org.freedesktop.secrets";
    Presence presence = Presence::unknown;
    if (const auto owned = nameOnBus(bus, "NameHasOwner", name)) {
        if (*owned) {
            presence = Presence::present;
        } else if (const auto startable = nameOnBus(bus, "ListActivatableNames", name)) {
            presence = *startable ? Presence::present : Presence::absent;
        }
    }
    g_object_unref(bus);
    return presence;
}

KeychainResult SecretServiceKeychain::read(std::string_view service, std::string_view account) {
    ErrorHolder e;
    SecretService* proxy = serviceProxy(e);
    if (proxy == nullptr) {
        return KeychainResult::failed(statusOf(e.error), e.error->message);
    }
    const std::string s(service), a(account);
    GHashTable* attributes =
        secret_attributes_build(schema(), "service", s.c_str(), "account", a.c_str(), nullptr);
    // Locked items are listed too, so that one is never taken for a missing item.
    auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS);
    if (prompting_ == Prompting::allowed) {
        flags = static_cast<SecretSearchFlags>(flags | SECRET_SEARCH_UNLOCK);
    }
    GList* items = secret_service_search_sync(proxy, schema(), attributes, flags, nullptr, &e.error);
    g_hash_table_unref(attributes);
    g_object_unref(proxy);
    if (e.error != nullptr) {
        return KeychainResult::failed(statusOf(e.error), e.error->message);
    }
    if (items == nullptr) {
        return KeychainResult::notFound();
    }
    std::optional<std::string> value;
    for (GList* item = items; item != nullptr && !value; item = item->next) {
        if (SecretValue* secret = secret_item_get_secret(SECRET_ITEM(item->data))) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(secret, &length);
            value = std::string(bytes, length);
            secret_value_unref(secret);
        }
    }
    g_list_free_full(items, g_object_unref);
    if (!value) {
        return KeychainResult::failed(interactionNotAllowedStatus, "the keyring is locked");
    }
    if (!g_utf8_validate(value->data(), static_cast<gssize>(value->size()), nullptr)) {
        return KeychainResult::failed(decodeStatus);
    }
    return KeychainResult::found(std::move(*value));
}

bool SecretServiceKeychain::set(std::string_view value, std::string_view service, std::string_view account) {
    if (prompting_ == Prompting::never) {
        // Storing into a locked (or missing) default collection would prompt.
        ErrorHolder e;
        SecretService* proxy = serviceProxy(e);
        if (proxy == nullptr) {
            return false;
        }
        const bool usable = defaultCollectionUnlocked(proxy);
        g_object_unref(proxy);
        if (!usable) {
            return false;
        }
    }
    deleteItem(service, account);
    ErrorHolder e;
    const std::string v(value), s(service), a(account);
    const std::string label = s + " (" + a + ")";
    const gboolean stored =
        secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), v.c_str(), nullptr,
                                   &e.error, "service", s.c_str(), "account", a.c_str(), nullptr);
    return stored != FALSE && e.error == nullptr;
}

void SecretServiceKeychain::deleteItem(std::string_view service, std::string_view account) {
    ErrorHolder e;
    const std::string s(service), a(account);
    secret_password_clear_sync(schema(), nullptr, &e.error, "service", s.c_str(), "account", a.c_str(),
                               nullptr);
}

std::string SecretServiceKeychain::location(std::string_view service, std::string_view account) const {
    return "the Secret Service (service " + std::string(service) + ", account " + std::string(account) + ")";
}

} // namespace perchwell
