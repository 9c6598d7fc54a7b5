#pragma once
// A lane as the main window makes it: a media manager, a transport bar on a hidden host
// widget, the status report wired to the bar and every delivered picture's frame index
// recorded. Movies are generated, then copied into a fresh folder so that position files
// written beside them stay private to the test.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QWidget>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "MediaTestSupport.h"
#include "TestMovies.h"
#include "TestSupport.h"
#include "media/MfPackManager.h"
#include "media/MfPackPlayer.h"
#include "transport/TraMediaFMX.h"

namespace skmtest {

// Runs the event loop for ms.
inline void SpinFor(int ms) {
  Spin([] { return false; }, ms);
}

inline int IndexOf(const QImage& img) {
  return ReadFrameIndex(img.constBits(), img.width(), img.height(), static_cast<int>(img.bytesPerLine()));
}

// The generated movie, copied to dir/name; empty on failure.
inline QString CopyMovie(const TMovieRecipe& recipe, const QString& dir, const QString& name) {
  const QString src = QString::fromStdString(MakeTestMovie(recipe));
  if (src.isEmpty()) return {};
  const QString dst = dir + u'/' + name;
  return QFile::copy(src, dst) ? dst : QString();
}

inline TMovieRecipe Recipe(const char* rate, int frames, int gop = 12) {
  TMovieRecipe r;
  r.rate = rate;
  r.frames = frames;
  r.gop = gop;
  return r;
}

class LaneTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = QString::fromStdString(MakeTempDir());
    host = std::make_unique<QWidget>();
    host->setAttribute(Qt::WA_DontShowOnScreen);
    host->resize(900, 60);
    host->show();
    mgr = std::make_unique<skm::TMfPackManager>();
    bar = skm::TTraMediaLayout::CreateParam(host.get(), host.get(), mgr.get(), true, 0.5f);
    mgr->TimerViewProc = [this](const QImage& img) { delivered.push_back(IndexOf(img)); };
    mgr->TimerInfoProc = [this](skm::TMediaTime t, float v, bool p) {
      if (bar) bar->LayoutInfo(t, v, p);
    };
  }
  void TearDown() override {
    // The window's order: bars before managers.
    delete bar;
    bar = nullptr;
    mgr.reset();
    host.reset();
  }

  // Opens a movie the way the main window does and waits until it rests on frame 0.
  void Open(const QString& path) {
    mgr->SetFileName(path);
    ASSERT_EQ(mgr->FileName(), path) << messages.Texts().join("|").toStdString();
    bar->SetDuration(mgr->Duration());
    bar->SetRateQue(1.0f);
    bar->RangesOpenFromFile();
    step = mgr->MediaSTEP();
    ASSERT_TRUE(Spin([&] { return Quiet() && !delivered.empty(); }));
  }
  // The player has done all it was asked and the bar holds nothing back.
  bool Quiet() {
    skm::TMfPackPlayer* p = mgr->Player();
    return p && p->PendingKind() == 0 && p->RequestedCommand() == skm::TCommand::CmdNone &&
           !bar->SettlePending() && bar->StepsQueued() == 0;
  }
  bool Paused() { return mgr->Player()->GetState() == skm::TPlayerState::Paused; }
  // Seeks to frame k and waits until its picture has been delivered.
  void GoTo(int k) {
    mgr->SetCurrentTime(uint64_t(k) * step);
    ASSERT_TRUE(Spin([&] { return Quiet(); }));
    // One frame poll, as the timer runs it: the frame is delivered now unless a tick already
    // did, and a later tick has nothing left to deliver.
    mgr->TimerViewTick();
    ASSERT_EQ(delivered.back(), k);
    bar->LayoutInfo(mgr->CurrentTime(), mgr->Volume(), mgr->isPlaying());
  }
  int Shown() const { return delivered.empty() ? -2 : delivered.back(); }

  TRecordingMessages messages;
  QString dir;
  std::unique_ptr<QWidget> host;
  std::unique_ptr<skm::TMfPackManager> mgr;
  skm::TTraMediaLayout* bar = nullptr;
  std::vector<int> delivered;
  skm::TMediaTime step = 0;
};

} // namespace skmtest
