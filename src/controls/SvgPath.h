#pragma once
// Icon path data: the subset of SVG path syntax the controls' icons use (absolute M, L, C
// and Z, coordinates in the unit square), read into a QPainterPath.
//
// Threads: any; pure functions.

#include <QPainterPath>
#include <QString>

namespace skm {

// Reads absolute M, L, C and Z commands (a command letter may be followed by several
// coordinate sets, as in SVG; extra pairs after M are lines). Anything else (other or
// relative commands, a missing or non-finite number, a path not starting with M) gives an
// empty path. The path uses the non-zero fill rule, as SVG does.
QPainterPath ParseSvgPath(const QString& data);

} // namespace skm
