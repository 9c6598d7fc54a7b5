#include "media/MfPackManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "media/MfPackPlayer.h"
#include "media/SnapCompose.h"
#include "platform/MessageService.h"

namespace skm {

TMfPackManager::TMfPackManager(QObject* parent) : QObject(parent) {
  TimerView = new QTimer(this);
  TimerView->setInterval(10);
  TimerView->setTimerType(Qt::PreciseTimer);
  connect(TimerView, &QTimer::timeout, this, &TMfPackManager::TimerViewTick);
  TimerInfo = new QTimer(this);
  TimerInfo->setInterval(200);
  connect(TimerInfo, &QTimer::timeout, this, &TMfPackManager::TimerInfoTick);
  FMfPackPlayer = TMfPackPlayer::Create();
}

TMfPackManager::~TMfPackManager() {
  *FAlive = false;
  StopTimers();
  if (FisSnapBitmaps) RingFree();
  DropPlayer();
}

void TMfPackManager::StopTimers() {
  TimerView->stop();
  TimerInfo->stop();
}

bool TMfPackManager::TimerViewActive() const { return TimerView->isActive(); }
bool TMfPackManager::TimerInfoActive() const { return TimerInfo->isActive(); }

// --- player lifetime ------------------------------------------------------------------

void TMfPackManager::DropPlayer() {
  if (!FMfPackPlayer) return;
  FMfPackPlayer->ShutDown();
  // The framework may still hold its own reference until its last callback returns.
  FMfPackPlayer.reset();
}

void TMfPackManager::RecreatePlayer() {
  if (FMfPackPlayer && !FMfPackPlayer->FileName().isEmpty()) DropPlayer();
  FMfPackPlayer = TMfPackPlayer::Create();
  if (FMfPackPlayer) FMfPackPlayer->SetFrameCacheMiB(FFrameCacheMiB);
}

void TMfPackManager::SetFrameCacheMiB(uint32_t value) {
  FFrameCacheMiB = value;
  if (FMfPackPlayer) FMfPackPlayer->SetFrameCacheMiB(value);
}

QString TMfPackManager::FileName() const {
  return FMfPackPlayer ? FMfPackPlayer->FileName() : QString();
}

void TMfPackManager::SetFileName(const QString& value) {
  // A write from inside our own wait would open a second player under the first.
  if (isOpening) return;
  StopTimers();
  RecreatePlayer();
  if (!FMfPackPlayer) return;  // the framework is missing; already reported
  FMfPackPlayer->SetFileName(value);
  if (FMfPackPlayer->FileName().isEmpty()) return;

  const std::weak_ptr<bool> alive = FAlive;
  const bool shown = WaitForVideo();
  if (alive.expired()) return;  // freed from inside the wait
  if (!shown) {
    // Nothing could be shown: leave the lane empty rather than waiting for ever.
    const bool hadFile = !FMfPackPlayer->FileName().isEmpty();
    FMfPackPlayer->SetFileName(QString());
    if (hadFile)
      ShowMessage(QStringLiteral("The movie has no picture that can be shown: ") + value);
    return;
  }

  DrawTime = kNoPosition;
  if (TimerViewProc) {
    TimerViewF = false;
    TimerView->start();
  }
  if (TimerInfoProc) {
    TimerInfoF = false;
    TimerInfo->start();
  }
}

bool TMfPackManager::WaitForVideo() {
  if (FMfPackPlayer->HasVideo()) return true;
  isOpening = true;
  const std::weak_ptr<bool> alive = FAlive;
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (alive.expired() || !FMfPackPlayer || FMfPackPlayer->HasVideo() ||
        FMfPackPlayer->GetState() == TPlayerState::Closed || clock.elapsed() >= OpenWaitMs) {
      loop.quit();
      return;
    }
    // The display control is taken before the first start, so a session that has come
    // to rest without one has no picture to give (a movie with sound only).
    if (FMfPackPlayer->GetState() == TPlayerState::Paused && FMfPackPlayer->PendingKind() == 0 &&
        FMfPackPlayer->RequestedCommand() == TCommand::CmdNone)
      loop.quit();
  });
  poll.start();
  loop.exec();
  if (alive.expired()) return false;
  isOpening = false;
  return FMfPackPlayer && FMfPackPlayer->HasVideo();
}

// --- pass-through properties ----------------------------------------------------------

