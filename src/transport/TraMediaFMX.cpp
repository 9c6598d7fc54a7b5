#include "transport/TraMediaFMX.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>
#include <string>

#include "controls/TraBtn.h"
#include "controls/TraValue.h"
#include "media/MfPackManager.h"
#include "media/MfPackPlayer.h"
#include "platform/MessageService.h"
#include "platform/core/IniFile.h"
#include "transport/FrameReadout.h"

namespace skm {

const char* const kIconPlay =
    "M0.106343746185303,0 L0.893656253814697,0.5 L0.106343746185303,1 Z ";
const char* const kIconPause =
    "M0.610249698162079,0 L0.968468725681305,0 L0.968468725681305,1 L0.610249698162079,1 Z M0.0315312743186951,0 L0.389812260866165,0 L0.389812260866165,1 L0.0315312743186951,1 Z ";
const char* const kIconBWard =
    "M1,0.125 L1,0.500 L1,0.875 L0.544,0.500 Z M0.456,0.125 L0.456,0.500 L0.456,0.875 L0,0.500 Z";
const char* const kIconFWard =
    "M0.544,0.125 L1,0.500 L0.544,0.875 L0.544,0.500 Z M0,0.125 L0.456,0.500 L0,0.875 L0,0.500 Z";
const char* const kIconRateNormal =
    "M0.499,0.336 C0.500000016,0.336 0.530,0.350 0.530,0.367 L0.530,0.639 L0.530,0.639 C0.558,0.651 0.578,0.679 0.578,0.711 C0.578,0.754 0.543,0.789 0.500,0.789 C0.457,0.789 0.422,0.754 0.422,0.711 C0.422,0.680 0.440,0.653 0.466,0.641 L0.468,0.640 L0.468,0.367 C0.468,0.350 0.482,0.336 0.499,0.336 Z M0.5,0.211 C0.776,0.211 1,0.435 1,0.711 C1,0.728 0.986,0.742 0.969,0.742 C0.951,0.742 0.938,0.728 0.938,0.711 C0.938,0.470 0.741,0.273 0.5,0.273 C0.259,0.273 0.063,0.470 0.063,0.711 C0.063,0.728 0.049,0.742 0.031,0.742 C0.014,0.742 0,0.728 0,0.711 C0,0.435 0.224,0.211 0.5,0.211 Z";
const char* const kIconRateHalf =
    "M0.264,0.444 C0.272,0.444 0.280,0.447 0.286,0.453 L0.472,0.639 L0.473,0.639 C0.482,0.635 0.491,0.634 0.500,0.634 C0.543,0.634 0.578,0.669 0.578,0.712 C0.578,0.755 0.543,0.790 0.500,0.790 C0.457,0.790 0.422,0.755 0.422,0.712 C0.422,0.702 0.424,0.693 0.427,0.685 L0.428,0.682 L0.242,0.497 C0.230,0.485 0.230,0.465 0.242,0.453 C0.248,0.447 0.256,0.444 0.264,0.444 Z M0.500,0.210 C0.776,0.210 1,0.434 1,0.710 C1,0.727 0.986,0.741 0.969,0.741 C0.952,0.741 0.938,0.727 0.938,0.710 C0.938,0.469 0.741,0.272 0.500,0.272 C0.259,0.272 0.062,0.469 0.062,0.710 C0.062,0.727 0.049,0.741 0.031,0.741 C0.014,0.741 0,0.727 0,0.710 C0,0.434 0.224,0.210 0.500,0.210 Z";
const char* const kIconRateDouble =
    "M0.736,0.444 C0.744,0.444 0.752,0.447 0.758,0.453 C0.770,0.465 0.770,0.485 0.758,0.497 L0.573,0.682 L0.574,0.685 C0.577,0.693 0.578,0.702 0.578,0.711 C0.578,0.754 0.543,0.790 0.500,0.790 C0.457,0.790 0.422,0.755 0.422,0.711 C0.422,0.668 0.457,0.633 0.500,0.633 C0.510,0.633 0.519,0.635 0.527,0.638 L0.528,0.638 L0.714,0.452 C0.720,0.447 0.728,0.444 0.736,0.444 Z M0.500,0.210 C0.776,0.210 1.000,0.435 1.000,0.710 C1.000,0.728 0.986,0.742 0.969,0.742 C0.952,0.742 0.937,0.728 0.937,0.710 C0.937,0.469 0.741,0.273 0.500,0.273 C0.259,0.273 0.063,0.469 0.063,0.710 C0.063,0.728 0.048,0.742 0.031,0.742 C0.014,0.742 0,0.728 0,0.710 C0.000,0.435 0.224,0.210 0.500,0.210 Z";

namespace {

constexpr int kUnit = kControlSize;   // the kit's grid
constexpr int kSettlePollMs = 2;      // how often a landed seek is looked for
constexpr int kSettleLimitMs = 2000;  // a seek that never lands stops holding the check off
constexpr int kPauseWaitMs = 1000;    // how long a seek waits for a pause under way
constexpr const char* kSection = "VideoPosition";
constexpr int kScrubIntervalMs = 33;  // how often a track drag applies the pointer

// a x b, or the all-ones time when it does not fit (the mark writes clamp it).
TMediaTime SatMul(uint64_t a, uint64_t b) {
  if (b != 0 && a > std::numeric_limits<uint64_t>::max() / b) return kNoPosition;
  return a * b;
}

TMediaTime SatAdd(TMediaTime a, TMediaTime b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? kNoPosition : a + b;
}

// A frame number of the file as a time. A negative number or one too large for the time
// gives the all-ones time, which the mark writes clamp to the duration.
TMediaTime FramesToTime(int64_t frames, TMediaTime step) {
  if (frames < 0) return kNoPosition;
  return SatMul(static_cast<uint64_t>(frames), step);
}

} // namespace

QString PositionFileName(const QString& movie) {
  const qsizetype slash = std::max(movie.lastIndexOf(u'/'), movie.lastIndexOf(u'\\'));
  const qsizetype dot = movie.lastIndexOf(u'.');
  if (dot > slash) return movie.left(dot) + QStringLiteral(".vpo");
  return movie + QStringLiteral(".vpo");
}

std::optional<int64_t> ParsePositionValue(std::string_view t) {
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    uint64_t v = 0;
    const char* b = t.data() + 2;
    const char* e = t.data() + t.size();
    auto [p, ec] = std::from_chars(b, e, v, 16);
    if (ec != std::errc() || p != e) return std::nullopt;
    return static_cast<int64_t>(v);  // 16 hex digits are the 64-bit pattern
  }
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  if (t.empty() || t[0] == '+') return std::nullopt;
  int64_t v = 0;
  const char* e = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data(), e, v, 10);
  if (ec != std::errc() || p != e) return std::nullopt;
  return v;
}

