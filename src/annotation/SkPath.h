#pragma once
// Annotation records and the lists that hold them.
//
// A record (TSkPath) is either a drawn path (a style and points in canvas units, the
// fixed 1280 x 720 logical space) or a command (erase-all, delete, edit). A list
// (TSkPaths) keeps every record oldest first and an undo window [SkStart, SkEnd]: the
// records that currently count. Undo and redo move only the window; adding a record
// after an undo discards the redo tail.
//
// Ownership: a list owns its records (std::unique_ptr). A record handed to Add belongs to
// the list from then on and is destroyed with the redo tail it may later be part of, by
// Clear or with the list. A record being drawn belongs to whoever created it until Add.
//
// Threads: UI thread only; nothing here locks. No Qt: outlines are plain point lists
// that the canvas turns into its own path objects.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skm {

// Tool or record kind. The numeric values and names are part of the annotation file.
enum class TPathKind : uint8_t {
  pkNone = 0,      // no tool
  pkDraw = 1,      // freehand polyline; every finished drawing except brushes is stored so
  pkLine = 2,      // straight line (while dragging only)
  pkRect = 3,      // axis-parallel rectangle (while dragging only)
  pkOval = 4,      // ellipse centred on the first point (while dragging only)
  pkLineAr0 = 5,   // line with an arrow head at its end (while dragging only)
  pkLineAr1 = 6,   // line with arrow heads at both ends (while dragging only)
  pkBrush0 = 7,    // speed-dependent brush, stored with this kind
  pkBrush1 = 8,    // second brush tool, same behaviour
  pkErase = 9,     // eraser stroke (while dragging only)
  pkEdit0 = 10,    // tool without function
  pkEdit1 = 11,    // tool without function
  pkPointer = 12,  // tool without function
  pkEraseAll = 13, // erase-all command: starts a fresh page inside the undo window
  pkFill = 14,     // path record kind the file reader accepts; never drawn
  pkDelete = 15,   // command naming target records
  pkEdit = 16,     // command carrying a matrix and target records
  pkMove = 17,     // pan gesture of the canvas, never a record
  pkMoveV2 = 18,   // pan gesture of lane 2, never a record
};
inline constexpr int kPathKindCount = 19;

// Display state of a record; only psDisplay records are drawn.
enum class TPathStat : uint8_t { psDisplay = 0, psSelected = 1, psDeleted = 2 };

// Dash pattern of the drawing layer. The names are part of the annotation file.
enum class TStrokeDash : uint8_t { Solid = 0, Dash = 1, Dot = 2, DashDot = 3, DashDotDot = 4, Custom = 5 };
inline constexpr int kStrokeDashCount = 6;

// Colour conventions of a style colour (0xAARRGGBB).
inline constexpr uint32_t kRainbowRgb = 0x000001;    // RGB part of the rainbow colour
inline constexpr uint32_t kEraserColor = 0x00FFFFFF; // transparent white of the eraser
inline bool IsRainbowColor(uint32_t color) { return (color & 0x00FFFFFFu) == kRainbowRgb; }
inline uint8_t ColorAlpha(uint32_t color) { return static_cast<uint8_t>(color >> 24); }

// Style a record was drawn with.
struct TStrokeStyle {
  TPathKind Kind = TPathKind::pkNone;
  uint32_t Color = 0;                     // ARGB, alpha in the top byte
  TStrokeDash Dash = TStrokeDash::Solid;
  float Thickness = 0;                    // canvas units

  // All four fields equal, thicknesses compared as floats.
  bool operator==(const TStrokeStyle& o) const {
    return Kind == o.Kind && Color == o.Color && Dash == o.Dash && Thickness == o.Thickness;
  }
};

// The fixed style of the erase-all command record.
inline constexpr TStrokeStyle kEraseAllStyle{TPathKind::pkEraseAll, 0, TStrokeDash::Solid, 0};

struct TPointF {
  float X = 0;
  float Y = 0;
  bool operator==(const TPointF&) const = default;
};
using TPolygon = std::vector<TPointF>;

