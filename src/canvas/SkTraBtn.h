#pragma once
// The pen palette buttons: bitmap-drawn buttons on the control base that each stand for
// part of a drawing style (TStrokeStyle) or a whole one.
//
//   TSkTraBtn           a whole preset style ("pen"): kind, colour, dash and thickness;
//   TSkTraBtnKind       a tool kind with an opacity class (opaque or translucent);
//   TSkTraBtnColor      a colour (its RGB part);
//   TSkTraBtnThickness  a thickness;
//   TSkTraBtnDash       a dash pattern.
//
// Each button says whether it matches a style (isDownSet, which sets its selected look),
// takes its value from a style (GetFromStrokeStyle, for the toolbar buttons that show the
// current style) and applies its value to a style (SetToStrokeStyle, for the presets).
// The owner creates the buttons, the fly-out panels and the click handling.
//
// Threads: UI thread only. Ownership: a button is a widget owned by its parent; redraws
// are queued (_BitmapDraw) and run after the current event.

#include <QString>
#include <array>
#include <cstdint>

#include "annotation/SkPath.h"
#include "controls/TraBtn.h"

namespace skm {

// The icon of a tool kind as path data in the unit square (absolute M, L, C, Z); a pen
// (pkDraw with an opaque colour) and a marker (translucent) differ; kinds without a tool
// icon give an empty string.
QString KindSVGData(TPathKind kind, uint32_t color);
// The check mark of a selected colour button.
extern const char* const kCheckMarkSVG;

class TSkTraBtnBase : public TTraBtnBase {
  Q_OBJECT
public:
  // Control base, then width 60, not down, white foreground, black background colour.
  explicit TSkTraBtnBase(QWidget* owner = nullptr);

  // Selected look from the style.
  virtual void isDownSet(const TStrokeStyle& AStrokeStyle) = 0;
  // Takes the button's value from the style.
  virtual void GetFromStrokeStyle(const TStrokeStyle& AStrokeStyle) = 0;
  // The style with the button's value applied.
  virtual TStrokeStyle SetToStrokeStyle(const TStrokeStyle& AStrokeStyle) const = 0;

  // Selected look; a change queues a redraw.
  bool isDown() const { return FisDown; }
  void SetIsDown(bool value);
  // Left-click action, and right-click or long-press action.
  const TNotifyEvent& OnExecuteL() const { return FOnExecuteL; }
  void SetOnExecuteL(TNotifyEvent handler) { FOnExecuteL = std::move(handler); }
  const TNotifyEvent& OnExecuteR() const { return FOnExecuteR; }
  void SetOnExecuteR(TNotifyEvent handler) { FOnExecuteR = std::move(handler); }
  // Background colour: the outline colour of the icons (black, or white in a light theme
  // once isDark was written).
  uint32_t BColor() const { return FBColor; }

  // White foreground and black background (dark), or the reverse; queues a redraw.
  void SetIsDark(bool value) override;
  // Base press, then the tick count is remembered.
  void BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                    float y) override;
  // A release inside runs OnExecuteR (right button, or held 2000 ms or longer, when set)
  // or else OnExecuteL (left button); then the base release.
  void BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                  float y) override;

protected:
  // What CreateParam does after construction: foreground, position and actions.
  void InitParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL, TNotifyEvent executeR);

  uint32_t FTime = 0;
  TNotifyEvent FOnExecuteL;
  TNotifyEvent FOnExecuteR;
  bool FisDown = false;
  uint32_t FBColor = kColorBlack;
};