// --- construction ---------------------------------------------------------------------

TTraMediaLayout::TTraMediaLayout(QWidget* aParent, TMfPackManager* aMfPackManager, bool aisDark,
                                 float aTransD)
    : QWidget(aParent), FMfPackManager(aMfPackManager) {
  if (aParent) {
    setGeometry(aParent->rect());
    aParent->installEventFilter(this);
  }
  LayoutB = new QWidget(this);
  LayoutB->setFixedWidth(4 * kUnit);
  LayoutT = new QWidget(this);
  LayoutS = new QWidget(this);
  LayoutS->setFixedWidth(kUnit);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(LayoutB);
  row->addWidget(LayoutT, 1);
  row->addWidget(LayoutS);

  FTransD = aTransD;
  FDuration = FRange0 = FRange1 = 0;

  auto button = [&](const QString& icon, int x, void (TTraMediaLayout::*handler)(QObject*)) {
    TTraBtn* b = TTraBtn::CreateParam(LayoutB, icon, x, 0, aisDark,
                                      [this, handler](QObject* s) { (this->*handler)(s); }, {});
    b->SetTransD(FTransD);
    return b;
  };
  TraStart = button(StartIcon(), 0, &TTraMediaLayout::TraStartExecute);
  RateFromQue();
  TraMRate = button(RateIcon(), kUnit, &TTraMediaLayout::TraMRateExecute);
  TraBWard = button(QString::fromLatin1(kIconBWard), 2 * kUnit, &TTraMediaLayout::TraBWardExecute);
  TraFWard = button(QString::fromLatin1(kIconFWard), 3 * kUnit, &TTraMediaLayout::TraFWardExecute);

  TraVolume = new TTraVolume(LayoutS);
  TraVolume->SetOnChange([this](float v) { TraVolumeChange(v); });
  TraVolume->SetIsDark(aisDark);
  TraVolume->SetTransD(FTransD);

  TraTrack = new TTraTrack(LayoutT);
  TraTrack->SetOnChange([this](uint64_t v, uint64_t v0, uint64_t v1) { TraTrackChange(v, v0, v1); });
  TraTrack->SetOnTrackDn([this] { TrackDown(); });
  TraTrack->SetOnTrackUp([this] { TrackUp(); });
  TraTrack->SetIsDark(aisDark);
  TraTrack->SetTransD(FTransD);
  // A scrub shows a picture per pointer move only if the drag is applied at about the
  // pace pictures can come; seeks queued faster than that are coalesced by the session.
  TraTrack->SetDragInterval(kScrubIntervalMs);
  TraReadout = new TTraFrameReadout(LayoutT);

  // Last: the rate button above was made while the queued rate was still 0.
  FRateQue = 1.0f;

  FSettle = new QTimer(this);
  FSettle->setInterval(kSettlePollMs);
  FSettle->setTimerType(Qt::PreciseTimer);
  connect(FSettle, &QTimer::timeout, this, &TTraMediaLayout::SettleTick);
  // Made inside a window already on screen, the bar would stay hidden until shown.
  if (aParent && aParent->isVisible()) show();
}

