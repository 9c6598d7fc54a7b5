// The main window's commands: fly-outs and presets, the drawing commands of the bottom
// bar, whiteboard mode, the lanes' status and the play-both button, the letter keys.
#include <QKeyEvent>

#include "annotation/SkPath.h"
#include "app/Containers.h"
#include "app/FrmMain.h"
#include "app/LaneLink.h"
#include "app/WindowExtras.h"
#include "app/Icons.h"
#include "app/dialogs/FrmAbout.h"
#include "app/dialogs/FrmSetup.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "canvas/SkImage.h"
#include "canvas/SkTraBtn.h"
#include "controls/TraBtn.h"
#include "controls/TraValue.h"
#include "media/MfPackManager.h"
#include "platform/FMXUtils.h"
#include "transport/TraMediaFMX.h"

namespace skm {

// --- Fly-outs ---------------------------------------------------------------------------

void TMainFrm::TraBtnColorsExecute(QObject*) {
  RectangleCShow();
  for (auto* b : TraBtnColorsX) b->isDownSet(SkImage->StrokeStyle());
  RectangleColors->show();
}

void TMainFrm::TraBtnThicknessesExecute(QObject*) {
  RectangleCShow();
  for (auto* b : TraBtnThicknessesX) b->isDownSet(SkImage->StrokeStyle());
  RectangleThicknesses->show();
}

void TMainFrm::TraBtnDashesExecute(QObject*) {
  RectangleCShow();
  for (auto* b : TraBtnDashesX) b->isDownSet(SkImage->StrokeStyle());
  RectangleDashes->show();
}

void TMainFrm::TraBtnKindsExecute(QObject*) {
  RectangleCShow();
  for (auto& row : TraBtnKindsX)
    for (auto* b : row) b->isDownSet(SkImage->StrokeStyle());
  RectangleKinds->show();
}

void TMainFrm::TraBtnPensExecute(QObject*) {
  RectangleCShow();
  for (auto* b : TraBtnPensX) b->isDownSet(SkImage->StrokeStyle());
  RectanglePens->show();
}

void TMainFrm::TraBtnOpensExecute(QObject*) {
  // No second open while a lane is still opening.
  if (TraBtnWbrd->isDown() || FOpening) return;
  RectangleCShow();
  TraBtnOpen2->setEnabled(MfPackManager1->HasVideo());
  RectangleOpens->show();
}

void TMainFrm::TraBtnMenuExecute(QObject*) {
  RectangleCShow();
  RectangleSetups->show();
}

template <class TBtn>
static TStrokeStyle PresetApply(TSkImage* image, QObject* sender) {
  auto* b = qobject_cast<TBtn*>(sender);
  const TStrokeStyle s = b ? b->SetToStrokeStyle(image->StrokeStyle()) : image->StrokeStyle();
  image->SetStrokeStyle(s);
  return s;
}

void TMainFrm::TraBtnColorsXExecute(QObject* sender) {
  RectangleC->hide();
  TraBtnColors->GetFromStrokeStyle(PresetApply<TSkTraBtnColor>(SkImage, sender));
}

void TMainFrm::TraBtnThicknessesXExecute(QObject* sender) {
  RectangleC->hide();
  TraBtnThicknesses->GetFromStrokeStyle(PresetApply<TSkTraBtnThickness>(SkImage, sender));
}

void TMainFrm::TraBtnDashesXExecute(QObject* sender) {
  RectangleC->hide();
  TraBtnDashes->GetFromStrokeStyle(PresetApply<TSkTraBtnDash>(SkImage, sender));
}

void TMainFrm::TraBtnKindsXExecute(QObject* sender) {
  RectangleC->hide();
  TraBtnKinds->GetFromStrokeStyle(PresetApply<TSkTraBtnKind>(SkImage, sender));
}

void TMainFrm::TraBtnPensXExecute(QObject* sender) {
  RectangleC->hide();
  const TStrokeStyle s = PresetApply<TSkTraBtn>(SkImage, sender);
  TraBtnColors->GetFromStrokeStyle(s);
  TraBtnThicknesses->GetFromStrokeStyle(s);
}

// --- Drawing commands -------------------------------------------------------------------

void TMainFrm::TraBtnEraserExecute(QObject*) { SkImage->SetStrokeStyle(kEraserStyle); }

void TMainFrm::TraBtnEraseAllExecute(QObject*) {
  // A record of the list like any other, so it can be undone.
  SkImage->CurrentPaths()->Add(TSkPath::CreateEraseAll());
  SkImage->ImageP1Clear();
}

void TMainFrm::TraBtnUndoExecute(QObject*) {
  SkImage->CurrentPaths()->UndoSet();
  SkImage->ImageP1DrawPathAll();
}

void TMainFrm::TraBtnRedoExecute(QObject*) {
  SkImage->CurrentPaths()->RedoSet();
  SkImage->ImageP1DrawPathAll();
}

void TMainFrm::TraBtnCenter1Execute(QObject*) {
  SkImage->ImageP1CenterOne();
  TraBtnCenter1->SetIsDown(true);
  TraBtnCenter2->SetIsDown(false);
}

void TMainFrm::TraBtnCenter2Execute(QObject*) {
  SkImage->ImageP1CenterTwo();
  TraBtnCenter1->SetIsDown(false);
  TraBtnCenter2->SetIsDown(true);
}

void TMainFrm::CentreAgain() {
  if (TraBtnCenter1->isDown()) SkImage->ImageP1CenterOne();
  if (TraBtnCenter2->isDown()) SkImage->ImageP1CenterTwo();
}

// --- Whiteboard -------------------------------------------------------------------------

void TMainFrm::TraBtnWbrdExecute(QObject*) {
  // Lane 1 is read again (picture) or shown again (movie) on leaving: not while one of
  // the lanes is still opening.
  if (FOpening) return;
  if (MfPackManager2->isPlaying()) TraMedialayout2->TraStartExecute();
  const int k1 = FileKind(SkImage->V1Filename());
  if (TraBtnWbrd->isDown()) {
    WhiteboardLeave(k1);
  } else {
    if (k1 == 2 && MfPackManager1->isPlaying()) TraMedialayout1->TraStartExecute();
    SkImage->SetV2Visible(false);
    QImage white(std::max(1, SkImage->width()), std::max(1, SkImage->height()),
                 QImage::Format_ARGB32_Premultiplied);
    white.fill(0xFFFFFFFF);
    SkImage->ImageV1SetSize(white.width(), white.height());
    SkImage->ImageV1Capture(white);
    FBoardShown = true;
    SkImage->SetSkPaths(&SkPathsWBRD);
  }
  SkImage->ImageP1DrawPathAll();
  TraBtnWbrd->SetIsDown(!TraBtnWbrd->isDown());
  LaneLayoutUpdate();
  CentreAgain();
}

void TMainFrm::WhiteboardLeave(int k1) {
  FBoardShown = false;
  if (k1 == 1) {
    MediaOpen(SkImage->V1Filename(), 1);
  } else if (k1 == 2) {
    // The lane's picture size again, then its current frame.
    SkImage->ImageV1SetSize(MfPackManager1->MediaWidth(), MfPackManager1->MediaHeight());
    MfPackManager1->MediaBitmapGet();
  } else {
    SkImage->ImageV1SetSize(0, 0);
    SkImage->ImageV1Capture(QImage());
  }
  SkImage->SetV2Visible(true);
  SkImage->SetSkPaths(&SkPathsIMGS);
}

// --- Lanes and play both ----------------------------------------------------------------

void TMainFrm::MfPackManager1Info(TMediaTime t, float v, bool p) {
  TraMedialayout1->LayoutInfo(t, v, p);
  if (p != isPlaying1) {
    isPlaying1 = p;
    TraBtnPlayXUpdate();
  }
}

void TMainFrm::MfPackManager2Info(TMediaTime t, float v, bool p) {
  TraMedialayout2->LayoutInfo(t, v, p);
  if (p != isPlaying2) {
    isPlaying2 = p;
    TraBtnPlayXUpdate();
  }
}

void TMainFrm::TraBtnPlayXUpdate() {
  if (isPlaying1 == isPlaying2) {
    TraBtnPlayX->setEnabled(true);
    TraBtnPlayX->SetData(QString::fromLatin1(isPlaying1 ? icons::kPause : icons::kPlay));
  } else {
    TraBtnPlayX->setEnabled(false);
    TraBtnPlayX->SetData(QString::fromLatin1(icons::kPlay));
  }
}

void TMainFrm::TraBtnPlayXExecute(QObject*) {
  if (!MfPackManager1->HasVideo() || !MfPackManager2->HasVideo()) return;
  if (MfPackManager1->isPlaying() != MfPackManager2->isPlaying()) return;
  TraMedialayout1->TraStartExecute();
  // Linked lanes follow lane 1 already; toggling lane 2 as well would undo that.
  if (Extras && Extras->Link->isLinked()) return;
  TraMedialayout2->TraStartExecute();
}

// --- Setup and about --------------------------------------------------------------------

void TMainFrm::TraBtnSetupExecute(QObject*) {
  TSetupCommandHooks hooks;
  hooks.HideOverlay = [this] { RectangleC->hide(); };
  hooks.ThemeUpdate = [this] { ThemeUpdate(); };
  hooks.ClearWhiteboard = [this] {
    SkPathsWBRD->Clear();
    if (TraBtnWbrd->isDown()) SkImage->ImageP1DrawPathAll();
  };
  // Runs after OK only: every value the dialog may have changed goes down to the lanes,
  // then the splitter is switched (which applies a new ring size).
  hooks.SetSnapBitmaps = [this](bool on) {
    SettingsPassDown();
    MfPackManager1->SetIsSnapBitmaps(on);
  };
  ::skm::TraBtnSetupExecute(*FFrmSetup, hooks);
}

void TMainFrm::TraBtnAboutExecute(QObject*) {
  RectangleC->hide();
  FFrmAbout->Execute();
}

// --- Keys -------------------------------------------------------------------------------

void TMainFrm::keyPressEvent(QKeyEvent* e) {
  KeyDown(e->key(), e->modifiers());
  QWidget::keyPressEvent(e);
}

void TMainFrm::KeyDown(int, Qt::KeyboardModifiers shift) {
  // The command comes from the keys held, not from the key of the event: holding V and
  // pressing anything else steps again, and Z with A steps both lanes at once.
  if (Extras && Extras->KeyDown(shift)) return;
  if (MfPackManager1 && MfPackManager1->HasVideo()) {
    if (KeyIsDown('Z')) TraMedialayout1->TraBWardKeyExecute(shift);
    else if (KeyIsDown('X')) TraMedialayout1->TraRange0KeyExecute();
    else if (KeyIsDown('C')) TraMedialayout1->TraRange1KeyExecute();
    else if (KeyIsDown('V')) TraMedialayout1->TraFWardKeyExecute(shift);
    else if (KeyIsDown('B')) TraMedialayout1->RangesSaveToFile();
  }
  if (MfPackManager2 && MfPackManager2->HasVideo()) {
    if (KeyIsDown('A')) TraMedialayout2->TraBWardKeyExecute(shift);
    else if (KeyIsDown('S')) TraMedialayout2->TraRange0KeyExecute();
    else if (KeyIsDown('D')) TraMedialayout2->TraRange1KeyExecute();
    else if (KeyIsDown('F')) TraMedialayout2->TraFWardKeyExecute(shift);
    else if (KeyIsDown('G')) TraMedialayout2->RangesSaveToFile();
  } else if (MfPackManager1 && MfPackManager1->HasVideo() && MfPackManager1->isSnapBitmaps() &&
             !MfPackManager1->isPlaying()) {
    if (KeyIsDown('A')) MfPackManager1->SnapBitmapsDrawIndex(2);
    else if (KeyIsDown('S')) MfPackManager1->SnapBitmapsDrawIndex(-1);
    else if (KeyIsDown('D')) MfPackManager1->SnapBitmapsDrawIndex(1);
    else if (KeyIsDown('F')) MfPackManager1->SnapBitmapsDrawIndex(0);
  }
}

} // namespace skm
