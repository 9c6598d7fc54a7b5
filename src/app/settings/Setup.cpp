#include "app/settings/Setup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <algorithm>

#include "platform/core/IniFile.h"
#include "platform/openkind/OpenKind.h"

namespace skm {

TSettings gSettings;
TSettings gSettingsDefaults;

namespace {

QString gConfigDirOverride;

// Files move between locales: "." is always written and both "." and the user's
// separator are read.
char LocaleSeparator() {
  const QString sep = QLocale().decimalPoint();
  return sep.size() == 1 && sep.at(0).unicode() < 128 ? static_cast<char>(sep.at(0).unicode()) : '.';
}

template <typename T>
void ClampU(T& v, T lo, T hi) {
  if (v < lo) v = lo;
  if (v > hi) v = hi;
}

} // namespace

void SettingsDefaultsKeep() { gSettingsDefaults = gSettings; }

void SettingsClamp() {
  TSettings& s = gSettings;
  ClampU<TMediaTime>(s.Range0FWD1, 1'000'000, 30'000'000);
  ClampU<TMediaTime>(s.Range0FWD2, 30'000'000, 90'000'000);
  ClampU<TMediaTime>(s.BtnBWardD, 1'000'000, 600'000'000);
  ClampU<TMediaTime>(s.BtnFWardD, 1'000'000, 600'000'000);
  ClampU<uint64_t>(s.KeyXWard0D, 1, 4);
  ClampU<uint64_t>(s.KeyXWard1D, 5, 9);
  ClampU<uint64_t>(s.KeyXWard3D, 10, 20);
  ClampU<int32_t>(s.Counts, 2, 40);
  const double a = s.Alpha;
  if (!(a >= 0.1)) s.Alpha = 0.1f; // NaN lands on the lower bound too
  else if (a > 4.0) s.Alpha = 4.0f;
  if (s.FrameCacheMiB != 0) ClampU<uint32_t>(s.FrameCacheMiB, 64, 16384);
}

void SettingsLoadFrom(const QString& fileName) {
  TIniFile ini;
  ini.LoadFromFile(fileName.toStdString()); // unreadable reads as empty: defaults stay
  const char sep = LocaleSeparator();
  TSettings& s = gSettings;

  const int mode = ini.ReadInteger("Theme", "Mode", s.Mode);
  s.Mode = (mode == 1 || mode == 2) ? static_cast<uint8_t>(mode) : 0;

  auto readTime = [&](const char* sec, const char* key, TMediaTime& v) {
    v = SecondsToTime(ini.ReadFloat(sec, key, TimeToSeconds(v), sep));
  };
  readTime("TraTrack", "Range0FWD1", s.Range0FWD1);
  readTime("TraTrack", "Range0FWD2", s.Range0FWD2);
  readTime("TraLayer", "BtnBWardD", s.BtnBWardD);
  readTime("TraLayer", "BtnFWardD", s.BtnFWardD);

  auto readCount = [&](const char* key, uint64_t& v) {
    // A 32-bit integer sign-extended: -3 becomes a huge unsigned count.
    v = static_cast<uint64_t>(static_cast<int64_t>(ini.ReadInteger("TraLayer", key, static_cast<int32_t>(v))));
  };
  readCount("KeyXWard0D", s.KeyXWard0D);
  readCount("KeyXWard1D", s.KeyXWard1D);
  readCount("KeyXWard3D", s.KeyXWard3D);

  s.ZPPWBrdAutoSave = ini.ReadBool("Setup", "ZPPWBrdAutSave", s.ZPPWBrdAutoSave);
  s.ZPPWBrdAutoSave = ini.ReadBool("Setup", "ZPPWBrdAutoSave", s.ZPPWBrdAutoSave);
  s.VPOAutoSave = ini.ReadBool("Setup", "VPOAutoSave", s.VPOAutoSave);

  s.DoSnapBitmap = ini.ReadBool("SnapBitmap", "DoSnapBitmap", s.DoSnapBitmap);
  s.Counts = ini.ReadInteger("SnapBitmap", "Counts", s.Counts);
  s.Alpha = static_cast<float>(ini.ReadFloat("SnapBitmap", "Alpha", s.Alpha, sep));
  // Negative values read as 0: the framework's choice.
  s.FrameCacheMiB = static_cast<uint32_t>(
      std::max(0, ini.ReadInteger("Setup", "FrameCacheMiB", static_cast<int32_t>(s.FrameCacheMiB))));
  SettingsClamp();
}

bool SettingsSaveTo(const QString& fileName, QString* error) {
  SettingsClamp();
  TIniFile ini;
  std::string err;
  // An unreadable existing file must not be replaced by one that lost its other keys.
  if (!ini.LoadFromFile(fileName.toStdString(), &err)) {
    if (error) *error = QString::fromStdString(err);
    return false;
  }
  const TSettings& s = gSettings;
  ini.WriteInteger("Theme", "Mode", s.Mode);
  ini.WriteFloat("TraTrack", "Range0FWD1", TimeToSeconds(s.Range0FWD1));
  ini.WriteFloat("TraTrack", "Range0FWD2", TimeToSeconds(s.Range0FWD2));
  ini.WriteFloat("TraLayer", "BtnBWardD", TimeToSeconds(s.BtnBWardD));
  ini.WriteFloat("TraLayer", "BtnFWardD", TimeToSeconds(s.BtnFWardD));
  ini.WriteInteger("TraLayer", "KeyXWard0D", static_cast<int64_t>(s.KeyXWard0D));
  ini.WriteInteger("TraLayer", "KeyXWard1D", static_cast<int64_t>(s.KeyXWard1D));
  ini.WriteInteger("TraLayer", "KeyXWard3D", static_cast<int64_t>(s.KeyXWard3D));
  ini.WriteBool("Setup", "ZPPWBrdAutoSave", s.ZPPWBrdAutoSave);
  ini.WriteBool("Setup", "VPOAutoSave", s.VPOAutoSave);
  ini.WriteBool("SnapBitmap", "DoSnapBitmap", s.DoSnapBitmap);
  ini.WriteInteger("SnapBitmap", "Counts", s.Counts);
  ini.WriteFloat("SnapBitmap", "Alpha", static_cast<double>(s.Alpha));
  if (s.FrameCacheMiB != 0)
    ini.WriteInteger("Setup", "FrameCacheMiB", static_cast<int64_t>(s.FrameCacheMiB));
  else
    ini.DeleteKey("Setup", "FrameCacheMiB");
  ini.DeleteKey("Setup", "ZPPWBrdAutSave");
  if (!ini.SaveToFile(fileName.toStdString(), &err)) {
    if (error) *error = QString::fromStdString(err);
    return false;
  }
  return true;
}

void SettingsLoad() { SettingsLoadFrom(SettingsFileName()); }

bool SettingsSave(QString* error) {
  QDir().mkpath(ConfigDir());
  return SettingsSaveTo(SettingsFileName(), error);
}

QString ConfigDir() {
  if (!gConfigDirOverride.isEmpty()) return gConfigDirOverride;
  const QString env = qEnvironmentVariable("SKM_CONFIG_DIR");
  if (!env.isEmpty()) return env;
  const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
  if (!appDir.isEmpty() && QFileInfo(appDir).isWritable()) return appDir;
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/sketchmark-movies");
}

void SetConfigDir(const QString& dir) { gConfigDirOverride = dir; }

QString SettingsFileName() { return ConfigDir() + QStringLiteral("/sketchmark-movies.ini"); }

QString WhiteboardFileName() { return ConfigDir() + QStringLiteral("/whiteboard_i.zpp"); }

const QStringList& FileKindExtensions(int kind) { return KindExtensions(kind); }

int FileKind(const QString& fileName) { return KindOf(fileName); }

} // namespace skm