TTraMediaLayout* TTraMediaLayout::CreateParam(QWidget* /*aOwner*/, QWidget* aParent,
                                              TMfPackManager* aMfPackManager, bool aisDark,
                                              float aTransD) {
  return new TTraMediaLayout(aParent, aMfPackManager, aisDark, aTransD);
}

TTraMediaLayout::~TTraMediaLayout() {
  // A step in progress must not leave the lane delivering on every tick.
  if (FSettle->isActive() && FMfPackManager) FMfPackManager->SetIsCheckTimer(true);
}

bool TTraMediaLayout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize)
    setGeometry(parentWidget()->rect());
  return QWidget::eventFilter(watched, event);
}

// --- helpers --------------------------------------------------------------------------

bool TTraMediaLayout::HasVideo() const { return FMfPackManager && FMfPackManager->HasVideo(); }

QString TTraMediaLayout::StartIcon() {
  FDisPlaying = HasVideo() && FMfPackManager->isPlaying();
  return QString::fromLatin1(FDisPlaying ? kIconPause : kIconPlay);
}

void TTraMediaLayout::RateFromQue() {
  if (!HasVideo())
    FMediaRate = mrNone;
  else if (FRateQue == 2.0f)
    FMediaRate = mrDouble;
  else if (FRateQue == 0.5f)
    FMediaRate = mrHalf;
  else
    FMediaRate = mrNormal;
}

QString TTraMediaLayout::RateIcon() const {
  switch (FMediaRate) {
    case mrHalf: return QString::fromLatin1(kIconRateHalf);
    case mrDouble: return QString::fromLatin1(kIconRateDouble);
    default: return QString::fromLatin1(kIconRateNormal);
  }
}

void TTraMediaLayout::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(
      this,
      [this, fn = std::move(fn)]() mutable {
        // Held back while TraStartExecute waits, so the wait never re-enters the bar.
        if (FisWaiting)
          FDeferred.push_back(std::move(fn));
        else
          fn();
      },
      Qt::QueuedConnection);
}

void TTraMediaLayout::Seek(TMediaTime t) {
  FMfPackManager->SetCurrentTime(t);
  FSeekTarget = t;
  SettleThenCheck();
  ReadoutUpdate(t);
}

void TTraMediaLayout::UserAction(TTraUserAction a, TMediaTime t) {
  if (!OnUserAction || FisInAction) return;
  const QPointer<TTraMediaLayout> self(this);
  FisInAction = true;
  const auto fn = OnUserAction;  // the callback may replace it
  fn(a, t);
  if (self) FisInAction = false;
}

void TTraMediaLayout::FollowSeek(TMediaTime t, bool pause) {
  if (!HasVideo()) return;
  FFollowTarget = std::min(t, FDuration);
  FFollowPause = pause;
  if (pause && FMfPackManager->isPlaying()) FMfPackManager->MediaPause();
  if (!FFollowWaiting) FollowRun(0);
}

