// Files into lanes: the open fly-out and its dialog, the command line, drag and drop.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/Containers.h"
#include "app/FrmMain.h"
#include "app/WindowExtras.h"
#include "app/settings/Setup.h"
#include "canvas/SkImage.h"
#include "controls/TraBtn.h"
#include "imagefiles/FMXBitmapEx.h"
#include "media/MfPackManager.h"
#include "platform/MessageService.h"
#include "platform/openkind/OpenKind.h"
#include "transport/TraMediaFMX.h"

namespace skm {

namespace {

// Marks an open in progress for its whole duration, however it ends.
class TOpeningScope {
public:
  explicit TOpeningScope(int& counter) : FCounter(counter) { ++FCounter; }
  ~TOpeningScope() { --FCounter; }
  TOpeningScope(const TOpeningScope&) = delete;
  TOpeningScope& operator=(const TOpeningScope&) = delete;

private:
  int& FCounter;
};

// Why a file gave no picture: the file itself, else what the reader said.
QString WhyNot(const QString& name, const std::string& readerWhy) {
  const QString problem = FileProblem(name);
  if (!problem.isEmpty()) return QStringLiteral("\n") + problem;
  if (!readerWhy.empty()) return QStringLiteral("\n") + QString::fromStdString(readerWhy);
  return QStringLiteral("\nIts content is not a picture this program reads, or it is damaged.");
}

} // namespace

QString OpenDialogFilter() {
  QStringList patterns;
  for (int kind : {2, 1})
    for (const QString& ext : FileKindExtensions(kind)) patterns << QLatin1Char('*') + ext;
  return QStringLiteral("Movies and pictures (%1);;All files (*)").arg(patterns.join(QLatin1Char(' ')));
}

void TMainFrm::TraBtnOpen1Execute(QObject*) {
  const QString name = MediaOpenDialog(1);
  if (!SkImage) return; // closed meanwhile
  SkImage->SetV1Filename(name);
  LaneLayoutUpdate();
}

void TMainFrm::TraBtnOpen2Execute(QObject*) {
  const QString name = MediaOpenDialog(2);
  if (!SkImage) return;
  SkImage->SetV2Filename(name);
  LaneLayoutUpdate();
}

QString TMainFrm::MediaOpenDialog(int lane) {
  RectangleC->hide();
  if (FOpening) return {};
  QString chosen;
  if (OpenDialogHook) {
    chosen = OpenDialogHook(FOpenFolder);
  } else {
    // The folder of the last file chosen, for this run.
    chosen = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), FOpenFolder, OpenDialogFilter());
  }
  if (chosen.isEmpty() || FDestroyed) return {};
  FOpenFolder = QFileInfo(chosen).absolutePath();
  return MediaOpen(chosen, lane);
}

