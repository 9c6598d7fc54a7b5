#pragma once
// The setup dialog's number boxes. Unlike a plain spin box, a number typed outside the
// range is accepted while typing and held at the range's nearer end when the box commits
// (Enter or leaving the box), and typed digits beyond the box's decimals are cut off,
// never rounded, so the box shows what the settings will hold. Arrow keys and the wheel
// step by the small step, Page Up/Down by the big one.
//
// Threads: UI thread only.

#include <QDoubleSpinBox>
#include <QSpinBox>

namespace skm {

// A decimal box with one digit after the point.
class TNumberBoxD final : public QDoubleSpinBox {
  Q_OBJECT
public:
  // min..max, stepped by smallStep (arrows, wheel) and bigStep (Page Up/Down).
  TNumberBoxD(double min, double max, double smallStep, double bigStep, QWidget* parent);
  double BigStep() const { return FBigStep; }
  void stepBy(int steps) override;
  QValidator::State validate(QString& text, int& pos) const override;
  void fixup(QString& text) const override;
private:
  double FBigStep;
};

// An integer box.
class TNumberBoxI final : public QSpinBox {
  Q_OBJECT
public:
  TNumberBoxI(int min, int max, int smallStep, int bigStep, QWidget* parent);
  int BigStep() const { return FBigStep; }
  void stepBy(int steps) override;
  QValidator::State validate(QString& text, int& pos) const override;
  void fixup(QString& text) const override;
private:
  int FBigStep;
};

} // namespace skm
