#include "media/FrameExport.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QTextStream>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "media/MfPackPlayer.h"
#include "platform/MessageService.h"
#include "platform/core/IniFile.h"
#include "platform/openkind/OpenKind.h"

namespace skm {
namespace {

constexpr auto kWaitLimit = std::chrono::seconds(10);

// While a command runs, the player's messages go to stderr instead of a dialog.
class TStderrMessages final : public TMessageService {
public:
  TStderrMessages() : previous_(&MessageService()) { SetMessageService(this); }
  ~TStderrMessages() override { SetMessageService(previous_ == this ? nullptr : previous_); }
  void ShowMessage(const QString& text) override { Err(text); }
  bool Confirm(const QString& text) override {
    Err(text);
    return false;
  }
  static void Err(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
  }

private:
  TMessageService* previous_;
};

// Polls until pred holds; false when the limit passes first.
template <class Pred>
bool WaitUntil(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + kWaitLimit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The player at rest: paused with no command in flight.
bool AtRest(TMfPackPlayer& p) {
  return p.GetState() == TPlayerState::Paused && p.PendingKind() == 0 &&
         p.RequestedCommand() == TCommand::CmdNone;
}

// Opens movie and waits until its first frame is shown paused; nullptr after a message.
std::shared_ptr<TMfPackPlayer> OpenAtRest(const QString& movie) {
  const TOpenDecision kind = DecideOpen(movie);
  if (kind.kind != kOpenMovie) {
    TStderrMessages::Err(QStringLiteral("Cannot open the movie: ") +
                         (kind.kind == kOpenStill ? QStringLiteral("\"") + movie +
                                                        QStringLiteral("\" is a still picture, not a movie")
                                                  : kind.reason) +
                         QStringLiteral("."));
    return nullptr;
  }
  std::shared_ptr<TMfPackPlayer> player = TMfPackPlayer::Create();
  if (!player) return nullptr;
  // A failed open has told why through the message service.
  player->SetFileName(movie);
  if (player->FileName().isEmpty()) return nullptr;
  if (!WaitUntil([&] { return player->HasVideo() && AtRest(*player); })) {
    TStderrMessages::Err(QStringLiteral("The movie has no picture that can be shown: ") + movie);
    player->ShutDown();
    return nullptr;
  }
  return player;
}

// Frames in the movie: the duration in frame periods, rounded.
qint64 FrameCount(TMfPackPlayer& p) {
  if (p.Fps() <= 0.0) return static_cast<qint64>(p.Duration() / p.Step());
  return std::llround(static_cast<double>(p.Duration()) * p.Fps() / 1e7);
}

} // namespace

int GrabMovieFrame(const QString& movie, qint64 frame, QImage& image) {
  TStderrMessages messages;
  std::shared_ptr<TMfPackPlayer> player = OpenAtRest(movie);
  if (!player) return 1;
  const qint64 count = FrameCount(*player);
  if (frame < 0 || frame >= count) {
    TStderrMessages::Err(QStringLiteral("Frame %1 is outside the movie (frames 0 to %2).")
                             .arg(frame)
                             .arg(count - 1));
    player->ShutDown();
    return 1;
  }
  if (frame > 0) {
    player->SetCurrentTime(static_cast<TMediaTime>(frame) * player->Step());
    if (!WaitUntil([&] { return AtRest(*player); })) {
      TStderrMessages::Err(QStringLiteral("The movie did not come to rest at frame %1.").arg(frame));
      player->ShutDown();
      return 1;
    }
  }
  const bool taken = WaitUntil([&] { return player->TakeSnapShot(image) == 0 && !image.isNull(); });
  player->ShutDown();
  if (!taken) {
    TStderrMessages::Err(QStringLiteral("No picture could be taken at frame %1.").arg(frame));
    return 1;
  }
  return 0;
}

int RunExportFrame(const QString& movie, qint64 frame, const QString& out) {
  TStderrMessages messages;
  if (out.isEmpty()) {
    TStderrMessages::Err(QStringLiteral("No output file given."));
    return 1;
  }
  QByteArray format = QFileInfo(out).suffix().toLower().toLatin1();
  if (format.isEmpty()) format = "png";
  if (!QImageWriter::supportedImageFormats().contains(format)) {
    TStderrMessages::Err(QStringLiteral("Unsupported image format for the output: ") + out);
    return 1;
  }
  QImage image;
  if (GrabMovieFrame(movie, frame, image) != 0) return 1;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.convertToFormat(QImage::Format_RGB32).save(&buffer, format.constData())) {
    TStderrMessages::Err(QStringLiteral("The picture could not be encoded."));
    return 1;
  }
  std::string error;
  if (!WriteFileAtomically(out.toStdString(), std::string_view(bytes.constData(), bytes.size()), &error)) {
    TStderrMessages::Err(QStringLiteral("Cannot write ") + out + QStringLiteral(": ") +
                         QString::fromStdString(error));
    return 1;
  }
  return 0;
}

int RunFrameInfo(const QString& movie) {
  TStderrMessages messages;
  std::shared_ptr<TMfPackPlayer> player = OpenAtRest(movie);
  if (!player) return 1;
  QTextStream o(stdout);
  o << "width: " << player->Width() << "\n"
    << "height: " << player->Height() << "\n"
    << "frame rate: " << QString::number(player->Fps(), 'f', 6) << "\n"
    << "step: " << player->Step() << "\n"
    << "duration: " << player->Duration() << "\n"
    << "frames: " << FrameCount(*player) << "\n";
  o.flush();
  player->ShutDown();
  return 0;
}

} // namespace skm
