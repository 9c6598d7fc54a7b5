#include "app/dialogs/NumberBox.h"

#include <algorithm>
#include <cmath>

namespace skm {
namespace {

// Qt steps by 10 single steps for Page Up/Down (and Ctrl+wheel); those become big steps.
constexpr int kPageSteps = 10;

// The number in a box's text without its prefix and suffix; false when there is none.
bool TypedNumber(const QAbstractSpinBox& box, const QString& prefix, const QString& suffix,
                 const QString& text, double& value) {
  QString t = text;
  if (!prefix.isEmpty() && t.startsWith(prefix)) t.remove(0, prefix.size());
  if (!suffix.isEmpty() && t.endsWith(suffix)) t.chop(suffix.size());
  t = t.trimmed();
  if (t.isEmpty()) return false;
  bool ok = false;
  value = box.locale().toDouble(t, &ok);
  if (!ok) value = QLocale::c().toDouble(t, &ok);
  return ok && std::isfinite(value);
}

} // namespace

TNumberBoxD::TNumberBoxD(double min, double max, double smallStep, double bigStep, QWidget* parent)
    : QDoubleSpinBox(parent), FBigStep(bigStep) {
  setDecimals(1);
  setRange(min, max);
  setSingleStep(smallStep);
  setKeyboardTracking(false);
  setAccelerated(false);
}

void TNumberBoxD::stepBy(int steps) {
  if (std::abs(steps) < kPageSteps) return QDoubleSpinBox::stepBy(steps);
  const double small = singleStep();
  setSingleStep(FBigStep);
  QDoubleSpinBox::stepBy(steps / kPageSteps);
  setSingleStep(small);
}

QValidator::State TNumberBoxD::validate(QString& text, int& pos) const {
  const QValidator::State state = QDoubleSpinBox::validate(text, pos);
  if (state != QValidator::Invalid) return state;
  // Out of range or too many digits: let the user finish typing; fixup decides.
  double v = 0;
  return TypedNumber(*this, prefix(), suffix(), text, v) ? QValidator::Intermediate : QValidator::Invalid;
}

void TNumberBoxD::fixup(QString& text) const {
  double v = 0;
  if (!TypedNumber(*this, prefix(), suffix(), text, v)) return QDoubleSpinBox::fixup(text);
  // Cut, do not round: 0.25 becomes 0.2, as the settings' own conversion would make it.
  const double scale = std::pow(10.0, decimals());
  v = std::trunc(v * scale) / scale;
  text = textFromValue(std::clamp(v, minimum(), maximum()));
}

TNumberBoxI::TNumberBoxI(int min, int max, int smallStep, int bigStep, QWidget* parent)
    : QSpinBox(parent), FBigStep(bigStep) {
  setRange(min, max);
  setSingleStep(smallStep);
  setKeyboardTracking(false);
  setAccelerated(false);
}

void TNumberBoxI::stepBy(int steps) {
  if (std::abs(steps) < kPageSteps) return QSpinBox::stepBy(steps);
  const int small = singleStep();
  setSingleStep(FBigStep);
  QSpinBox::stepBy(steps / kPageSteps);
  setSingleStep(small);
}

QValidator::State TNumberBoxI::validate(QString& text, int& pos) const {
  const QValidator::State state = QSpinBox::validate(text, pos);
  if (state != QValidator::Invalid) return state;
  double v = 0;
  return TypedNumber(*this, prefix(), suffix(), text, v) ? QValidator::Intermediate : QValidator::Invalid;
}

void TNumberBoxI::fixup(QString& text) const {
  double v = 0;
  if (!TypedNumber(*this, prefix(), suffix(), text, v)) return QSpinBox::fixup(text);
  // Clamp in double first: a typed 1e30 must not overflow the int.
  v = std::clamp(std::trunc(v), double(minimum()), double(maximum()));
  text = textFromValue(static_cast<int>(v));
}

} // namespace skm
