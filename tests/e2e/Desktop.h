#pragma once
// A real desktop for end-to-end tests: an Xvfb server with the openbox window manager,
// the program started on it as a user would start it, driven with xdotool and watched
// through screenshots taken with ImageMagick's `import`.
//
// Nothing here skips: a missing Xvfb, openbox, xdotool or import is a failure, since the
// project's install script provides them.
//
// Threads: the test's main thread only.

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace skme2e {

class TDesktop {
public:
  TDesktop() = default;
  ~TDesktop();
  // Starts Xvfb (1280 x 800 x 24) on a free display and openbox on it; false with
  // Error() when either cannot be started.
  bool Start();
  void Stop();
  // ":N".
  QString Display() const { return FDisplay; }
  QString Error() const { return FError; }

  // Runs a helper program (xdotool, import) on this display; its standard output, or
  // empty with ok false when it failed or took longer than timeoutMs.
  QByteArray Run(const QString& program, const QStringList& args, bool* ok = nullptr,
                 int timeoutMs = 15000) const;
  // The environment programs on this display get.
  QProcessEnvironment Environment() const;

private:
  std::unique_ptr<QProcess> FXvfb;
  std::unique_ptr<QProcess> FWm;
  QString FDisplay;
  QString FError;
};

// The program, started with arguments on a desktop.
class TProgram {
public:
  TProgram(const TDesktop& desktop, QString program);
  ~TProgram();
  // Starts it with --config-dir configDir --no-splash-wait and the extra arguments, and
  // waits until its main window is mapped; false with Error() otherwise.
  bool Start(const QString& configDir, const QStringList& args);
  // The main window's X id.
  QString Window() const { return FWindow; }
  QString Error() const { return FError; }
  // A picture of the main window's client area (null on failure).
  QImage Grab() const;
  // Polls screenshots until test(picture) holds or timeoutMs passed; the last picture
  // is left in *last. The timeout only bounds the wait; it is never a measurement.
  bool WaitFor(const std::function<bool(const QImage&)>& test, int timeoutMs = 15000,
               QImage* last = nullptr) const;
  // Gives the window the focus and types keys (xdotool key names, such as "v").
  void Key(const QString& key) const;
  // Left click at window coordinates.
  void Click(int x, int y) const;
  // A left-button drag through window coordinates, in small moves.
  void Drag(int x0, int y0, int x1, int y1, int steps = 12) const;
  // Closes the window as a user does (the window manager's close), then waits for the
  // process to end; its exit code, or -1 when it did not end.
  int Close(int timeoutMs = 20000);
  // Standard error of the program so far.
  QString StdErr();

private:
  void Activate() const;
  const TDesktop& FDesktop;
  QString FProgram;
  std::unique_ptr<QProcess> FProcess;
  QString FWindow;
  QString FError;
  QByteArray FErr;
};

// The frame index the picture's rectangle shows (test-movie bars), or -1.
int FrameIndexIn(const QImage& picture, const QRect& area);

// Where a picture of mw x mh pixels lies when fitted whole, centred, into area.
QRect FitWhole(const QRect& area, int mw, int mh);

} // namespace skme2e