TMediaTime TMfPackManager::CurrentTime() const {
  return FMfPackPlayer ? FMfPackPlayer->CurrentTime() : kNoPosition;
}
void TMfPackManager::SetCurrentTime(TMediaTime value) {
  if (FMfPackPlayer) FMfPackPlayer->SetCurrentTime(value);
}
TMediaTime TMfPackManager::Duration() const { return FMfPackPlayer ? FMfPackPlayer->Duration() : 0; }
float TMfPackManager::Rate() const { return FMfPackPlayer ? FMfPackPlayer->Rate() : 1.0f; }
void TMfPackManager::SetRate(float value) {
  if (FMfPackPlayer) FMfPackPlayer->SetRate(value);
}
bool TMfPackManager::isPlaying() const {
  return FMfPackPlayer && FMfPackPlayer->GetState() == TPlayerState::Started;
}
uint32_t TMfPackManager::MediaWidth() const { return FMfPackPlayer ? FMfPackPlayer->Width() : 0; }
uint32_t TMfPackManager::MediaHeight() const { return FMfPackPlayer ? FMfPackPlayer->Height() : 0; }
double TMfPackManager::MediaFPS() const { return FMfPackPlayer ? FMfPackPlayer->Fps() : 0.0; }
TMediaTime TMfPackManager::MediaSTEP() const { return FMfPackPlayer ? FMfPackPlayer->Step() : 0; }
bool TMfPackManager::HasVideo() const { return FMfPackPlayer && FMfPackPlayer->HasVideo(); }

float TMfPackManager::Volume() const {
  if (!FMfPackPlayer) return 0.0f;
  const float v = FMfPackPlayer->GetVolume();
  return v > 1.0f ? 1.0f : (v < 0.0f ? 0.0f : v);
}

void TMfPackManager::SetVolume(float value) {
  if (!FMfPackPlayer) return;
  FMfPackPlayer->SetVolume(value > 1.0f ? 1.0f : (value < 0.0f ? 0.0f : value));
}

// --- timers ---------------------------------------------------------------------------

void TMfPackManager::TimerViewTick() {
  if (TimerViewF || !FMfPackPlayer) return;
  TimerViewF = true;
  // The player's step is never 0, but a player without a movie reads 0 geometry.
  const TMediaTime step = std::max<TMediaTime>(FMfPackPlayer->Step(), 1);
  const TMediaTime n = FMfPackPlayer->CurrentTime() / step;
  if (!FisCheckTimer || n != DrawTime) {
    FMfPackPlayer->TakeSnapShot(SnapBitmap);
    if (SnapBitmap.width() != 0) {
      if (FisSnapBitmaps) {
        RingPush();
        if (isDoSnapBitmapsDraw && !isSnapBitmapsDrawing) {
          isDoSnapBitmapsDraw = false;
          isSnapBitmapsDrawing = true;
          SnapBitmapsCurrent = SnapBitmapsIndex;
          SnapCompose();
          isSnapBitmapsDrawing = false;
        }
      }
      if (TimerViewProc) TimerViewProc(SnapBitmap);
      DrawTime = n;
    }
  }
  TimerViewF = false;
}

void TMfPackManager::TimerInfoTick() {
  if (TimerInfoF || !FMfPackPlayer) return;
  TimerInfoF = true;
  if (TimerInfoProc)
    TimerInfoProc(FMfPackPlayer->CurrentTime(), FMfPackPlayer->GetVolume(),
                  FMfPackPlayer->GetState() == TPlayerState::Started);
  TimerInfoF = false;
}

// --- commands -------------------------------------------------------------------------

void TMfPackManager::MediaStart() {
  if (isOpening || !HasVideo()) return;
  switch (FMfPackPlayer->GetState()) {
    case TPlayerState::OpenPending:
      if (FisSnapBitmaps) RingClear();
      FMfPackPlayer->SendPlayerCommand(TCommand::CmdStartPlayBack);
      break;
    case TPlayerState::Paused:
    case TPlayerState::Stopped:
      if (FisSnapBitmaps) RingClear();
      FMfPackPlayer->SendPlayerCommand(TCommand::CmdStart);
      break;
    default:
      break;
  }
}

void TMfPackManager::MediaPause() {
  if (isOpening || !HasVideo()) return;
  if (FMfPackPlayer->GetState() != TPlayerState::Started) return;
  FMfPackPlayer->SendPlayerCommand(TCommand::CmdPause);
  if (FisSnapBitmaps) isDoSnapBitmapsDraw = true;
}

void TMfPackManager::MediaStartPause() {
  if (isOpening || !HasVideo()) return;
  switch (FMfPackPlayer->GetState()) {
    case TPlayerState::OpenPending:
    case TPlayerState::Paused:
    case TPlayerState::Stopped:
      MediaStart();
      break;
    case TPlayerState::Started:
      MediaPause();
      break;
    default:
      break;
  }
}

void TMfPackManager::MediaForward(TMediaTime aTime) {
  if (isOpening || !HasVideo()) return;
  const TMediaTime cur = CurrentTime();
  const TMediaTime dur = Duration();
  // Saturating: a huge step must not wrap round to the start.
  const TMediaTime target = (cur > dur || aTime > dur - cur) ? dur : cur + aTime;
  SetCurrentTime(target);
}

