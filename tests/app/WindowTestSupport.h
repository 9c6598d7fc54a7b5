// Helpers shared by the tests that drive a whole main window offscreen.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTest>
#include <functional>
#include <string>

#include "TestMovies.h"

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

} // namespace skmtest
