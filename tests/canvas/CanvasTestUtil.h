#pragma once
// Shared pieces of the canvas tests: a shown window holding a canvas, real pointer and
// wheel events sent through the window, and pixel reading of the annotation layer.
#include <QApplication>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

#include "canvas/SkImage.h"
#include "platform/FMXUtils.h"

namespace skmtest {

// The premultiplied pixel of the shown annotation layer at a control position (0 while
// the layer for the view is still being made).
inline uint32_t LayerPixel(const skm::TSkImage& c, int x, int y) {
  const QImage img = c.LayerImage();
  if (img.isNull()) return 0;
  return reinterpret_cast<const uint32_t*>(img.constScanLine(y))[x];
}

class CanvasWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    skm::KeyHookInstall();
    skm::KeyTableClear();
    window = std::make_unique<QWidget>();
    window->resize(1280, 720);
    canvas = new skm::TSkImage(window.get());
    canvas->setGeometry(0, 0, 1280, 720);
    canvas->SetSkPaths(&current);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    win = window->windowHandle();
    canvas->ImageResize();
  }
  void TearDown() override {
    window.reset();
    skm::KeyTableClear();
  }
  void Key(Qt::Key k, bool down) {
    if (down) QTest::keyPress(win, k);
    else QTest::keyRelease(win, k);
  }
  void Press(QPoint p, Qt::KeyboardModifiers m = {}) { QTest::mousePress(win, Qt::LeftButton, m, p); }
  // QTest keeps the pressed buttons, so this is a drag while a button is down.
  void Move(QPoint p, Qt::KeyboardModifiers = {}) { QTest::mouseMove(win, p); }
  void Release(QPoint p, Qt::KeyboardModifiers m = {}) { QTest::mouseRelease(win, Qt::LeftButton, m, p); }
  void Drag(std::initializer_list<QPoint> pts, Qt::KeyboardModifiers m = {}) {
    auto it = pts.begin();
    Press(*it, m);
    QPoint last = *it;
    for (++it; it != pts.end(); ++it) Move(last = *it, m);
    Release(last, m);
  }
  void Wheel(QPoint p, int delta, Qt::KeyboardModifiers m = {}) {
    QWheelEvent e(QPointF(p), win->mapToGlobal(QPointF(p)), QPoint(), QPoint(0, delta), QGuiApplication::mouseButtons(), m,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(win, &e);
  }

  skm::TSkPaths list;
  skm::TSkPaths* current = &list;
  std::unique_ptr<QWidget> window;
  skm::TSkImage* canvas = nullptr;
  QWindow* win = nullptr;
};

} // namespace skmtest
