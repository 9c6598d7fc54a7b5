#include "platform/FMXUtils.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLocale>
#include <QUrl>
#include <array>

#ifndef SKM_VERSION_TEXT
#define SKM_VERSION_TEXT "0.0.0.0"
#endif

namespace skm {
namespace {

std::array<bool, 256> gKeys{};

// X11 keysyms of the keys whose left and right (or keypad) variants Qt folds together.
constexpr quint32 XK_Shift_L = 0xffe1, XK_Shift_R = 0xffe2;
constexpr quint32 XK_Control_L = 0xffe3, XK_Control_R = 0xffe4;
constexpr quint32 XK_Alt_L = 0xffe9, XK_Alt_R = 0xffea;
constexpr quint32 XK_KP_Enter = 0xff8d;

int VirtualKeyOf(const QKeyEvent& e) {
  const int key = e.key();
  const quint32 sym = e.nativeVirtualKey();
  switch (key) {
  case Qt::Key_Shift: return sym == XK_Shift_R ? vk::RShift : vk::LShift;
  case Qt::Key_Control: return sym == XK_Control_R ? vk::RControl : vk::LControl;
  case Qt::Key_Alt:
  case Qt::Key_AltGr: return (sym == XK_Alt_R || key == Qt::Key_AltGr) ? vk::RMenu : vk::LMenu;
  case Qt::Key_Enter: return vk::Separator;
  case Qt::Key_Return: return sym == XK_KP_Enter ? vk::Separator : vk::Return;
  case Qt::Key_Space: return vk::Space;
  case Qt::Key_Backspace: return 0x08;
  case Qt::Key_Tab: return 0x09;
  case Qt::Key_Escape: return 0x1B;
  case Qt::Key_PageUp: return 0x21;
  case Qt::Key_PageDown: return 0x22;
  case Qt::Key_End: return 0x23;
  case Qt::Key_Home: return 0x24;
  case Qt::Key_Left: return 0x25;
  case Qt::Key_Up: return 0x26;
  case Qt::Key_Right: return 0x27;
  case Qt::Key_Down: return 0x28;
  case Qt::Key_Insert: return 0x2D;
  case Qt::Key_Delete: return 0x2E;
  default: break;
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return key; // 0x41..0x5A
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return key; // 0x30..0x39
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
  return -1;
}

class TKeyFilter final : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
      // A key event reaches the filter once per object on its way up; feeding it more
      // than once is harmless since setting a flag twice changes nothing.
      if (event->type() != QEvent::ShortcutOverride) KeyTableFeed(event);
      break;
    case QEvent::ApplicationDeactivate:
      KeyTableClear();
      break;
    case QEvent::ApplicationStateChange:
      if (QGuiApplication::applicationState() != Qt::ApplicationActive) KeyTableClear();
      break;
    default:
      break;
    }
    return QObject::eventFilter(watched, event);
  }
};

TKeyFilter* gFilter = nullptr;

std::function<bool(const QString&)> gShellOpenHandler;
std::function<bool(const QString&)> gRecycleDeleteHandler;

} // namespace

bool KeyIsDown(int code) {
  switch (code) {
  case vk::Shift: return gKeys[vk::LShift] || gKeys[vk::RShift];
  case vk::Control: return gKeys[vk::LControl] || gKeys[vk::RControl];
  case vk::Menu: return gKeys[vk::LMenu] || gKeys[vk::RMenu];
  default: return code >= 0 && code < 256 && gKeys[static_cast<size_t>(code)];
  }
}

void KeyHookInstall() {
  if (gFilter || !qApp) return;
  gFilter = new TKeyFilter(qApp);
  qApp->installEventFilter(gFilter);
  QObject::connect(qApp, &QObject::destroyed, [] { gFilter = nullptr; });
}

void KeyTableClear() { gKeys.fill(false); }

int KeyTableFeed(const QEvent* event) {
  if (!event || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)) return -1;
  const auto& e = static_cast<const QKeyEvent&>(*event);
  const int code = VirtualKeyOf(e);
  if (code < 0 || code > 255) return -1;
  if (event->type() == QEvent::KeyPress) {
    gKeys[static_cast<size_t>(code)] = true;
  } else if (!e.isAutoRepeat()) {
    // Auto-repeat sends release/press pairs while the key stays down.
    gKeys[static_cast<size_t>(code)] = false;
  }
  return code;
}

bool LoadFromResource(QImage& bitmap, const QString& resourceName) {
  QImage img;
  if (!img.load(QStringLiteral(":/") + resourceName)) return false;
  bitmap = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  return true;
}

QString VersionText() { return QStringLiteral(SKM_VERSION_TEXT); }

bool IsJapanese() { return QLocale().language() == QLocale::Japanese; }

bool ShellOpen(const QString& target) {
  if (gShellOpenHandler) return gShellOpenHandler(target);
  const QUrl url = QUrl::fromUserInput(target);
  return url.isValid() && QDesktopServices::openUrl(url);
}

bool RecycleDelete(const QString& fileName) {
  if (gRecycleDeleteHandler) return gRecycleDeleteHandler(fileName);
  if (!QFile::exists(fileName)) return false;
  if (QFile::moveToTrash(fileName)) return true;
  return QFile::remove(fileName);
}

void SetShellOpenHandler(std::function<bool(const QString&)> handler) {
  gShellOpenHandler = std::move(handler);
}

void SetRecycleDeleteHandler(std::function<bool(const QString&)> handler) {
  gRecycleDeleteHandler = std::move(handler);
}

} // namespace skm
