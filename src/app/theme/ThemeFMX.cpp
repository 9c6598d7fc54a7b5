#include "app/theme/ThemeFMX.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QApplication>
#include <QFile>

#include "app/settings/Setup.h"

namespace skm {

int ThemeFlags = 1;

namespace {

std::function<bool()> gSource;

const char* kPortalService = "org.freedesktop.portal.Desktop";
const char* kPortalPath = "/org/freedesktop/portal/desktop";
const char* kPortalInterface = "org.freedesktop.portal.Settings";

// Unwraps the nested variants the portal answers with (v, or v inside v).
QVariant Unwrap(QVariant v) {
  for (int i = 0; i < 3 && v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>(); ++i)
    v = v.value<QDBusVariant>().variant();
  return v;
}

bool PortalSaysLight() {
  const QByteArray env = qgetenv("SKM_COLOR_SCHEME").toLower();
  if (env == "dark") return false;
  if (env == "light") return true;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return true;
  QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInterface, "Read");
  call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
  const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return true;
  bool ok = false;
  const uint scheme = Unwrap(reply.arguments().first()).toUInt(&ok);
  return !(ok && scheme == 1);
}

} // namespace

bool AppsUseLightThemeRead() {
  return gSource ? gSource() : PortalSaysLight();
}

void ThemeInit() {
  switch (gSettings.Mode) {
  case 0: ThemeFlags = AppsUseLightThemeRead() ? 1 : 0; break;
  case 1: ThemeFlags = 3; break;
  case 2: ThemeFlags = 2; break;
  default: break;
  }
}

bool IsLightTheme() { return (ThemeFlags & 1) != 0; }

void ThemeSettingChange() {
  if ((ThemeFlags & 2) == 0) ThemeFlags = AppsUseLightThemeRead() ? 1 : 0;
}

void SetAppsUseLightThemeSource(std::function<bool()> source) { gSource = std::move(source); }

TThemeWatcher::TThemeWatcher(std::function<void()> onChange, QObject* parent)
    : QObject(parent), FOnChange(std::move(onChange)) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected())
    bus.connect(kPortalService, kPortalPath, kPortalInterface, "SettingChanged", this,
                SLOT(PortalSettingChanged(QString, QString, QDBusVariant)));
}

void TThemeWatcher::PortalSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant&) {
  if (nameSpace != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme")) return;
  ThemeSettingChange();
  if (FOnChange) FOnChange();
}

QString ThemeStyleSheet(bool light) {
  QFile f(light ? QStringLiteral(":/WIN10LIGHT") : QStringLiteral(":/WIN10DARK"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

} // namespace skm

namespace skm {

QPalette ThemePalette(bool light) {
  QPalette p;
  const QColor window = light ? QColor(0xf3, 0xf3, 0xf3) : QColor(0x20, 0x20, 0x20);
  const QColor base = light ? QColor(0xff, 0xff, 0xff) : QColor(0x2b, 0x2b, 0x2b);
  const QColor text = light ? QColor(0, 0, 0) : QColor(0xff, 0xff, 0xff);
  const QColor button = light ? QColor(0xfd, 0xfd, 0xfd) : QColor(0x2d, 0x2d, 0x2d);
  const QColor accent = light ? QColor(0x00, 0x67, 0xc0) : QColor(0x4c, 0xc2, 0xff);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, light ? QColor(0xff, 0xff, 0xff) : QColor(0, 0, 0));
  p.setColor(QPalette::Link, accent);
  return p;
}

void ThemeApply(bool light) {
  if (!qApp) return;
  qApp->setPalette(ThemePalette(light));
  qApp->setStyleSheet(ThemeStyleSheet(light));
}

} // namespace skm
