#include "controls/SvgPath.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

namespace skm {
namespace {

class TReader {
public:
  explicit TReader(const QString& data) : FText(data.toStdString()) {}

  void SkipSeparators() {
    while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == ',' || FText[FPos] == '\t' ||
                                   FText[FPos] == '\n' || FText[FPos] == '\r'))
      ++FPos;
  }
  bool AtEnd() {
    SkipSeparators();
    return FPos >= FText.size();
  }
  // The next character when it is a command letter, else 0 (a number follows or the end).
  char PeekCommand() {
    SkipSeparators();
    if (FPos >= FText.size()) return 0;
    const char c = FText[FPos];
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && c != 'e' && c != 'E' ? c : 0;
  }
  void Skip() { ++FPos; }

  // One number in SVG's grammar: sign, digits, fraction, exponent. strtod alone would also
  // accept "inf", "nan" and hex, which are not path data.
  bool Number(double& out) {
    SkipSeparators();
    const size_t start = FPos;
    size_t p = FPos;
    if (p < FText.size() && (FText[p] == '+' || FText[p] == '-')) ++p;
    size_t digits = 0;
    while (p < FText.size() && std::isdigit(static_cast<unsigned char>(FText[p]))) ++p, ++digits;
    if (p < FText.size() && FText[p] == '.') {
      ++p;
      while (p < FText.size() && std::isdigit(static_cast<unsigned char>(FText[p]))) ++p, ++digits;
    }
    if (digits == 0) return false;
    if (p < FText.size() && (FText[p] == 'e' || FText[p] == 'E')) {
      size_t q = p + 1;
      if (q < FText.size() && (FText[q] == '+' || FText[q] == '-')) ++q;
      size_t expDigits = 0;
      while (q < FText.size() && std::isdigit(static_cast<unsigned char>(FText[q]))) ++q, ++expDigits;
      if (expDigits > 0) p = q;
    }
    const std::string token = FText.substr(start, p - start);
    out = std::strtod(token.c_str(), nullptr);
    FPos = p;
    return std::isfinite(out);
  }
  bool Point(QPointF& out) {
    double x = 0, y = 0;
    if (!Number(x) || !Number(y)) return false;
    out = QPointF(x, y);
    return true;
  }

private:
  std::string FText;
  size_t FPos = 0;
};

} // namespace

QPainterPath ParseSvgPath(const QString& data) {
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  TReader r(data);
  bool started = false;
  while (!r.AtEnd()) {
    const char cmd = r.PeekCommand();
    if (cmd == 0) return QPainterPath(); // a number where a command letter must be
    r.Skip();
    if (!started && cmd != 'M') return QPainterPath();
    started = true;
    switch (cmd) {
    case 'M': {
      QPointF p;
      if (!r.Point(p)) return QPainterPath();
      path.moveTo(p);
      while (r.PeekCommand() == 0 && !r.AtEnd()) {
        if (!r.Point(p)) return QPainterPath();
        path.lineTo(p);
      }
      break;
    }
    case 'L': {
      QPointF p;
      do {
        if (!r.Point(p)) return QPainterPath();
        path.lineTo(p);
      } while (r.PeekCommand() == 0 && !r.AtEnd());
      break;
    }
    case 'C': {
      QPointF c1, c2, p;
      do {
        if (!r.Point(c1) || !r.Point(c2) || !r.Point(p)) return QPainterPath();
        path.cubicTo(c1, c2, p);
      } while (r.PeekCommand() == 0 && !r.AtEnd());
      break;
    }
    case 'Z':
      path.closeSubpath();
      break;
    default:
      return QPainterPath();
    }
  }
  QPainterPath result = path;
  result.setFillRule(Qt::WindingFill);
  return result;
}

} // namespace skm