QString TMainFrm::MediaOpen(const QString& name, int lane) {
  if (FOpening || FDestroyed) return {};
  TOpeningScope scope(FOpening);
  TMfPackManager* manager = lane == 1 ? MfPackManager1 : MfPackManager2;
  TTraMediaLayout* bar = lane == 1 ? TraMedialayout1 : TraMedialayout2;
  auto size = [this, lane](int w, int h) {
    if (lane == 1) SkImage->ImageV1SetSize(w, h);
    else SkImage->ImageV2SetSize(w, h);
  };
  auto picture = [this, lane](const QImage& b) {
    if (lane == 1) SkImage->ImageV1Capture(b);
    else SkImage->ImageV2Capture(b);
  };

  QString result;
  const int k = FileKind(name);
  if (k == 1) {
    std::string why;
    result = OpenStillImage(name, size, picture, &why);
    // Silence here would leave the user guessing which of two files was wrong.
    if (result.isEmpty()) ShowMessage(QStringLiteral("The picture could not be opened:\n") + name + WhyNot(name, why));
  } else if (k == 2) {
    if (gSettings.VPOAutoSave) bar->RangesSaveToFile();
    const QString oldName = manager->FileName();
    const TMediaTime oldTime = manager->CurrentTime();
    if (Extras) Extras->LaneChanging();
    manager->SetFileName(name); // waits for the first picture, with the event loop running
    if (FCloseRequested || FDestroyed) {
      // The window was closed during the wait: it closes once this open has unwound.
      if (FCloseRequested) QTimer::singleShot(0, this, [this] { close(); });
      return {};
    }
    if (!manager->FileName().isEmpty()) {
      size(static_cast<int>(manager->MediaWidth()), static_cast<int>(manager->MediaHeight()));
      bar->SetDuration(manager->Duration());
      bar->SetRateQue(1.0f);
      bar->RangesOpenFromFile();
      result = name;
      if (Extras) Extras->LaneOpened();
    } else if (!oldName.isEmpty()) {
      // The engine has said why; the lane goes back to the movie it held, where it was.
      manager->SetFileName(oldName);
      if (FCloseRequested || FDestroyed) {
        if (FCloseRequested) QTimer::singleShot(0, this, [this] { close(); });
        return {};
      }
      if (!manager->FileName().isEmpty() && oldTime != kNoPosition) manager->SetCurrentTime(oldTime);
    }
  } else {
    // What the file is not, in words (missing, a folder, not a movie or picture, ...).
    const TOpenDecision d = DecideOpen(name);
    ShowMessage(QStringLiteral("This file cannot be opened:\n") + name +
                (d.reason.isEmpty() ? QString() : QStringLiteral("\n") + d.reason));
  }
  CentreAgain();
  return result;
}

bool TMainFrm::OpenIntoLane(int lane, const QString& name) {
  if (FOpening || FDestroyed || FCloseRequested || TraBtnWbrd->isDown()) return false;
  if (lane == 2 && !MfPackManager1->HasVideo()) return false;
  const QString abs = QFileInfo(name).absoluteFilePath();
  const QString opened = MediaOpen(abs, lane);
  if (!SkImage) return false;
  if (lane == 1) SkImage->SetV1Filename(opened);
  else SkImage->SetV2Filename(opened);
  LaneLayoutUpdate();
  return !opened.isEmpty();
}

void TMainFrm::OpenArguments(const QStringList& files) {
  if (files.isEmpty()) return;
  const bool first = OpenIntoLane(1, files[0]);
  if (files.size() < 2 || FDestroyed) return;
  if (!MfPackManager1->HasVideo()) {
    // As in the open fly-out: a second lane is compared against a movie in the first.
    if (first)
      ShowMessage(QStringLiteral("The second file opens only beside a movie in the first lane:\n") + files[1]);
    return;
  }
  OpenIntoLane(2, files[1]);
}

// --- Drag and drop ----------------------------------------------------------------------

static QStringList LocalFiles(const QMimeData* mime) {
  QStringList files;
  if (!mime || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

void TMainFrm::dragEnterEvent(QDragEnterEvent* e) {
  if (!LocalFiles(e->mimeData()).isEmpty() && !FOpening && !TraBtnWbrd->isDown()) e->acceptProposedAction();
  else e->ignore();
}

void TMainFrm::dragMoveEvent(QDragMoveEvent* e) {
  if (!LocalFiles(e->mimeData()).isEmpty() && !FOpening && !TraBtnWbrd->isDown()) e->acceptProposedAction();
  else e->ignore();
}

void TMainFrm::dropEvent(QDropEvent* e) {
  const QStringList files = LocalFiles(e->mimeData());
  if (files.isEmpty() || FOpening || TraBtnWbrd->isDown()) {
    e->ignore();
    return;
  }
  e->acceptProposedAction();
  // The drag's source waits for the drop to return: open after it.
  const bool right = e->position().x() >= width() / 2.0;
  QTimer::singleShot(0, this, [this, files, right] {
    if (files.size() >= 2) {
      OpenArguments(files.mid(0, 2));
      return;
    }
    // The right half is lane 2 when lane 2 can take a file (a movie in lane 1).
    OpenIntoLane(right && MfPackManager1->HasVideo() ? 2 : 1, files[0]);
  });
}

} // namespace skm
