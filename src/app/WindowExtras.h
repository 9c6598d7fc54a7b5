#pragma once
// The main window's commands for comparing two movies frame by frame beyond the basic
// set: linking the lanes with a frame offset (a toggle in the transport area's left
// column, beside play-both, with the offset shown under it while linked; Alt with lane
// 2's step keys nudges the offset), and exporting what the canvas shows as a picture at
// the lanes' own resolution (a button in the menu fly-out beside setup and about, and
// Ctrl+E).
//
// The window creates this at the end of its creation and calls the few hooks below from
// its own handlers; everything else happens here.
//
// Threads: UI thread only. Ownership: a child object of the window; its buttons are
// children of the window's containers. It refers to the window's bars, managers and canvas
// and is destroyed with the window, before the managers.

#include <QObject>
#include <QString>
#include <QWidget>
#include <functional>

namespace skm {

class TMainFrm;
class TLaneLink;
class TTraBtn;
class TLinkOffsetLabel;

// Icons (SVG path data in the unit square).
extern const char* const kIconLink;    // two chain links
extern const char* const kIconExport;  // a framed picture

class TWindowExtras : public QObject {
  Q_OBJECT
public:
  explicit TWindowExtras(TMainFrm* window);
  ~TWindowExtras() override;

  // --- hooks the window calls ---
  // After the window's LaneLayoutUpdate: shows the link toggle where play-both shows, and
  // ends a link whose lanes no longer both hold movies.
  void LaneLayoutUpdate();
  // At the start of the window's key handling; true when the key was taken here (Alt with
  // lane 2's step keys while linked), and the window then does nothing else with it.
  bool KeyDown(Qt::KeyboardModifiers shift);
  // Before a lane's movie is replaced, and after a movie was opened in a lane.
  void LaneChanging();
  void LaneOpened();
  // The window's theme changed (the menu fly-out's buttons follow it).
  void ThemeUpdate(bool isDark);

  // --- commands ---
  // The link toggle: links at the present frames, or unlinks.
  void TraBtnLinkExecute(QObject* sender = nullptr);
  // Asks where, then writes what the canvas shows as a PNG picture.
  void TraBtnExportExecute(QObject* sender = nullptr);
  // Writes what the canvas shows to file; false (after a message) when it cannot.
  bool ExportViewTo(const QString& file);
  // The name the export suggests: lane 1's file with its frame, beside it.
  QString ExportDefaultName() const;

  TLaneLink* Link = nullptr;
  TTraBtn* TraBtnLink = nullptr;
  TTraBtn* TraBtnExport = nullptr;
  // The offset under the link toggle, and the text it shows ("+12 f"; empty unlinked).
  QWidget* LinkOffset() const;
  QString OffsetShown() const;
  // Replaces the save dialog (tests): the chosen file, or empty for cancel.
  std::function<QString(const QString& suggested)> SaveDialogHook;

private:
  void LinkShow();

  TMainFrm* FWindow;
  TLinkOffsetLabel* FLinkOffset = nullptr;
};

} // namespace skm