// A whole preset style.
class TSkTraBtn : public TSkTraBtnBase {
  Q_OBJECT
public:
  explicit TSkTraBtn(QWidget* owner = nullptr) : TSkTraBtnBase(owner) {}
  static TSkTraBtn* CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                TNotifyEvent executeR, const TStrokeStyle& value);

  const TStrokeStyle& StrokeStyle() const { return FStrokeStyle; }
  void SetStrokeStyle(const TStrokeStyle& s);

  // Selected when the style equals the preset in all four fields.
  void isDownSet(const TStrokeStyle& s) override { SetIsDown(s == FStrokeStyle); }
  void GetFromStrokeStyle(const TStrokeStyle& s) override { SetStrokeStyle(s); }
  // The preset itself (s is ignored).
  TStrokeStyle SetToStrokeStyle(const TStrokeStyle&) const override { return FStrokeStyle; }
  void BitmapDraw() override;

private:
  TStrokeStyle FStrokeStyle;
  QString FSVGData;
};

// A tool kind with an opacity class: only the alpha byte of its colour counts.
class TSkTraBtnKind : public TSkTraBtnBase {
  Q_OBJECT
public:
  explicit TSkTraBtnKind(QWidget* owner = nullptr) : TSkTraBtnBase(owner) {}
  static TSkTraBtnKind* CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                    TNotifyEvent executeR, const TStrokeStyle& value);

  TPathKind Kind() const { return FKind; }
  uint32_t Color() const { return FColor; } // alpha byte only

  // Selected when the kinds and the colours' alphas are equal.
  void isDownSet(const TStrokeStyle& s) override;
  // Kind and alpha from the style; redraws when either changed.
  void GetFromStrokeStyle(const TStrokeStyle& s) override;
  // The style with this kind and this alpha (its RGB kept).
  TStrokeStyle SetToStrokeStyle(const TStrokeStyle& s) const override;
  void BitmapDraw() override;

private:
  TPathKind FKind = TPathKind::pkNone;
  uint32_t FColor = 0;
};

// A colour, always kept opaque; only its RGB part counts.
class TSkTraBtnColor : public TSkTraBtnBase {
  Q_OBJECT
public:
  explicit TSkTraBtnColor(QWidget* owner = nullptr) : TSkTraBtnBase(owner) {}
  static TSkTraBtnColor* CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                     TNotifyEvent executeR, uint32_t value);
  static TSkTraBtnColor* CreateFromColor(QWidget* owner, uint32_t AColor);

  uint32_t Color() const { return FColor; }
  // Stores the colour with alpha 0xFF; redraws when that changed.
  void SetColor(uint32_t c);

  // Selected when the RGB parts are equal (alpha ignored).
  void isDownSet(const TStrokeStyle& s) override;
  void GetFromStrokeStyle(const TStrokeStyle& s) override { SetColor(s.Color); }
  // The style with this RGB (its alpha kept).
  TStrokeStyle SetToStrokeStyle(const TStrokeStyle& s) const override;
  void BitmapDraw() override;

private:
  uint32_t FColor = kColorBlack;
};

// A thickness, shown as a dot.
class TSkTraBtnThickness : public TSkTraBtnBase {
  Q_OBJECT
public:
  explicit TSkTraBtnThickness(QWidget* owner = nullptr) : TSkTraBtnBase(owner) {}
  static TSkTraBtnThickness* CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                         TNotifyEvent executeR, float value);
  static TSkTraBtnThickness* CreateFromThickness(QWidget* owner, float AThickness);

  float Thickness() const { return FThickness; }
  void SetThickness(float t);
  // The dot's radius on a bitmap of height h: h x thickness / 120, at most h / 2.
  static double DotRadius(double h, float thickness);

  void isDownSet(const TStrokeStyle& s) override { SetIsDown(s.Thickness == FThickness); }
  void GetFromStrokeStyle(const TStrokeStyle& s) override { SetThickness(s.Thickness); }
  TStrokeStyle SetToStrokeStyle(const TStrokeStyle& s) const override;
  void BitmapDraw() override;

private:
  float FThickness = 0;
};

