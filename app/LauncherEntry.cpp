#include "app/LauncherEntry.h"

#include <algorithm>
#include <cstdlib>

#include <gio/gio.h>

namespace pw {

LauncherEntry::LauncherEntry(const std::string& desktopId)
    : m_appUri("application://" + desktopId) {
  // Only a bus that is announced: asking GIO for the session bus without an
  // address may start a new bus daemon, which a desktop program must not do.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address || !*address) return;
  GError* error = nullptr;
  m_connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (error) g_error_free(error);
}

LauncherEntry::~LauncherEntry() {
  if (m_connection) {
    g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
    g_object_unref(m_connection);
  }
}

void LauncherEntry::Update(double progress, bool visible) {
  if (!m_connection) return;
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&props, "{sv}", "progress", g_variant_new_double(std::clamp(progress, 0.0, 1.0)));
  g_variant_builder_add(&props, "{sv}", "progress-visible", g_variant_new_boolean(visible));
  g_dbus_connection_emit_signal(m_connection, nullptr, "/com/canonical/unity/launcherentry/pixelwharf",
                                "com.canonical.Unity.LauncherEntry", "Update",
                                g_variant_new("(sa{sv})", m_appUri.c_str(), &props), nullptr);
}

}  // namespace pw
