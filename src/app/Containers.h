#pragma once
// The main window's container tree: rectangles (filled, optionally translucent) and
// layouts (no fill) that place their children by alignment, in child order, the way the
// window's design describes them: along an edge, filling the rest, or centred.
//
// A container that is not hit-testable lets pointer presses through to its parent, so a
// click on the bare part of a fly-out reaches the overlay behind it.
//
// Threads: UI thread only.

#include <QWidget>
#include <cstdint>
#include <functional>

#include "controls/Align.h"

namespace skm {

class TContainer : public QWidget {
  Q_OBJECT
public:
  // fill: 0xAARRGGBB, 0 for a layout without fill.
  TContainer(QWidget* parent, const QString& name, TAlign align, QSize designSize, uint32_t fill = 0);

  TAlign Align() const { return FAlign; }
  // The size the container asks for along its alignment (height for Bottom, width for
  // Left/Right, both for Center and None).
  QSize DesignSize() const { return FDesignSize; }
  void SetDesignSize(QSize size);
  uint32_t Fill() const { return FFill; }
  void SetFill(uint32_t argb);
  // Opacity of the fill, 0..1.
  double FillOpacity() const { return FOpacity; }
  void SetFillOpacity(double opacity);
  // Whether presses are taken here (true) or passed to the parent (false).
  bool HitTest() const { return FHitTest; }
  void SetHitTest(bool on) { FHitTest = on; }
  // Runs on a press taken here (the overlay's click).
  std::function<void()> OnClick;

  // Places the aligned children inside this container's rectangle.
  void Realign();

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void childEvent(QChildEvent* e) override;
  bool event(QEvent* e) override;

private:
  TAlign FAlign;
  QSize FDesignSize;
  uint32_t FFill;
  double FOpacity = 1.0;
  bool FHitTest = true;
};

// Places a parent's aligned TContainer children within rect, in child order.
void AlignChildren(QWidget* parent, QRect rect);

} // namespace skm