void TMfPackManager::MediaBackward(TMediaTime aTime) {
  if (isOpening || !HasVideo()) return;
  const TMediaTime cur = CurrentTime();
  SetCurrentTime(cur > aTime ? cur - aTime : 0);
}

void TMfPackManager::MediaBitmapGet() {
  if (!FMfPackPlayer) return;
  FMfPackPlayer->TakeSnapShot(SnapBitmap);
  if (SnapBitmap.width() != 0 && TimerViewProc) TimerViewProc(SnapBitmap);
}

void TMfPackManager::MediaClose() {
  StopTimers();
  if (isOpening) return;
  if (FMfPackPlayer) FMfPackPlayer->SetFileName(QString());
}

// --- frame splitter -------------------------------------------------------------------

void TMfPackManager::SetIsSnapBitmaps(bool value) {
  const bool old = FisSnapBitmaps;
  FisSnapBitmaps = value;
  if (value != old) {
    if (value)
      RingCreate();
    else
      RingFree();
  } else if (value) {
    RingResize();
  }
}

void TMfPackManager::SetSnapCounts(int32_t value) { FSnapCounts = std::clamp<int32_t>(value, 2, 40); }

void TMfPackManager::SetSnapAlpha(float value) {
  if (!(value >= 0.1f))
    FSnapAlpha = 0.1f;
  else
    FSnapAlpha = std::min(value, 4.0f);
}

void TMfPackManager::RingCreate() {
  SnapBitmaps.assign(static_cast<size_t>(FSnapCounts), QImage());
  SnapBitmapsIndex = 0;
  SnapBitmapsCurrent = 0;
}

void TMfPackManager::RingFree() {
  SnapBitmaps.clear();
  SnapBitmapsIndex = 0;
  SnapBitmapsCurrent = 0;
}

void TMfPackManager::RingResize() {
  if (static_cast<int32_t>(SnapBitmaps.size()) == FSnapCounts) return;
  RingCreate();
}

void TMfPackManager::RingClear() {
  SnapBitmapsIndex = 0;
  SnapBitmapsCurrent = 0;
  for (QImage& slot : SnapBitmaps) slot = QImage();
}

void TMfPackManager::RingPush() {
  if (SnapBitmaps.empty()) return;
  // Frames are immutable once taken: the slot shares the pixels rather than copying
  // them; the composite writes into SnapBitmap, which then detaches on its own.
  SnapBitmaps[static_cast<size_t>(SnapBitmapsIndex)] = SnapBitmap;
  SnapBitmapsIndex = RingNext(SnapBitmapsIndex);
}

int32_t TMfPackManager::RingNext(int32_t i) const {
  const int32_t n = static_cast<int32_t>(SnapBitmaps.size());
  return (i + 1 >= n) ? 0 : i + 1;
}

int32_t TMfPackManager::RingPrev(int32_t i) const {
  const int32_t n = static_cast<int32_t>(SnapBitmaps.size());
  return (i <= 0) ? n - 1 : i - 1;
}

void TMfPackManager::SnapCompose() {
  const int32_t n = static_cast<int32_t>(SnapBitmaps.size());
  if (n < 2 || SnapBitmap.isNull()) return;
  const float a = static_cast<float>(static_cast<double>(FSnapAlpha) / (n - 1));
  // A fresh target: SnapBitmap may share its pixels with the newest ring slot.
  QImage target(SnapBitmap.size(), QImage::Format_ARGB32_Premultiplied);
  ComposeRing(target, SnapBitmaps, SnapBitmapsCurrent, SnapBitmapsIndex, a);
  SnapBitmap = std::move(target);
}

void TMfPackManager::SnapBitmapsDrawIndex(int32_t aIndex) {
  if (isSnapBitmapsDrawing || SnapBitmaps.empty()) return;
  switch (aIndex) {
    case -1: {
      const int32_t p = RingPrev(SnapBitmapsCurrent);
      if (p != SnapBitmapsIndex) SnapBitmapsCurrent = p;
      break;
    }
    case 1:
      if (SnapBitmapsCurrent != SnapBitmapsIndex) SnapBitmapsCurrent = RingNext(SnapBitmapsCurrent);
      break;
    case 0:
      SnapBitmapsCurrent = SnapBitmapsIndex;
      break;
    default:
      SnapBitmapsCurrent = RingNext(SnapBitmapsIndex);
      break;
  }
  isSnapBitmapsDrawing = true;
  const std::weak_ptr<bool> alive = FAlive;
  QMetaObject::invokeMethod(
      this,
      [this, alive] {
        if (alive.expired()) return;
        SnapCompose();
        if (SnapBitmap.width() != 0 && TimerViewProc) TimerViewProc(SnapBitmap);
        isSnapBitmapsDrawing = false;
      },
      Qt::QueuedConnection);
}

} // namespace skm
