#include "app/LaneLink.h"

#include <QFileInfo>
#include <algorithm>
#include <limits>

#include "media/MfPackManager.h"
#include "media/MfPackPlayer.h"
#include "platform/core/IniFile.h"

namespace skm {
namespace {

constexpr const char* kLinkSection = "Link";
constexpr const char* kOffsetKey = "Offset";
constexpr int kAlignPollMs = 5;
constexpr int kAlignLimitMs = 2000;  // a pause that never lands stops being waited for

// Offsets beyond any movie's frames are refused when read: they can only come from a
// damaged or hand-edited file.
constexpr int64_t kMaxOffset = int64_t(1) << 40;

} // namespace

std::optional<int64_t> LinkOffsetRead(const QString& movie) {
  if (movie.isEmpty()) return std::nullopt;
  TIniFile ini;
  if (!ini.LoadFromFile(PositionFileName(movie).toStdString())) return std::nullopt;
  const std::optional<std::string> text = ini.Read(kLinkSection, kOffsetKey);
  if (!text) return std::nullopt;
  const std::optional<int64_t> v = ParsePositionValue(*text);
  if (!v || *v > kMaxOffset || *v < -kMaxOffset) return std::nullopt;
  return v;
}

bool LinkOffsetWrite(const QString& movie, std::optional<int64_t> offset, QString* error) {
  if (movie.isEmpty() || !QFileInfo(movie).isFile()) return false;
  const std::string path = PositionFileName(movie).toStdString();
  TIniFile ini;
  std::string err;
  // A file that is there but cannot be read is not replaced: its marks would be lost.
  bool ok = ini.LoadFromFile(path, &err);
  if (ok) {
    if (offset) {
      ini.WriteInteger(kLinkSection, kOffsetKey, *offset);
    } else {
      if (!ini.ValueExists(kLinkSection, kOffsetKey)) return true;  // nothing to remove
      ini.DeleteKey(kLinkSection, kOffsetKey);
      if (ini.Keys(kLinkSection).empty()) ini.EraseSection(kLinkSection);
    }
    ok = ini.SaveToFile(path, &err);
  }
  if (!ok && error) *error = QString::fromStdString(err);
  return ok;
}

QString LinkOffsetText(int64_t offset) {
  return (offset > 0 ? QStringLiteral("+") : QString()) + QString::number(offset) + QStringLiteral(" f");
}

TLaneLink::TLaneLink(TTraMediaLayout* bar1, TTraMediaLayout* bar2, QObject* parent)
    : QObject(parent), FBar1(bar1), FBar2(bar2) {
  FAlign.setInterval(kAlignPollMs);
  connect(&FAlign, &QTimer::timeout, this, &TLaneLink::AlignTick);
  if (FBar1) FBar1->OnUserAction = [this](TTraUserAction a, TMediaTime t) { Action(1, a, t); };
  if (FBar2) FBar2->OnUserAction = [this](TTraUserAction a, TMediaTime t) { Action(2, a, t); };
}

TLaneLink::~TLaneLink() {
  if (FBar1) FBar1->OnUserAction = nullptr;
  if (FBar2) FBar2->OnUserAction = nullptr;
}

TMfPackManager* TLaneLink::Mgr(int lane) const {
  TTraMediaLayout* b = Bar(lane);
  return b ? b->FMfPackManager.data() : nullptr;
}

bool TLaneLink::CanLink() const {
  for (int lane : {1, 2}) {
    TMfPackManager* m = Mgr(lane);
    if (!m || !m->HasVideo() || m->MediaSTEP() == 0) return false;
  }
  return true;
}

int64_t TLaneLink::FrameOf(const TTraMediaLayout* bar, TMediaTime t) {
  const TMfPackManager* m = bar ? bar->FMfPackManager.data() : nullptr;
  const TMediaTime step = m ? m->MediaSTEP() : 0;
  if (step == 0 || t == kNoPosition) return 0;
  return static_cast<int64_t>(std::min<TMediaTime>(t / step, std::numeric_limits<int64_t>::max()));
}

TMediaTime TLaneLink::TimeOf(const TTraMediaLayout* bar, int64_t frame) {
  const TMfPackManager* m = bar ? bar->FMfPackManager.data() : nullptr;
  const TMediaTime step = m ? m->MediaSTEP() : 0;
  const TMediaTime duration = bar ? bar->Duration() : 0;
  if (step == 0 || duration == 0) return 0;
  // The last frame is the one that starts before the end.
  const int64_t last = static_cast<int64_t>((duration - 1) / step);
  return static_cast<TMediaTime>(std::clamp<int64_t>(frame, 0, last)) * step;
}

TMediaTime TLaneLink::Partner(int lane, TMediaTime t) const {
  const int64_t f = FrameOf(Bar(lane), t);
  // Saturating: offsets are bounded far below the limits, frames by the duration.
  return lane == 1 ? TimeOf(FBar2, f + FOffset) : TimeOf(FBar1, f - FOffset);
}

bool TLaneLink::Link() {
  if (!CanLink()) return false;
  const int64_t f1 = FrameOf(FBar1, Mgr(1)->CurrentTime());
  const int64_t f2 = FrameOf(FBar2, Mgr(2)->CurrentTime());
  FLinked = true;
  FOffset = f2 - f1;
  Save();
  Changed();
  return true;
}

bool TLaneLink::LinkAt(int64_t offset, bool save) {
  if (!CanLink()) return false;
  FLinked = true;
  FOffset = offset;
  FApplying = true;
  FBar2->FollowSeek(Partner(1, Mgr(1)->CurrentTime()));
  FApplying = false;
  if (save) Save();
  Changed();
  return true;
}

bool TLaneLink::LinkRestore() {
  if (FLinked || !CanLink()) return false;
  const std::optional<int64_t> offset = LinkOffsetRead(Mgr(2)->FileName());
  return offset && LinkAt(*offset, false);
}

void TLaneLink::Unlink() {
  if (!FLinked) return;
  FLinked = false;
  FAlign.stop();
  if (TMfPackManager* m2 = Mgr(2)) {
    QString error;
    if (!LinkOffsetWrite(m2->FileName(), std::nullopt, &error) && !error.isEmpty() && OnSaveError)
      OnSaveError(error);
  }
  Changed();
}

void TLaneLink::Drop() {
  if (!FLinked) return;
  FLinked = false;
  FAlign.stop();
  Changed();
}

void TLaneLink::Nudge(int64_t delta) {
  if (!FLinked || !CanLink()) return;
  FOffset = std::clamp<int64_t>(FOffset + delta, -kMaxOffset, kMaxOffset);
  FApplying = true;
  FBar2->FollowSeek(Partner(1, Mgr(1)->CurrentTime()));
  FApplying = false;
  Save();
  Changed();
}

void TLaneLink::Save() {
  TMfPackManager* m2 = Mgr(2);
  if (!m2) return;
  QString error;
  if (!LinkOffsetWrite(m2->FileName(), FOffset, &error) && OnSaveError)
    OnSaveError(error.isEmpty() ? QStringLiteral("The position file could not be written.") : error);
}

void TLaneLink::Changed() {
  if (OnChange) OnChange();
}

void TLaneLink::Action(int lane, TTraUserAction a, TMediaTime t) {
  if (!FLinked || FApplying) return;
  if (!CanLink()) {
    Drop();  // a lane lost its movie
    return;
  }
  const int other = lane == 1 ? 2 : 1;
  TTraMediaLayout* ob = Bar(other);
  TMfPackManager* lm = Mgr(lane);
  TMfPackManager* om = Mgr(other);
  FApplying = true;
  switch (a) {
    case TTraUserAction::Seek:
      // A step pauses its lane; the partner rests too, at the offset.
      ob->FollowSeek(Partner(lane, t), !lm->isPlaying() || Bar(lane)->isTracking());
      break;
    case TTraUserAction::TrackDown:
      ob->TrackDown();
      break;
    case TTraUserAction::TrackUp:
      ob->TrackUp();
      break;
    case TTraUserAction::Start:
      if (!om->isPlaying()) {
        ob->FollowSeek(Partner(lane, t));
        ob->TraStartExecute();
      }
      break;
    case TTraUserAction::Pause:
      if (om->isPlaying()) om->MediaPause();
      AlignAfterPause(lane);
      break;
    case TTraUserAction::Rate:
      ob->SetRateQue(Bar(lane)->RateQue());
      if (om->isPlaying()) om->SetRate(Bar(lane)->RateQue());
      break;
  }
  FApplying = false;
}

void TLaneLink::AlignAfterPause(int lead) {
  FAlignLead = lead;
  FAlignTicks = 0;
  FAlign.start();
}

void TLaneLink::AlignTick() {
  if (!FLinked || !CanLink()) {
    FAlign.stop();
    return;
  }
  TMfPackManager* lm = Mgr(FAlignLead);
  TMfPackPlayer* p = lm->Player();
  const bool landed = !p || (p->GetState() == TPlayerState::Paused && p->PendingKind() == 0 &&
                             p->RequestedCommand() == TCommand::CmdNone);
  if (!landed && ++FAlignTicks * kAlignPollMs < kAlignLimitMs) return;
  FAlign.stop();
  if (lm->isPlaying()) return;  // started again meanwhile
  FApplying = true;
  Bar(FAlignLead == 1 ? 2 : 1)->FollowSeek(Partner(FAlignLead, lm->CurrentTime()));
  FApplying = false;
}

} // namespace skm
