#pragma once
// Which of the light and dark themes is in effect.
//
// The system's switch is the desktop's colour-scheme preference, read from the
// freedesktop appearance portal ("org.freedesktop.appearance" / "color-scheme": 1 means
// dark). The environment variable SKM_COLOR_SCHEME=light|dark overrides it (tests, and
// desktops without the portal). When neither answers the theme is light.
//
// Threads: UI thread only.

#include <QObject>
#include <QString>
#include <QDBusVariant>
#include <QPalette>
#include <functional>

namespace skm {

// Bit 0 set = light, bit 1 set = fixed (the user chose Light or Dark).
extern int ThemeFlags;

// The system's switch: true for light (also when it cannot be read).
bool AppsUseLightThemeRead();
// Sets ThemeFlags from the setting Mode.
void ThemeInit();
// ThemeFlags bit 0.
bool IsLightTheme();
// Re-reads the system's switch when the theme is automatic.
void ThemeSettingChange();

// Replaces the system's switch (tests). An empty function restores the portal.
void SetAppsUseLightThemeSource(std::function<bool()> source);

// Watches the portal's SettingChanged signal and runs ThemeSettingChange, then the
// callback, on the UI thread. One watcher per window that follows the theme.
class TThemeWatcher : public QObject {
  Q_OBJECT
public:
  explicit TThemeWatcher(std::function<void()> onChange, QObject* parent = nullptr);
private slots:
  void PortalSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
private:
  std::function<void()> FOnChange;
};

// The style sheet of the resource "WIN10LIGHT" or "WIN10DARK", for the controls Qt draws.
QString ThemeStyleSheet(bool light);
// The palette that goes with it (windows, text, buttons, highlights).
QPalette ThemePalette(bool light);
// Applies style sheet and palette to the whole application at once.
void ThemeApply(bool light);

} // namespace skm
