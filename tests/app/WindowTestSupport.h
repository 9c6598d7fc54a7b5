// Helpers shared by the tests that drive a whole main window offscreen.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTest>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "TestMovies.h"
#include "TestSupport.h"
#include "app/settings/Setup.h"
#include "platform/FMXUtils.h"

namespace skmtest {

// Runs the event loop until cond holds; false when it did not within ms.
inline bool WaitUntil(const std::function<bool()>& cond, int ms = 15000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(10);
  }
  return true;
}

// A 50-frame generated movie copied to dir/name (its own file, so position files land
// beside it); empty when it could not be made.
inline QString Movie(const QString& dir, const QString& name) {
  TMovieRecipe r;
  r.frames = 50;
  const std::string cached = MakeTestMovie(r);
  const QString dst = dir + "/" + name;
  QFile::remove(dst);
  if (cached.empty() || !QFile::copy(QString::fromStdString(cached), dst)) return {};
  return dst;
}

// A window test's surroundings: default settings in a settings folder of its own, the
// held-key table installed and empty, messages recorded instead of shown.
class TWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    FDir = QString::fromStdString(MakeTempDir());
    skm::SetConfigDir(FDir);
    skm::gSettings = skm::TSettings{};
    skm::KeyHookInstall();
    skm::KeyTableClear();
  }
  void TearDown() override {
    skm::KeyTableClear();
    skm::SetConfigDir(QString());
  }
  QString FDir;
  TRecordingMessages FMessages;
};

} // namespace skmtest
