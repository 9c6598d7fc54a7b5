#include "Desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "TestMovies.h"

namespace skme2e {

namespace {

void Sleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

bool DisplayTaken(int n) {
  return QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
         QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n));
}

void Kill(std::unique_ptr<QProcess>& p) {
  if (!p) return;
  if (p->state() != QProcess::NotRunning) {
    p->terminate();
    if (!p->waitForFinished(3000)) {
      p->kill();
      p->waitForFinished(3000);
    }
  }
  p.reset();
}

} // namespace

TDesktop::~TDesktop() { Stop(); }

bool TDesktop::Start() {
  // A display no one uses; high numbers keep clear of the ones people pick by hand. A
  // lost race with another test process shows as an Xvfb that ends at once: next number.
  const int first = qEnvironmentVariableIsSet("SKM_E2E_DISPLAY")
                        ? qEnvironmentVariableIntValue("SKM_E2E_DISPLAY")
                        : 100 + static_cast<int>(QCoreApplication::applicationPid() % 300);
  for (int n = first; n < first + 40; ++n) {
    if (DisplayTaken(n)) continue;
    FXvfb = std::make_unique<QProcess>();
    FXvfb->setProcessChannelMode(QProcess::MergedChannels);
    FXvfb->start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0", "1280x800x24",
                                          "-nolisten", "tcp", "-noreset"});
    if (!FXvfb->waitForStarted(5000)) {
      FError = QStringLiteral("Xvfb cannot be started (is the package xvfb installed?)");
      FXvfb.reset();
      return false;
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && FXvfb->state() == QProcess::Running &&
           !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
      Sleep(20);
    if (FXvfb->state() != QProcess::Running) {
      FXvfb.reset();
      continue;
    }
    FDisplay = QStringLiteral(":%1").arg(n);
    break;
  }
  if (FDisplay.isEmpty()) {
    FError = QStringLiteral("no free X display for Xvfb");
    return false;
  }
  bool ok = false;
  for (int i = 0; i < 200 && !ok; ++i) {
    Run(QStringLiteral("xdotool"), {"getdisplaygeometry"}, &ok, 3000);
    if (!ok) Sleep(25);
  }
  if (!ok) {
    FError = QStringLiteral("xdotool cannot talk to the X server (is the package xdotool installed?)");
    return false;
  }
  FWm = std::make_unique<QProcess>();
  FWm->setProcessEnvironment(Environment());
  FWm->setProcessChannelMode(QProcess::MergedChannels);
  FWm->start(QStringLiteral("openbox"), {"--sm-disable"});
  if (!FWm->waitForStarted(5000)) {
    FError = QStringLiteral("openbox cannot be started (is the package openbox installed?)");
    return false;
  }
  // The window manager is up once it publishes its desktops; until then a window mapped
  // would not get its frame and its maximised size.
  for (int i = 0; i < 400; ++i) {
    // xdotool reads the desktop count the window manager publishes (EWMH).
    const QByteArray out = Run(QStringLiteral("xdotool"), {"get_num_desktops"}, &ok, 3000);
    if (ok && out.trimmed().toInt() > 0) return true;
    if (FWm->state() != QProcess::Running) break;
    Sleep(25);
  }
  FError = QStringLiteral("openbox did not come up: ") + QString::fromLocal8Bit(FWm->readAll());
  return false;
}

void TDesktop::Stop() {
  Kill(FWm);
  Kill(FXvfb);
}

QProcessEnvironment TDesktop::Environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", FDisplay);
  env.remove("WAYLAND_DISPLAY");
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("SDL_AUDIODRIVER", "dummy");
  env.insert("SKM_COLOR_SCHEME", "dark");
  env.remove("SKM_CONFIG_DIR");
  env.remove("SKM_NO_SPLASH_WAIT");
#ifdef SKM_LSAN_SUPPRESSIONS
  env.insert("LSAN_OPTIONS", QStringLiteral("suppressions=") + QStringLiteral(SKM_LSAN_SUPPRESSIONS));
#endif
#ifdef SKM_TSAN_SUPPRESSIONS
  env.insert("TSAN_OPTIONS", QStringLiteral("suppressions=") + QStringLiteral(SKM_TSAN_SUPPRESSIONS));
#endif
  return env;
}

QByteArray TDesktop::Run(const QString& program, const QStringList& args, bool* ok, int timeoutMs) const {
  QProcess p;
  p.setProcessEnvironment(Environment());
  p.start(program, args);
  const bool done = p.waitForStarted(5000) && p.waitForFinished(timeoutMs);
  if (!done) {
    p.kill();
    p.waitForFinished(2000);
  }
  const bool good = done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (ok) *ok = good;
  return good ? p.readAllStandardOutput() : QByteArray();
}

TProgram::TProgram(const TDesktop& desktop, QString program)
    : FDesktop(desktop), FProgram(std::move(program)) {}

TProgram::~TProgram() {
  if (FProcess && FProcess->state() != QProcess::NotRunning) {
    FProcess->kill();
    FProcess->waitForFinished(5000);
  }
}