void TTraMediaLayout::FollowRun(int waited) {
  FFollowWaiting = false;
  if (FFollowTarget == kNoPosition) return;
  if (!HasVideo()) {
    FFollowTarget = kNoPosition;
    return;
  }
  if (FFollowPause && FMfPackManager->isPlaying() && waited < kPauseWaitMs) {
    FFollowWaiting = true;
    ReadoutUpdate(FFollowTarget);
    QTimer::singleShot(kSettlePollMs, this, [this, waited] { FollowRun(waited + kSettlePollMs); });
    return;
  }
  const TMediaTime to = FFollowTarget;
  FFollowTarget = kNoPosition;
  Seek(to);
  TraTrack->SetValue(to);
}

void TTraMediaLayout::ReadoutUpdate(TMediaTime t) {
  if (!TraReadout) return;
  const TMediaTime step = HasVideo() ? FMfPackManager->MediaSTEP() : 0;
  TraReadout->SetMarks(FRange0, FRange1, FisMarkDrag);
  TraReadout->SetPosition(step ? t : kNoPosition, step, FDuration);
}

TMediaTime TTraMediaLayout::Position() const {
  // A seek made while paused reads as the old position until it has landed; the bar's own
  // target counts meanwhile, so that steps queued behind each other add up.
  if (FSeekTarget != kNoPosition && FSettle->isActive()) return FSeekTarget;
  return FMfPackManager->CurrentTime();
}

// --- properties -----------------------------------------------------------------------

bool TTraMediaLayout::isDark() const { return TraStart->isDark(); }

void TTraMediaLayout::SetIsDark(bool value) {
  if (value == TraStart->isDark()) return;
  for (TTraBtnBase* c : std::initializer_list<TTraBtnBase*>{TraStart, TraMRate, TraBWard, TraFWard,
                                                            TraVolume, TraTrack})
    c->SetIsDark(value);
}

void TTraMediaLayout::SetDuration(TMediaTime a) {
  FDuration = a;
  TraTrack->SetMax(a);
  FRange0 = 0;
  FRange1 = a;
  ReadoutUpdate(HasVideo() ? Position() : kNoPosition);
}

void TTraMediaLayout::SetTransD(float value) {
  if (value == FTransD) return;
  FTransD = value;
  for (TTraBtnBase* c : std::initializer_list<TTraBtnBase*>{TraStart, TraMRate, TraBWard, TraFWard,
                                                            TraVolume, TraTrack})
    c->SetTransD(value);
}

void TTraMediaLayout::SetRateQue(float x) {
  if (x == FRateQue) return;
  FRateQue = x;
  RateFromQue();
  TraMRate->SetData(RateIcon());
}

void TTraMediaLayout::SetRange0(TMediaTime a) {
  // The clamped time goes to the track: the track stores the all-ones time as 0.
  FRange0 = std::min(FDuration, a);
  TraTrack->SetValue0(FRange0);
  FRange0 = TraTrack->Value0();
  if (TraReadout) TraReadout->SetMarks(FRange0, FRange1, FisMarkDrag);
}

void TTraMediaLayout::SetRange1(TMediaTime a) {
  FRange1 = std::min(FDuration, a);
  TraTrack->SetValue1(FRange1);
  FRange1 = TraTrack->Value1();
  if (TraReadout) TraReadout->SetMarks(FRange0, FRange1, FisMarkDrag);
}

// --- status ---------------------------------------------------------------------------

void TTraMediaLayout::LayoutInfo(TMediaTime CurrentTime, float Volume, bool isPlaying) {
  if (FisWaiting) return;  // the next report, 200 ms on, shows it
  // A seek of the bar that has not landed yet still reads as the old position.
  const TMediaTime shown = FSeekTarget != kNoPosition && FSettle->isActive() ? FSeekTarget : CurrentTime;
  TraTrack->SetValue(shown);
  ReadoutUpdate(shown);
  TraVolume->SetValue(Volume);
  if (isPlaying != FDisPlaying) {
    TraStart->SetData(QString::fromLatin1(isPlaying ? kIconPause : kIconPlay));
    FDisPlaying = isPlaying;
  }
  // No position (no clock yet) is not a position past mark B.
  if (isPlaying && CurrentTime != kNoPosition && CurrentTime > FRange1)
    Post([this] {
      if (HasVideo()) FMfPackManager->MediaPause();
    });
}

// --- buttons --------------------------------------------------------------------------

