// Icon path data reader: never crashes, and what it returns is either empty or a path that
// starts with a move and holds only finite points.
#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "controls/SvgPath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QPainterPath p = skm::ParseSvgPath(text);
  if (p.isEmpty()) return 0;
  if (!p.elementAt(0).isMoveTo()) std::abort();
  for (int i = 0; i < p.elementCount(); ++i) {
    const auto e = p.elementAt(i);
    if (!std::isfinite(e.x) || !std::isfinite(e.y)) std::abort();
  }
  return 0;
}
