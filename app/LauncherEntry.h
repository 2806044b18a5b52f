// Progress on the desktop's launcher entry (dock or task bar icon) through
// the session bus signal com.canonical.Unity.LauncherEntry.Update. Where no
// session bus exists every call does nothing.
#pragma once
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace pw {

class LauncherEntry {
 public:
  // desktopId: the .desktop file's name, e.g. "pixelwharf.desktop".
  explicit LauncherEntry(const std::string& desktopId);
  ~LauncherEntry();
  LauncherEntry(const LauncherEntry&) = delete;
  LauncherEntry& operator=(const LauncherEntry&) = delete;

  bool IsConnected() const { return m_connection != nullptr; }
  // progress in 0..1; visible false hides the bar.
  void Update(double progress, bool visible);

 private:
  GDBusConnection* m_connection = nullptr;
  std::string m_appUri;
};

}  // namespace pw