void TTraMediaLayout::TraStartExecute(QObject*) {
  if (FisWaiting || !HasVideo()) return;
  TMfPackManager* m = FMfPackManager;
  if (m->isPlaying()) {
    m->MediaPause();
    UserAction(TTraUserAction::Pause, Position());
    return;
  }
  const TMediaTime t = Position();
  if (t < FRange0 || t >= FRange1) Seek(FRange0);
  m->MediaStart();
  if (m->Rate() == FRateQue) {
    UserAction(TTraUserAction::Start, Position());
    return;
  }

  // The player takes a rate only while playing. Wait for that, for a limited time, with
  // only non-input events dispatched; the bar's own queued work is held back meanwhile.
  const QPointer<TTraMediaLayout> self(this);
  const QPointer<TMfPackManager> mgr(m);
  const std::weak_ptr<TMfPackPlayer> player = m->PlayerRef();
  QElapsedTimer clock;
  clock.start();
  bool playing = m->isPlaying();
  FisWaiting = true;
  while (!playing && clock.elapsed() < StartWaitMs) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    if (!self) return;  // the bar went away inside the wait
    // The lane closed or opened another movie: nothing to apply the rate to.
    if (!mgr || player.expired() || mgr->PlayerRef().lock() != player.lock() || !mgr->HasVideo())
      break;
    playing = mgr->isPlaying();
    if (!playing) QThread::msleep(1);
  }
  FisWaiting = false;
  if (playing && mgr) mgr->SetRate(FRateQue);
  // What was held back runs now, in its order, after this event.
  std::vector<std::function<void()>> held;
  held.swap(FDeferred);
  for (auto& fn : held) Post(std::move(fn));
  if (mgr && mgr->HasVideo()) UserAction(TTraUserAction::Start, Position());
}

void TTraMediaLayout::TraMRateExecute(QObject*) {
  if (FisWaiting || !HasVideo()) return;
  RateFromQue();
  float rate = 0.0f;
  switch (FMediaRate) {
    case mrHalf: FMediaRate = mrNormal; rate = 1.0f; break;
    case mrNormal: FMediaRate = mrDouble; rate = 2.0f; break;
    case mrDouble: FMediaRate = mrHalf; rate = 0.5f; break;
    case mrNone: break;
  }
  TraMRate->SetData(RateIcon());
  if (rate == 0.0f) return;
  FRateQue = rate;
  if (FMfPackManager->isPlaying()) FMfPackManager->SetRate(rate);
  UserAction(TTraUserAction::Rate, Position());
}

void TTraMediaLayout::TraBWardExecute(QObject*) {
  if (FisWaiting || !HasVideo()) return;
  if (FRange0 > 0) {
    Seek(FRange0);
    UserAction(TTraUserAction::Seek, FRange0);
    return;
  }
  const TMediaTime t = Position();
  if (t == kNoPosition) return;
  if (t > FLayer.BtnBWardD) {
    Seek(t - FLayer.BtnBWardD);
    UserAction(TTraUserAction::Seek, t - FLayer.BtnBWardD);
  }
}

void TTraMediaLayout::TraFWardExecute(QObject*) {
  if (FisWaiting || !HasVideo()) return;
  if (FRange1 < FDuration) {
    Seek(FRange1);
    UserAction(TTraUserAction::Seek, FRange1);
    return;
  }
  const TMediaTime t = Position();
  const TMediaTime d = FMfPackManager->Duration();
  if (t == kNoPosition) return;
  const TMediaTime to = SatAdd(t, FLayer.BtnFWardD);
  if (to < d) {
    Seek(to);
    UserAction(TTraUserAction::Seek, to);
  }
}

// --- volume and track -----------------------------------------------------------------

void TTraMediaLayout::TraVolumeChange(float Volume) {
  if (FisWaiting || !HasVideo()) return;
  FMfPackManager->SetVolume(Volume);
}

void TTraMediaLayout::TraTrackChange(uint64_t CurrentTime, uint64_t aRange0, uint64_t aRange1) {
  if (FisWaiting || !HasVideo()) return;
  // A press that moves a mark shows the marks' frames until its release.
  if (FisTracking && (aRange0 != FRange0 || aRange1 != FRange1)) FisMarkDrag = true;
  FRange0 = aRange0;
  FRange1 = aRange1;
  // During a press the lane was paused at TrackDown; while that pause is still under way a
  // seek would take its place, so the latest target waits for it.
  if (FisTracking && FMfPackManager->isPlaying()) {
    const bool waiting = FHeldSeek != kNoPosition;
    FHeldSeek = CurrentTime;
    ReadoutUpdate(CurrentTime);
    if (!waiting) HeldSeekRun(0);
  } else {
    Seek(CurrentTime);
  }
  UserAction(TTraUserAction::Seek, CurrentTime);
}

