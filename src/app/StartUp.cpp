#include "app/StartUp.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWindow>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/FrmMain.h"
#include "app/Splash.h"
#include "app/ViewExportCommand.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "imagefiles/ConvertCommand.h"
#include "media/FrameExport.h"
#include "platform/FMXUtils.h"

namespace skm {
namespace {

const char* kUsage =
    "Usage: sketchmark-movies [options] [FILE1 [FILE2]]\n"
    "Studies and compares two movies frame by frame.\n"
    "\n"
    "FILE1 opens into lane 1 and FILE2 into lane 2 once the window is shown, as if\n"
    "chosen with the open button: a movie (.mp4 .mov .mkv .webm .avi and other common\n"
    "containers) or a picture (.jpg .jpeg .png .bmp .psd .hdr); a file whose name does\n"
    "not say is recognised by its content. Lane 2 takes a file only beside a movie in\n"
    "lane 1.\n"
    "\n"
    "Options:\n"
    "  --config-dir DIR     folder of the settings and whiteboard files\n"
    "                       (also the environment variable SKM_CONFIG_DIR)\n"
    "  --no-splash-wait     do not hold the splash window for 1.5 s (automated runs)\n"
    "  --quit-after MS      close the main window after MS milliseconds (automated runs)\n"
    "  --grab FILE.png      with --quit-after: save a picture of the window before closing\n"
    "  --help               show this text\n"
    "\n"
    "Headless commands (no window):\n"
    "  --convert IN OUT                       read a picture, write it by OUT's extension\n"
    "  --export-frame MOVIE --frame N --output OUT.png\n"
    "                                         write frame N (0-based) exactly as shown\n"
    "  --export-view LANE1 [LANE2] [--frame N] [--frame2 M] [--opacity X]\n"
    "                [--side-by-side] [--annotations FILE.zpp] --output OUT.png\n"
    "                                         write what the canvas shows at lane 1's\n"
    "                                         resolution: lane 2 (frame M, default N) stacked\n"
    "                                         at opacity X (default 0.5) or beside lane 1,\n"
    "                                         the annotations over both; a lane is a movie\n"
    "                                         or a still image\n"
    "  --frame-info MOVIE                     print size, frame rate, step, duration, frames\n"
    "  --version            show the version\n";

struct TOptions {
  // Headless command: "convert", "export-frame", "frame-info" or empty for the window.
  QString Command;
  QString In, Out;
  qint64 Frame = -1;
  bool NoSplashWait = false;
  int QuitAfterMs = -1;
  QString Grab;
  QStringList Files;  // opened into lanes 1 and 2 once the window is shown
};

// Returns false (after printing why) on an unknown option or a missing value.
bool ParseOptions(int argc, char** argv, TOptions& o, int& exitCode) {
  auto value = [&](int& i, const char* name) -> const char* {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "sketchmark-movies: %s needs a value\n", name);
      return nullptr;
    }
    return argv[++i];
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (optionsEnded || a[0] != '-' || !a[1]) {
      if (o.Files.size() == 2) {
        std::fprintf(stderr, "sketchmark-movies: at most two files, one per lane (see --help)\n");
        exitCode = 2;
        return false;
      }
      o.Files << QString::fromLocal8Bit(a);
      continue;
    }
    if (!std::strcmp(a, "--")) {
      optionsEnded = true;
      continue;
    }
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      std::fputs(kUsage, stdout);
      exitCode = 0;
      return false;
    }
    if (!std::strcmp(a, "--version")) {
      std::printf("Sketchmark Movies %s\n", SKM_VERSION_TEXT);
      exitCode = 0;
      return false;
    }
    if (!std::strcmp(a, "--no-splash-wait")) {
      o.NoSplashWait = true;
    } else if (!std::strcmp(a, "--config-dir")) {
      const char* v = value(i, a);
      if (!v) return exitCode = 2, false;
      SetConfigDir(QString::fromLocal8Bit(v));
    } else if (!std::strcmp(a, "--quit-after")) {
      const char* v = value(i, a);
      if (!v) return exitCode = 2, false;
      o.QuitAfterMs = std::atoi(v);
    } else if (!std::strcmp(a, "--grab")) {
      const char* v = value(i, a);
      if (!v) return exitCode = 2, false;
      o.Grab = QString::fromLocal8Bit(v);
    } else if (!std::strcmp(a, "--convert")) {
      if (i + 2 >= argc) {
        std::fprintf(stderr, "sketchmark-movies: --convert needs IN and OUT\n");
        return exitCode = 2, false;
      }
      o.Command = "convert";
      o.In = QString::fromLocal8Bit(argv[++i]);
      o.Out = QString::fromLocal8Bit(argv[++i]);
    } else if (!std::strcmp(a, "--export-frame") || !std::strcmp(a, "--frame-info")) {
      const char* v = value(i, a);
      if (!v) return exitCode = 2, false;
      o.Command = QString::fromLatin1(a + 2);
      o.In = QString::fromLocal8Bit(v);
    } else if (!std::strcmp(a, "--frame")) {
      const char* v = value(i, a);
      if (!v) return exitCode = 2, false;
      char* end = nullptr;
      const long long n = std::strtoll(v, &end, 10);
      if (!*v || *end || n < 0) {
        std::fprintf(stderr, "sketchmark-movies: --frame needs a frame number from 0 up\n");
        return exitCode = 2, false;
      }
      o.Frame = n;
    } else if (!std::strcmp(a, "--output")) {
      const char* v = value(i, a);
      if (!v) return exitCode = 2, false;
      o.Out = QString::fromLocal8Bit(v);
    } else {
      std::fprintf(stderr, "sketchmark-movies: unknown option %s (see --help)\n", a);
      exitCode = 2;
      return false;
    }
  }
  return true;
}

