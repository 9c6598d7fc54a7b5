#include "app/WindowExtras.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>

#include "app/Containers.h"
#include "app/FrmMain.h"
#include "app/LaneLink.h"
#include "app/settings/Setup.h"
#include "canvas/SkImage.h"
#include "canvas/ViewExport.h"
#include "controls/TraBtn.h"
#include "media/MfPackManager.h"
#include "platform/FMXUtils.h"
#include "platform/MessageService.h"
#include "platform/core/IniFile.h"
#include "transport/TraMediaFMX.h"

namespace skm {

const char* const kIconLink =
    "M0.182,0.606 L0.366,0.422 C0.424,0.364 0.519,0.364 0.578,0.422 C0.636,0.481 0.636,0.576 0.578,0.634 "
    "L0.394,0.818 C0.335,0.877 0.240,0.877 0.182,0.818 C0.123,0.760 0.123,0.665 0.182,0.606 Z "
    "M0.228,0.652 C0.195,0.685 0.195,0.739 0.228,0.772 C0.261,0.805 0.315,0.805 0.348,0.772 L0.532,0.588 "
    "C0.565,0.555 0.565,0.501 0.532,0.468 C0.499,0.435 0.445,0.435 0.412,0.468 L0.228,0.652 Z "
    "M0.422,0.366 L0.606,0.182 C0.665,0.123 0.760,0.123 0.818,0.182 C0.877,0.240 0.877,0.335 0.818,0.394 "
    "L0.634,0.578 C0.576,0.636 0.481,0.636 0.422,0.578 C0.364,0.519 0.364,0.424 0.422,0.366 Z "
    "M0.468,0.412 C0.435,0.445 0.435,0.499 0.468,0.532 C0.501,0.565 0.555,0.565 0.588,0.532 L0.772,0.348 "
    "C0.805,0.315 0.805,0.261 0.772,0.228 C0.739,0.195 0.685,0.195 0.652,0.228 L0.468,0.412 Z";
const char* const kIconExport =
    "M0.06,0.18 L0.94,0.18 L0.94,0.82 L0.06,0.82 Z M0.12,0.24 L0.12,0.76 L0.88,0.76 L0.88,0.24 Z "
    "M0.16,0.72 L0.38,0.42 L0.52,0.60 L0.62,0.50 L0.84,0.72 Z "
    "M0.680,0.290 C0.719,0.290 0.750,0.321 0.750,0.360 C0.750,0.399 0.719,0.430 0.680,0.430 "
    "C0.641,0.430 0.610,0.399 0.610,0.360 C0.610,0.321 0.641,0.290 0.680,0.290 Z";

namespace {
constexpr float kTransportTransD = 0.2f;  // the transport area's idle opacity
constexpr int kUnit = 60;
} // namespace

// The link's offset under its toggle: white with a dark outline, like the frame readouts,
// and like them at an opacity well above the transport area's idle one.
class TLinkOffsetLabel : public QWidget {
public:
  explicit TLinkOffsetLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
  }
  void SetText(const QString& t) {
    if (t == FText) return;
    FText = t;
    update();
  }
  QString Text() const { return FText; }

protected:
  void paintEvent(QPaintEvent*) override {
    if (FText.isEmpty()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(0.9);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    const QFontMetricsF fm(font);
    QPainterPath path;
    path.addText(QPointF((width() - fm.horizontalAdvance(FText)) / 2, (height() + fm.ascent() - fm.descent()) / 2),
                 font, FText);
    p.setPen(QPen(QColor(0, 0, 0, 200), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(path);
  }

private:
  QString FText;
};

TWindowExtras::TWindowExtras(TMainFrm* window) : QObject(window), FWindow(window) {
  TMainFrm* w = FWindow;
  Link = new TLaneLink(w->TraMedialayout1, w->TraMedialayout2, this);
  Link->OnChange = [this] { LinkShow(); };
  Link->OnSaveError = [](const QString& error) {
    ShowMessage(QStringLiteral("The link offset could not be saved to the position file.\n") + error);
  };

  // Right of play-both in the transport area's left column; the transport area is dark.
  TraBtnLink = TTraBtn::CreateParam(w->LayoutML, QString::fromLatin1(kIconLink), 2 * kUnit, 30, true,
                                    [this](QObject* s) { TraBtnLinkExecute(s); }, nullptr);
  TraBtnLink->SetTransD(kTransportTransD);
  TraBtnLink->hide();
  FLinkOffset = new TLinkOffsetLabel(w->LayoutML);
  FLinkOffset->setGeometry(2 * kUnit, 90, kUnit, 30);
  FLinkOffset->hide();

  // Beside setup and about in the menu fly-out.
  TraBtnExport = TTraBtn::CreateParam(w->LayoutSetups, QString::fromLatin1(kIconExport), 2 * kUnit, 0,
                                      w->isDark(), [this](QObject* s) { TraBtnExportExecute(s); }, nullptr);
  w->LayoutSetups->SetDesignSize({3 * kUnit, kUnit});
  w->LayoutSetups->Realign();
  if (auto* parent = qobject_cast<TContainer*>(w->LayoutSetups->parentWidget())) parent->Realign();

  auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+E")), w);
  shortcut->setContext(Qt::WindowShortcut);
  connect(shortcut, &QShortcut::activated, this, [this] { TraBtnExportExecute(); });
  LaneLayoutUpdate();
}

TWindowExtras::~TWindowExtras() = default;

// --- the link --------------------------------------------------------------------------

void TWindowExtras::LaneLayoutUpdate() {
  TMainFrm* w = FWindow;
  if (!w->TraBtnPlayX || !w->LayoutML) return;
  // Linking needs a movie in each lane: exactly where play-both shows.
  const bool shown = !w->TraBtnPlayX->isHidden();
  TraBtnLink->setVisible(shown);
  if (!shown && Link->isLinked()) Link->Drop();
  if (shown && !w->LayoutML->isHidden()) {
    w->LayoutML->SetDesignSize({3 * kUnit, 2 * kUnit});
    w->LayoutM->Realign();
    w->LayoutMC->Realign();
  }
  LinkShow();
}

void TWindowExtras::LinkShow() {
  TraBtnLink->SetIsDown(Link->isLinked());
  FLinkOffset->SetText(Link->isLinked() ? LinkOffsetText(Link->Offset()) : QString());
  FLinkOffset->setVisible(Link->isLinked() && !TraBtnLink->isHidden());
}

QWidget* TWindowExtras::LinkOffset() const { return FLinkOffset; }
QString TWindowExtras::OffsetShown() const { return FLinkOffset->Text(); }

void TWindowExtras::TraBtnLinkExecute(QObject*) {
  if (Link->isLinked())
    Link->Unlink();
  else
    Link->Link();
}

bool TWindowExtras::KeyDown(Qt::KeyboardModifiers shift) {
  if (!Link->isLinked() || !(shift & Qt::AltModifier)) return false;
  if (KeyIsDown('A')) {
    Link->Nudge(-1);
    return true;
  }
  if (KeyIsDown('F')) {
    Link->Nudge(1);
    return true;
  }
  return false;
}

void TWindowExtras::LaneChanging() { Link->Drop(); }

void TWindowExtras::LaneOpened() {
  // Both movies open again: a saved offset links them as they were.
  Link->LinkRestore();
  LaneLayoutUpdate();
}

void TWindowExtras::ThemeUpdate(bool isDark) { TraBtnExport->SetIsDark(isDark); }

// --- the export ------------------------------------------------------------------------

QString TWindowExtras::ExportDefaultName() const {
  TMainFrm* w = FWindow;
  const QString lane1 = w->SkImage->V1Filename();
  qint64 frame = -1;
  if (FileKind(lane1) == 2 && w->MfPackManager1 && w->MfPackManager1->HasVideo()) {
    const TMediaTime step = w->MfPackManager1->MediaSTEP();
    const TMediaTime t = w->MfPackManager1->CurrentTime();
    if (step != 0 && t != kNoPosition) frame = static_cast<qint64>(t / step);
  }
  return ViewExportDefaultName(FileKind(lane1) == 0 ? QString() : lane1, frame,
                               FileKind(lane1) == 0 ? QDir::homePath() : QString());
}

void TWindowExtras::TraBtnExportExecute(QObject*) {
  TMainFrm* w = FWindow;
  w->RectangleCClick();
  const QString suggested = ExportDefaultName();
  const QString file = SaveDialogHook ? SaveDialogHook(suggested)
                                      : QFileDialog::getSaveFileName(w, QStringLiteral("Export the view"), suggested,
                                                                     QStringLiteral("PNG pictures (*.png)"));
  if (file.isEmpty()) return;
  ExportViewTo(QFileInfo(file).suffix().isEmpty() ? file + QStringLiteral(".png") : file);
}

bool TWindowExtras::ExportViewTo(const QString& file) {
  TMainFrm* w = FWindow;
  TViewExportScene scene = ViewExportSceneOf(*w->SkImage);
  // In whiteboard mode lane 1 is the board itself; otherwise a lane without a file has
  // only the canvas's blank start picture, which is not part of what is compared.
  if (!w->TraBtnWbrd->isDown() && FileKind(w->SkImage->V1Filename()) == 0) scene.Lane1.Visible = false;
  if (FileKind(w->SkImage->V2Filename()) == 0) scene.Lane2.Visible = false;
  QImage picture;
  QString error;
  if (!ViewExportRender(scene, picture, &error)) {
    ShowMessage(QStringLiteral("The view could not be exported.\n") + error);
    return false;
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  std::string werr;
  if (!picture.save(&buffer, "PNG") ||
      !WriteFileAtomically(file.toStdString(), std::string_view(bytes.constData(), bytes.size()), &werr)) {
    ShowMessage(QStringLiteral("The view could not be exported to \"%1\".\n%2")
                    .arg(file, QString::fromStdString(werr)));
    return false;
  }
  return true;
}

} // namespace skm