bool TProgram::Start(const QString& configDir, const QStringList& args) {
  FProcess = std::make_unique<QProcess>();
  FProcess->setProcessEnvironment(FDesktop.Environment());
  FProcess->setProcessChannelMode(QProcess::SeparateChannels);
  FProcess->start(FProgram, QStringList{"--config-dir", configDir, "--no-splash-wait"} + args);
  if (!FProcess->waitForStarted(10000)) {
    FError = QStringLiteral("the program cannot be started: ") + FProgram;
    return false;
  }
  const QString pid = QString::number(FProcess->processId());
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 30000) {
    if (FProcess->state() == QProcess::NotRunning) {
      FError = QStringLiteral("the program ended at start: ") + StdErr();
      return false;
    }
    bool ok = false;
    const QByteArray out = FDesktop.Run(QStringLiteral("xdotool"),
        {"search", "--all", "--onlyvisible", "--pid", pid, "--name", "^Sketchmark Movies$"}, &ok, 3000);
    if (ok && !out.trimmed().isEmpty()) {
      FWindow = QString::fromLatin1(out.trimmed().split('\n').first());
      // Mapped is not yet painted at its final (maximised) size: wait for two equal
      // screenshots of a non-empty window.
      QImage prev;
      while (t.elapsed() < 30000) {
        const QImage now = Grab();
        if (!now.isNull() && now.width() > 900 && now == prev) return true;
        prev = now;
        Sleep(100);
      }
      break;
    }
    Sleep(100);
  }
  FError = QStringLiteral("the main window did not appear: ") + StdErr();
  return false;
}

QImage TProgram::Grab() const {
  if (FWindow.isEmpty()) return {};
  bool ok = false;
  const QByteArray png = FDesktop.Run(QStringLiteral("import"), {"-window", FWindow, "png:-"}, &ok, 15000);
  QImage img;
  if (ok) img.loadFromData(png, "PNG");
  return img.convertToFormat(QImage::Format_RGB32);
}

bool TProgram::WaitFor(const std::function<bool(const QImage&)>& test, int timeoutMs, QImage* last) const {
  QElapsedTimer t;
  t.start();
  QImage img;
  bool met = false;
  do {
    img = Grab();
    if (!img.isNull() && test(img)) {
      met = true;
      break;
    }
    Sleep(100);
  } while (t.elapsed() < timeoutMs);
  if (last) *last = img;
  return met;
}

void TProgram::Activate() const {
  FDesktop.Run(QStringLiteral("xdotool"), {"windowactivate", "--sync", FWindow});
}

void TProgram::Key(const QString& key) const {
  Activate();
  FDesktop.Run(QStringLiteral("xdotool"), {"key", "--clearmodifiers", key});
}

void TProgram::Click(int x, int y) const {
  Activate();
  FDesktop.Run(QStringLiteral("xdotool"), {"mousemove", "--window", FWindow, "--sync", QString::number(x),
                                           QString::number(y), "click", "1"});
}

void TProgram::Drag(int x0, int y0, int x1, int y1, int steps) const {
  Activate();
  const QString xd = QStringLiteral("xdotool");
  FDesktop.Run(xd, {"mousemove", "--window", FWindow, "--sync", QString::number(x0), QString::number(y0)});
  FDesktop.Run(xd, {"mousedown", "1"});
  for (int i = 1; i <= steps; ++i) {
    const int x = x0 + (x1 - x0) * i / steps, y = y0 + (y1 - y0) * i / steps;
    FDesktop.Run(xd, {"mousemove", "--window", FWindow, "--sync", QString::number(x), QString::number(y)});
  }
  FDesktop.Run(xd, {"mouseup", "1"});
}

int TProgram::Close(int timeoutMs) {
  if (!FProcess) return -1;
  // The window manager now and then never sees the first Alt+F4 right after a drag (the
  // program gets no close request at all): ask again while it is still running.
  QElapsedTimer t;
  t.start();
  for (int ask = 0; ask < 3; ++ask) {
    Key(QStringLiteral("alt+F4"));
    const int left = timeoutMs - int(t.elapsed());
    if (left <= 0) break;
    if (FProcess->waitForFinished(ask < 2 ? std::min(3000, left) : left)) break;
  }
  if (FProcess->state() != QProcess::NotRunning) return -1;
  return FProcess->exitStatus() == QProcess::NormalExit ? FProcess->exitCode() : -1;
}

QString TProgram::StdErr() {
  if (FProcess) FErr += FProcess->readAllStandardError();
  return QString::fromLocal8Bit(FErr);
}

int FrameIndexIn(const QImage& picture, const QRect& area) {
  const QRect r = area.intersected(picture.rect());
  if (r.isEmpty()) return -1;
  const QImage crop = picture.copy(r).convertToFormat(QImage::Format_ARGB32);
  return skmtest::ReadFrameIndex(crop.constBits(), crop.width(), crop.height(),
                                 static_cast<int>(crop.bytesPerLine()));
}

QRect FitWhole(const QRect& area, int mw, int mh) {
  const double t = std::min(double(area.width()) / mw, double(area.height()) / mh);
  const int w = int(t * mw), h = int(t * mh);
  return QRect(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h);
}

} // namespace skme2e