int RunHeadless(int argc, char** argv, const TOptions& o) {
  // Image plugins need an application object, never a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (o.Command == QLatin1String("convert")) return RunConvertCommand(o.In, o.Out);
  if (o.Command == QLatin1String("frame-info")) return RunFrameInfo(o.In);
  if (o.Frame < 0 || o.Out.isEmpty()) {
    std::fprintf(stderr, "sketchmark-movies: --export-frame needs --frame N and --output FILE\n");
    return 2;
  }
  return RunExportFrame(o.In, o.Frame, o.Out);
}

} // namespace

int ProgramMain(int argc, char** argv) {
  // --export-view has options of its own and runs before the others are looked at.
  if (IsViewExportCommand(argc, argv)) return ViewExportMain(argc, argv);
  TOptions opts;
  int exitCode = 0;
  if (!ParseOptions(argc, argv, opts, exitCode)) return exitCode;
  if (qEnvironmentVariableIntValue("SKM_NO_SPLASH_WAIT") != 0) opts.NoSplashWait = true;
  if (!opts.Command.isEmpty()) return RunHeadless(argc, argv, opts);

  // Program initialisation, before the UI layer starts.
  KeyTableClear();
  SettingsDefaultsKeep();

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sketchmark-movies"));
  QApplication::setApplicationVersion(VersionText());
  KeyHookInstall();

  {
    auto splash = std::make_unique<TSplashFrm>();
    splash->show();
    // The window system maps the splash asynchronously; wait (briefly) until it can be
    // painted so the picture is really on screen during the wait below.
    QElapsedTimer mapped;
    mapped.start();
    while (mapped.elapsed() < 1000) {
      QApplication::processEvents();
      if (splash->windowHandle() && splash->windowHandle()->isExposed()) {
        splash->repaint();
        QApplication::processEvents();
        break;
      }
      QThread::msleep(5);
    }
    // The splash stays up, without events, for its 1.5 s; automated runs skip the wait.
    if (!opts.NoSplashWait) QThread::msleep(1500);
    splash->close();
  } // destroyed before the main window is built

  TMainFrm mainFrm;
  ThemeApply(IsLightTheme());
  // Restored, the window is centred; shown maximised (where a window manager honours it).
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect g = mainFrm.frameGeometry();
    g.moveCenter(screen->availableGeometry().center());
    mainFrm.move(g.topLeft());
  }
  mainFrm.showMaximized();
  // The files open after the window is shown, each waiting for its first picture with
  // the event loop running, so the window paints and answers meanwhile.
  if (!opts.Files.isEmpty())
    QTimer::singleShot(0, &mainFrm, [&mainFrm, files = opts.Files] { mainFrm.OpenArguments(files); });
  if (opts.QuitAfterMs >= 0) {
    QTimer::singleShot(opts.QuitAfterMs, &mainFrm, [&] {
      if (!opts.Grab.isEmpty()) mainFrm.grab().save(opts.Grab);
      mainFrm.close();
    });
  }
  const int rc = app.exec();
  return mainFrm.LastSettingsError().isEmpty() ? rc : (rc ? rc : 1);
}

} // namespace skm