void TTraMediaLayout::HeldSeekRun(int waited) {
  if (FHeldSeek == kNoPosition) return;  // applied at the release meanwhile
  if (!HasVideo()) {
    FHeldSeek = kNoPosition;
    return;
  }
  if (FMfPackManager->isPlaying() && waited < kPauseWaitMs) {
    QTimer::singleShot(kSettlePollMs, this, [this, waited] { HeldSeekRun(waited + kSettlePollMs); });
    return;
  }
  const TMediaTime t = FHeldSeek;
  FHeldSeek = kNoPosition;
  Seek(t);
}

void TTraMediaLayout::TrackDown() {
  if (FisWaiting || !HasVideo()) return;
  TMfPackManager* m = FMfPackManager;
  FisTracking = true;
  FVolume = m->Volume();
  m->SetVolume(0.0f);
  FisPlaying = m->isPlaying();
  if (FisPlaying) m->MediaStartPause();
  m->SetIsCheckTimer(false);
  UserAction(TTraUserAction::TrackDown, Position());
}

void TTraMediaLayout::TrackUp() {
  // Only the release of a press this bar acted on restores anything.
  if (!FisTracking) return;
  FisTracking = false;
  if (FisMarkDrag) {
    FisMarkDrag = false;
    if (TraReadout) TraReadout->SetMarks(FRange0, FRange1, false);
  }
  if (!HasVideo()) {
    FHeldSeek = kNoPosition;
    return;
  }
  TMfPackManager* m = FMfPackManager;
  if (FHeldSeek != kNoPosition) {
    const TMediaTime t = FHeldSeek;
    FHeldSeek = kNoPosition;
    Seek(t);
  }
  SettleThenCheck();
  m->SetVolume(FVolume);
  // Resume only a lane that is not playing already: a toggle would pause one whose pause
  // never took effect.
  if (FisPlaying && !m->isPlaying()) m->MediaStartPause();
  UserAction(TTraUserAction::TrackUp, Position());
}

// --- keys -----------------------------------------------------------------------------

uint64_t TTraMediaLayout::KeyStep(Qt::KeyboardModifiers AShift) const {
  if (AShift & Qt::ShiftModifier) return FLayer.KeyXWard3D;
  if (AShift & Qt::ControlModifier) return FLayer.KeyXWard0D;
  return FLayer.KeyXWard1D;
}

void TTraMediaLayout::TraBWardKeyExecute(Qt::KeyboardModifiers AShift) { KeyStepQueue(true, AShift); }
void TTraMediaLayout::TraFWardKeyExecute(Qt::KeyboardModifiers AShift) { KeyStepQueue(false, AShift); }

void TTraMediaLayout::KeyStepQueue(bool back, Qt::KeyboardModifiers AShift) {
  if (!HasVideo()) return;
  const uint64_t n = KeyStep(AShift);
  FMfPackManager->SetIsCheckTimer(false);
  ++FStepsQueued;
  Post([this, back, n] {
    --FStepsQueued;
    KeyStepRun(back, n);
  });
}

void TTraMediaLayout::KeyStepRun(bool back, uint64_t n, int waited) {
  if (!HasVideo()) {
    // The lane closed after the key: nothing to step, but the check must not stay off.
    if (FMfPackManager && FStepsQueued == 0 && !FisTracking) FMfPackManager->SetIsCheckTimer(true);
    return;
  }
  TMfPackManager* m = FMfPackManager;
  if (m->isPlaying()) {
    m->MediaPause();
    // Behind a command under way (a start just pressed, a movie still coming to rest) the
    // pause is only remembered, and a seek now would take its place: the lane would play
    // on. The step waits for the pause, in its turn with the steps behind it.
    if (m->isPlaying() && waited < kPauseWaitMs) {
      ++FStepsQueued;
      QTimer::singleShot(kSettlePollMs, this, [this, back, n, waited] {
        --FStepsQueued;
        KeyStepRun(back, n, waited + kSettlePollMs);
      });
      return;
    }
  }
  const TMediaTime l = SatMul(m->MediaSTEP(), n);
  // Read now, not at the key: a seek still under way reads as its target, so steps queued
  // behind each other add up.
  const TMediaTime t = Position();
  if (t != kNoPosition) {
    TMediaTime to;
    if (back) {
      to = (TraTrack->Value() < l || t < l) ? 0 : t - l;
    } else {
      const TMediaTime max = TraTrack->Max();
      to = std::min(max, SatAdd(t, l));
    }
    Seek(to);
    TraTrack->SetValue(Position());
    UserAction(TTraUserAction::Seek, to);
  } else {
    SettleThenCheck();
  }
}

