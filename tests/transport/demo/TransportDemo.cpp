// Two transport bars, dark and light, each on its own lane of a generated movie, with marks
// set and the playhead inside the range; writes a screenshot of the window.
// Usage: skm_transport_demo [out.png]   (QT_QPA_PLATFORM decides where it is shown)
#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

#include "TestMovies.h"
#include "media/MfPackManager.h"
#include "media/MfPackPlayer.h"
#include "transport/TraMediaFMX.h"

using namespace skm;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("transport-demo.png");
  skmtest::TMovieRecipe r;
  r.frames = 250;
  const QString movie = QString::fromStdString(skmtest::MakeTestMovie(r));
  if (movie.isEmpty()) return 1;

  QWidget window;
  window.resize(900, 140);
  window.setWindowTitle(QStringLiteral("Transport bars"));
  auto* column = new QVBoxLayout(&window);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);
  TMfPackManager lanes[2];
  TTraMediaLayout* bars[2] = {};
  for (int i = 0; i < 2; ++i) {
    const bool dark = i == 0;
    auto* panel = new QWidget(&window);
    panel->setFixedHeight(60);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor::fromRgba(dark ? 0xFF202020u : 0xFFF0F0F0u));
    panel->setPalette(pal);
    column->addWidget(panel);
    bars[i] = TTraMediaLayout::CreateParam(&window, panel, &lanes[i], dark, 0.5f);
    lanes[i].TimerViewProc = [](const QImage&) {};
    lanes[i].TimerInfoProc = [bar = bars[i]](TMediaTime t, float v, bool p) { bar->LayoutInfo(t, v, p); };
  }
  window.show();
  for (int i = 0; i < 2; ++i) {
    lanes[i].SetFileName(movie);
    // A new movie comes to rest paused on its first frame; a seek before that would take
    // the place of that pause.
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 5000 && !(lanes[i].Player()->GetState() == TPlayerState::Paused &&
                                      lanes[i].Player()->PendingKind() == 0))
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    bars[i]->SetDuration(lanes[i].Duration());
    bars[i]->SetRateQue(1.0f);
    const TMediaTime d = lanes[i].Duration();
    bars[i]->SetRange0(d / 5);
    bars[i]->SetRange1(d * 7 / 10);
    lanes[i].SetCurrentTime(d * 2 / 5);
  }
  bars[1]->TraMRateExecute();  // the light lane shows the double-rate gauge
  lanes[1].SetVolume(0.4f);
  QTimer::singleShot(1200, [&] {
    const bool ok = window.grab().save(out, "PNG");
    if (!ok) std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
    for (auto* b : bars) delete b;  // bars before their managers
    app.exit(ok ? 0 : 1);
  });
  return app.exec();
}
