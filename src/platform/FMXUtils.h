#pragma once
// Platform helpers: the held-key table, resource pictures, version text, locale test,
// shell open and delete to the trash.
//
// Threads: UI thread only.

#include <QString>
#include <functional>

class QImage;
class QObject;
class QEvent;

namespace skm {

// Virtual-key codes the program asks about.
namespace vk {
inline constexpr int Return = 0x0D, Shift = 0x10, Control = 0x11, Menu = 0x12, Space = 0x20;
inline constexpr int Separator = 0x6C; // the keypad's Enter
inline constexpr int LShift = 0xA0, RShift = 0xA1, LControl = 0xA2, RControl = 0xA3;
inline constexpr int LMenu = 0xA4, RMenu = 0xA5;
} // namespace vk

// Whether the key is held. 0x10/0x11/0x12 ask for either Shift, Ctrl or Alt.
// Keys are seen through an application-wide event filter (never a system-wide hook), so
// the table knows only what this program's windows receive; it is cleared whenever the
// application loses the focus, since releases elsewhere cannot be seen.
bool KeyIsDown(int vkCode);

// Installs the application-wide filter that keeps the table (needs a QApplication);
// removing it happens with the application. Safe to call more than once.
void KeyHookInstall();
// Clears every flag.
void KeyTableClear();
// Feeds one Qt key event into the table (what the filter does); public for tests.
// Returns the virtual-key code recorded, or -1 when the key has none.
int KeyTableFeed(const QEvent* event);

// Loads the named raw-data resource (":/NAME") into the bitmap (PNG); false when missing.
bool LoadFromResource(QImage& bitmap, const QString& resourceName);

// "major.minor.release.build" of this build.
QString VersionText();
// Whether the user's locale is Japanese.
bool IsJapanese();
// Opens a URL or file with the desktop's default handler; false when that fails.
bool ShellOpen(const QString& target);
// Moves the file to the desktop's trash, or deletes it where there is no trash. False
// when the file is missing or could be neither trashed nor deleted.
bool RecycleDelete(const QString& fileName);

// Replace ShellOpen / RecycleDelete (tests: no browser is started, a failing trash can
// be simulated). An empty function restores the desktop's own.
void SetShellOpenHandler(std::function<bool(const QString&)> handler);
void SetRecycleDeleteHandler(std::function<bool(const QString&)> handler);

} // namespace skm
