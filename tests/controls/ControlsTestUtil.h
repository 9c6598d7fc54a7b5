#pragma once
// Shared set-up for the control tests: fake time, hand-driven drag timers, a clean
// held-key table.
#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>

#include "controls/TickSource.h"
#include "platform/FMXUtils.h"

namespace skmtest {

inline uint32_t gFakeTick = 0;

class ControlsTest : public ::testing::Test {
protected:
  void SetUp() override {
    gFakeTick = 1000;
    skm::SetTickSource([] { return gFakeTick; });
    skm::SetManualDragTimers(true);
    skm::KeyTableClear();
    host = std::make_unique<QWidget>();
    host->setAttribute(Qt::WA_DontShowOnScreen);
    host->resize(600, 60);
    host->show();
  }
  void TearDown() override {
    host.reset();
    skm::SetTickSource({});
    skm::SetManualDragTimers(false);
    skm::KeyTableClear();
  }
  // Runs the queued repaints (and anything they queue).
  static void Flush() {
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
  }
  std::unique_ptr<QWidget> host;
};

} // namespace skmtest