// A dash pattern, shown as a sample line.
class TSkTraBtnDash : public TSkTraBtnBase {
  Q_OBJECT
public:
  explicit TSkTraBtnDash(QWidget* owner = nullptr) : TSkTraBtnBase(owner) {}
  static TSkTraBtnDash* CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                    TNotifyEvent executeR, TStrokeDash value);
  static TSkTraBtnDash* CreateFromDash(QWidget* owner, TStrokeDash ADash);

  TStrokeDash Dash() const { return FDash; }
  void SetDash(TStrokeDash d);

  void isDownSet(const TStrokeStyle& s) override { SetIsDown(s.Dash == FDash); }
  void GetFromStrokeStyle(const TStrokeStyle& s) override { SetDash(s.Dash); }
  TStrokeStyle SetToStrokeStyle(const TStrokeStyle& s) const override;
  void BitmapDraw() override;

private:
  TStrokeDash FDash = TStrokeDash::Solid;
};

// ---- presets (placed by the owner at x = 0, 60, 120, ...) -----------------------------

// The ten pens; the canvas starts with pen 1.
inline constexpr std::array<TStrokeStyle, 10> kPenPresets = {{
    {TPathKind::pkDraw, 0xFF121212u, TStrokeDash::Solid, 10},
    {TPathKind::pkDraw, 0xFFFF3333u, TStrokeDash::Solid, 10},
    {TPathKind::pkDraw, 0xFF3399FFu, TStrokeDash::Solid, 10},
    {TPathKind::pkDraw, 0xFFFF9933u, TStrokeDash::Solid, 10},
    {TPathKind::pkDraw, 0x883399FFu, TStrokeDash::Solid, 30},
    {TPathKind::pkDraw, 0x8833FF99u, TStrokeDash::Solid, 30},
    {TPathKind::pkDraw, 0x88FF9933u, TStrokeDash::Solid, 30},
    {TPathKind::pkDraw, 0x88FF3399u, TStrokeDash::Solid, 30},
    {TPathKind::pkLineAr0, 0xFF3399FFu, TStrokeDash::Solid, 25},
    {TPathKind::pkLineAr0, 0xFFFF3333u, TStrokeDash::Solid, 25},
}};
// The nine colours; the last is the rainbow colour (stored opaque as 0xFF000001).
inline constexpr std::array<uint32_t, 9> kColorPresets = {0xFF121212u, 0xFFFF3333u, 0xFFFF9933u,
                                                          0xFF99FF33u, 0xFF33FF99u, 0xFF3399FFu,
                                                          0xFFFF3399u, 0xFFEDEDEDu, 0x00000001u};
inline constexpr std::array<float, 8> kThicknessPresets = {1, 3, 5, 10, 20, 25, 30, 40};
inline constexpr std::array<TStrokeDash, 5> kDashPresets = {TStrokeDash::Solid, TStrokeDash::Dash, TStrokeDash::Dot,
                                                            TStrokeDash::DashDot, TStrokeDash::DashDotDot};
// The kinds of a row; row 0 opaque (alpha 0xFF), row 1 translucent (0x88).
inline constexpr std::array<TPathKind, 8> kKindPresetKinds = {TPathKind::pkDraw,    TPathKind::pkLine,
                                                              TPathKind::pkRect,    TPathKind::pkOval,
                                                              TPathKind::pkLineAr0, TPathKind::pkLineAr1,
                                                              TPathKind::pkBrush0,  TPathKind::pkBrush1};
inline constexpr std::array<uint32_t, 2> kKindPresetAlphas = {0xFF000000u, 0x88000000u};
// Kind preset number 8 r + c (row r, column c) as the style its button is created with.
constexpr TStrokeStyle KindPreset(int i) {
  return {kKindPresetKinds[static_cast<size_t>(i % 8)], kKindPresetAlphas[static_cast<size_t>(i / 8)],
          TStrokeDash::Solid, 0};
}
// The eraser's style (the owner's eraser button sets it).
inline constexpr TStrokeStyle kEraserStyle{TPathKind::pkErase, kEraserColor, TStrokeDash::Solid, 25};

} // namespace skm