// Maps a point p to p x Zoom + Offset.
struct TZoomOffset {
  float Zoom = 1;
  TPointF Offset;
};

// 3 x 3 affine matrix in row-vector convention: (x, y) maps to
// (x*m11 + y*m21 + m31, x*m12 + y*m22 + m32); A * B applies A first, then B.
struct TMatrix {
  float m11 = 1, m12 = 0, m13 = 0;
  float m21 = 0, m22 = 1, m23 = 0;
  float m31 = 0, m32 = 0, m33 = 1;

  static TMatrix Identity() { return {}; }
  static TMatrix Scale(float sx, float sy);
  static TMatrix Translate(float dx, float dy);
  // The nine entries in memory (and file) order.
  std::array<float, 9> Entries() const { return {m11, m12, m13, m21, m22, m23, m31, m32, m33}; }
  // Maps a point; the third column is ignored (affine use only).
  TPointF Map(TPointF p) const;
  TMatrix operator*(const TMatrix& b) const;
  bool operator==(const TMatrix&) const = default;
};

// An outline: Points[0] is the move-to, every later point a line-to. Open, never filled.
struct TPathData {
  std::vector<TPointF> Points;
  void Clear() { Points.clear(); }
  bool IsEmpty() const { return Points.empty(); }
};

// One annotation record.
class TSkPath {
public:
  // A command record with the given style, no points and no targets.
  static std::unique_ptr<TSkPath> CreateComm(const TStrokeStyle& AStroke);
  // The delete command {pkDelete, 0, Solid, 0} with a copy of the targets.
  static std::unique_ptr<TSkPath> CreateDelete(const std::vector<int32_t>& ATargets);
  // The edit command {pkEdit, 0, Solid, 0} with the matrix and a copy of the targets.
  static std::unique_ptr<TSkPath> CreateEdit(const TMatrix& AM, const std::vector<int32_t>& ATargets);
  // A path record with the points (copied, or moved in when the caller passes an rvalue).
  static std::unique_ptr<TSkPath> CreatePath(const TStrokeStyle& AStroke, TPolygon APointFs);
  // A path record holding the single press point.
  static std::unique_ptr<TSkPath> CreatePathDn(const TStrokeStyle& AStroke, float X, float Y);
  // The erase-all command record.
  static std::unique_ptr<TSkPath> CreateEraseAll() { return CreateComm(kEraseAllStyle); }

  TSkPath(const TSkPath&) = delete;
  TSkPath& operator=(const TSkPath&) = delete;
  ~TSkPath();

  // Style the record was drawn with (a command's fixed style).
  const TStrokeStyle& Style() const { return FStroke; }
  void SetStyle(const TStrokeStyle& s) { FStroke = s; }
  // Display state.
  TPathStat Stat() const { return FStat; }
  void SetStat(TPathStat s) { FStat = s; }
  // Points in canvas units; empty for commands.
  const TPolygon& Polygon() const { return FPolygon; }
  void SetPolygon(const TPolygon& p) { FPolygon = p; }
  // Only the kind of the style.
  TPathKind StrokeStyleKind() const { return FStroke.Kind; }
  void SetStrokeStyleKind(TPathKind k) { FStroke.Kind = k; }
  // Transform applied to the points before the view; identity except for edit records.
  const TMatrix& M() const { return FM; }
  // Indices into the list of the records a command acts on; empty for paths.
  const std::vector<int32_t>& Targets() const { return FTargets; }

  // Appends a point (freehand growth while the pointer moves).
  void AddPathMv(float X, float Y);
  // Keeps exactly two points, the first unchanged and the second (X, Y): two-point shapes
  // use it while the pointer moves. A record without points gets (0, 0) as its first.
  void ModPathMv(float X, float Y);
  // FM := FM * AM: the new transform applies after the existing one.
  void MAdd(const TMatrix& AM);

