#include "api/secret_service_keychain.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <string>

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

bool nameOnBus(GDBusConnection* bus, const char* method, const char* name) {
    ErrorHolder e;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        std::string(method) == "NameHasOwner" ? g_variant_new("(s)", name) : nullptr, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &e.error);
    if (reply == nullptr) {
        return false;
    }
    bool found = false;
    if (std::string(method) == "NameHasOwner") {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        found = owned != FALSE;
    } else {
        GVariantIter* names = nullptr;
        g_variant_get(reply, "(as)", &names);
        const gchar* candidate = nullptr;
        while (g_variant_iter_next(names, "&s", &candidate)) {
            if (std::string(candidate) == name) {
                found = true;
            }
        }
        g_variant_iter_free(names);
    }
    g_variant_unref(reply);
    return found;
}

} // namespace

bool SecretServiceKeychain::serviceAvailable() {
    // No session bus address: do not let GLib try to autolaunch one.
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    const bool defaultBus =
        runtime != nullptr && g_file_test((std::string(runtime) + "/bus").c_str(), G_FILE_TEST_EXISTS);
    if ((address == nullptr || *address == '\0') && !defaultBus) {
        return false;
    }
    ErrorHolder e;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e.error);
    if (bus == nullptr) {
        return false;
    }
    const char* name = "org.freedesktop.secrets";
    const bool available =
        nameOnBus(bus, "NameHasOwner", name) || nameOnBus(bus, "ListActivatableNames", name);
    g_object_unref(bus);
    return available;
}

KeychainResult SecretServiceKeychain::read(std::string_view service, std::string_view account) {
    ErrorHolder e;
    const std::string s(service), a(account);
    gchar* secret = secret_password_lookup_sync(schema(), nullptr, &e.error, "service", s.c_str(), "account",
                                                a.c_str(), nullptr);
    if (e.error != nullptr) {
        return KeychainResult::failed(e.error->code != 0 ? e.error->code : -1);
    }
    if (secret == nullptr) {
        return KeychainResult::notFound();
    }
    std::string value(secret);
    secret_password_free(secret);
    if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
        return KeychainResult::failed(decodeStatus);
    }
    return KeychainResult::found(std::move(value));
}

bool SecretServiceKeychain::set(std::string_view value, std::string_view service, std::string_view account) {
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

} // namespace perchwell