void TTraMediaLayout::TraRange0KeyExecute() { RangeKey(false); }
void TTraMediaLayout::TraRange1KeyExecute() { RangeKey(true); }

void TTraMediaLayout::RangeKey(bool markB) {
  if (FisWaiting || !HasVideo()) return;
  if (FMfPackManager->isPlaying()) FMfPackManager->MediaPause();
  const TMediaTime t = Position();
  if (t == kNoPosition) return;  // no clock: there is no position to mark
  if (markB)
    SetRange1(t);
  else
    SetRange0(t);
}

// --- landing of seeks -----------------------------------------------------------------

// The manager delivers a picture when the frame index of the position changes. A seek made
// while paused reads as the old position until it has landed, and one made while playing
// reads as its target at once, before its picture exists; either way the tick may miss the
// landed picture or take the old one. So every seek of the bar is followed until the player
// has carried it out; then the manager delivers the frame once more and the check is on.
// A key step or a track press has turned the check off before (every tick delivers), as
// the stepping rules ask; the check comes back only when the last of them has landed.
void TTraMediaLayout::SettleThenCheck() {
  if (!FMfPackManager) return;
  FSettleTicks = 0;
  FSettle->start();
}

bool TTraMediaLayout::SettlePending() const { return FSettle->isActive(); }

void TTraMediaLayout::SettleTick() {
  // Queued steps and a held track keep the check off; they hand it back themselves.
  if (FStepsQueued > 0 || FisTracking) return;
  TMfPackManager* m = FMfPackManager;
  if (!HasVideo()) {
    FSettle->stop();
    if (m) m->SetIsCheckTimer(true);
    return;
  }
  TMfPackPlayer* p = m->Player();
  const bool landed = !p || (p->PendingKind() == 0 && p->RequestedCommand() == TCommand::CmdNone);
  if (!landed && ++FSettleTicks * kSettlePollMs < kSettleLimitMs) return;
  FSettle->stop();
  FSeekTarget = kNoPosition;
  m->SetIsCheckTimer(false);  // deliver even if a tick already took this frame index
  m->TimerViewTick();
  m->SetIsCheckTimer(true);
}

// --- the position file ----------------------------------------------------------------

void TTraMediaLayout::RangesOpenFromFile() {
  if (!FMfPackManager) return;
  const QString movie = FMfPackManager->FileName();
  if (movie.isEmpty() || !QFileInfo(movie).isFile()) return;
  const TMediaTime step = FMfPackManager->MediaSTEP();
  if (step == 0) return;
  TIniFile ini;
  ini.LoadFromFile(PositionFileName(movie).toStdString());  // unreadable reads as empty
  auto value = [&](const char* key, int64_t def) {
    const std::optional<std::string> text = ini.Read(kSection, key);
    if (!text) return def;
    return ParsePositionValue(*text).value_or(def);
  };
  SetRange0(FramesToTime(value("Start", 0), step));
  SetRange1(FramesToTime(value("End", static_cast<int64_t>(FDuration / step)), step));
}

bool TTraMediaLayout::RangesSaveToFile() {
  if (!FMfPackManager) return false;
  const QString movie = FMfPackManager->FileName();
  if (movie.isEmpty() || !QFileInfo(movie).isFile()) return false;
  const TMediaTime step = FMfPackManager->MediaSTEP();
  if (step == 0) return false;
  const QString file = PositionFileName(movie);
  const std::string path = file.toStdString();
  std::string error;
  TIniFile ini;
  // A file that is there but cannot be read is not replaced: the user's other sections in
  // it would be lost.
  bool ok = ini.LoadFromFile(path, &error);
  if (ok) {
    ini.WriteInteger(kSection, "Start", static_cast<int64_t>(FRange0 / step));
    ini.WriteInteger(kSection, "End", static_cast<int64_t>(FRange1 / step));
    ok = ini.SaveToFile(path, &error);
  }
  if (!ok)
    ShowMessage(QStringLiteral("The range marks could not be saved to \"%1\".\n%2")
                    .arg(file, QString::fromStdString(error)));
  return ok;
}

} // namespace skm
