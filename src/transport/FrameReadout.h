#pragma once
// The frame readout of a transport bar: the lane's current frame number and time
// ("1234 / 5000  00:41.133"), and while a range mark is being dragged the marks' frame
// numbers ("A 120  B 480") in front of it.
//
// Frame numbers are positions divided by the frame step, rounded down: the numbers of the
// position file's "Start" and "End" and of --export-frame. The total is the number of whole
// frames in the movie (duration div step), which is also the default of "End".
//
// The readout lies over the upper half of the time track, white with a dark outline so it
// can be read over any picture, at an opacity of its own well above the bar's idle
// opacity. It takes no pointer events: presses reach the track's marks beneath it.
//
// Threads: UI thread only. Ownership: a child widget of the track area, owned by it.

#include <QString>
#include <QWidget>

#include "platform/core/MediaTime.h"

namespace skm {

// "m:ss.mmm"-style time of a position: "00:41.133", with hours when there are any
// ("1:02:03.456"); "--:--.---" for no position.
QString FrameReadoutTime(TMediaTime t);
// "frame / frames" for a position, or "- / frames" when there is no position or step.
QString FrameReadoutFrames(TMediaTime t, TMediaTime step, TMediaTime duration);
// The frame number of a position: t div step; -1 without a position or a step.
qint64 FrameReadoutIndex(TMediaTime t, TMediaTime step);

class TTraFrameReadout : public QWidget {
  Q_OBJECT
public:
  // Opacity of the readout (the bar's controls idle at 0.2).
  static constexpr float kOpacity = 0.9f;

  // Lies over the upper half of parent and follows its size.
  explicit TTraFrameReadout(QWidget* parent);

  // What the lane shows now. No step (0) or no duration: the readout is empty.
  void SetPosition(TMediaTime t, TMediaTime step, TMediaTime duration);
  // The marks, shown while markDrag is true.
  void SetMarks(TMediaTime range0, TMediaTime range1, bool markDrag);
  // The text drawn (for tests and the owner).
  QString Text() const { return FText; }

protected:
  void paintEvent(QPaintEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void TextUpdate();

  TMediaTime FTime = kNoPosition;
  TMediaTime FStep = 0;
  TMediaTime FDuration = 0;
  TMediaTime FRange0 = 0;
  TMediaTime FRange1 = 0;
  bool FMarkDrag = false;
  QString FText;
};

} // namespace skm