  // Live outline for any tool kind, transformed by FM x scale(Zoom) x translate(Offset).
  void PathDataGet0(const TZoomOffset& AZO, TPathData& APathData) const;
  // Stored polyline (move to point 0, line to the rest), transformed by FM x S x T.
  void PathDataGet1(const TZoomOffset& AZO, TPathData& APathData) const;
  // Stored polyline transformed by FM x AM.
  void PathDataGet1(const TMatrix& AM, TPathData& APathData) const;
  // Bakes a shape (pkLine .. pkLineAr1) into a pkDraw polyline; other kinds stay as they are.
  void StrokeStyleKindDraw();
  // The two wing points of an arrow head with tip A and shaft toward B (wings of
  // 5 x Thickness at 30 degrees on each side of the shaft).
  void ArrowHeadGet(TPointF A, TPointF B, TPointF& W1, TPointF& W2) const;

private:
  TSkPath() = default;

  TStrokeStyle FStroke;
  TPathStat FStat = TPathStat::psDisplay;
  TMatrix FM;
  TPolygon FPolygon;
  std::vector<int32_t> FTargets;
};

// An ordered list of records with its undo window.
//
// Invariants after every operation: -1 <= SkEnd <= count - 1; SkStart is one more than
// the index of the last pkEraseAll record at or before SkEnd, or 0 without one. The
// window is SkList[SkStart .. SkEnd]; records after SkEnd are the redo tail.
class TSkPaths {
public:
  TSkPaths() = default;
  TSkPaths(const TSkPaths&) = delete;
  TSkPaths& operator=(const TSkPaths&) = delete;
  ~TSkPaths();

  // The fields are public for reading (the canvas replays SkList[SkStart..SkEnd]); only
  // the operations below change them, which keeps the invariants.
  std::vector<std::unique_ptr<TSkPath>> SkList; // all records, oldest first, redo tail included
  int32_t SkStart = 0;                          // first record of the undo window
  int32_t SkEnd = -1;                           // last record of the undo window; -1: none

  // Number of records, redo tail included.
  int32_t Count() const { return static_cast<int32_t>(SkList.size()); }
  // Destroys every record; the window becomes empty.
  void Clear();
  // Discards the redo tail, appends the record (taking ownership) and ends the window
  // at it; an erase-all record also starts a fresh, empty page. Null is ignored.
  void Add(std::unique_ptr<TSkPath> APwPath);
  // True when the window can shrink by one record.
  bool CanUndo() const { return SkEnd >= 0; }
  // SkEnd - 1 and the page start recomputed; nothing when CanUndo is false.
  void UndoSet();
  // True when a redo tail exists.
  bool CanRedo() const { return SkEnd < Count() - 1; }
  // SkEnd + 1 and the page start recomputed; nothing when CanRedo is false.
  void RedoSet();
  // Recomputes SkStart from SkEnd (one past the last erase-all at or before SkEnd).
  void StartSet();

  // Writes every record (redo tail included) to the annotation file named after AFileName
  // with its extension replaced by ".zpp", through a temporary file and a rename, so a
  // failed save leaves the previous file as it was. False with a message on failure.
  bool SaveToFile(const std::string& AFileName, std::string* error = nullptr) const;
  // Appends, through Add, the path and erase-all records of the annotation file named
  // after AFileName (".zpp"). A missing file adds nothing and is not an error; an
  // unreadable or oversized one adds nothing and gives false with a message. Malformed
  // values never fail the load: they take their defaults or skip their record.
  // localeSeparator: the user's decimal separator, also accepted in "Thickness"; 0 takes
  // the C library's current locale.
  bool LoadFromFile(const std::string& AFileName, std::string* error = nullptr, char localeSeparator = 0);
  // The file bytes SaveToFile writes.
  std::string SaveToText() const;
  // LoadFromFile on bytes already in memory.
  void LoadFromText(std::string_view text, char localeSeparator = '.');
};

// Annotation files larger than this are refused before anything is read (a whiteboard of
// 10,000 strokes of 200 points takes about 37 MB).
inline constexpr uint64_t kMaxAnnotationFileBytes = 1ull << 30;

} // namespace skm
