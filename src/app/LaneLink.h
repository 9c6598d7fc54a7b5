#pragma once
// Linked lanes: while linked, what the user does to either lane through its transport bar
// (key steps, step buttons, track drags, play, pause, rate changes) is done to the other
// lane as well, keeping the frame offset the lanes had when they were linked:
// lane 2's frame = lane 1's frame + offset, each clamped to the frames of its own movie.
//
// While both play, each runs on its own clock; when either is paused, the other is paused
// too and, once the pause has landed, put back at the offset, so a pause always shows
// the pair the offset names.
//
// The offset is kept in lane 2's position file, section "Link", key "Offset" (frames),
// beside the range marks; other sections and keys stay. A file with the key links the
// lanes again, at that offset, when both movies are open (LinkRestore). Unlinking removes
// the key.
//
// Threads: UI thread only. Ownership: the link refers to the two bars (and through them to
// their managers) and owns neither; the owner destroys the link before the bars.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

#include "transport/TraMediaFMX.h"

namespace skm {

// The "Offset" of a movie's position file's "Link" section, if there is a valid one.
std::optional<int64_t> LinkOffsetRead(const QString& movie);
// Writes (or, with no value, removes) the offset in the movie's position file, keeping its
// other sections and keys. False, with a message in error, when it cannot be written.
bool LinkOffsetWrite(const QString& movie, std::optional<int64_t> offset, QString* error = nullptr);
// "+12 f", "-3 f", "0 f".
QString LinkOffsetText(int64_t offset);

class TLaneLink : public QObject {
  Q_OBJECT
public:
  TLaneLink(TTraMediaLayout* bar1, TTraMediaLayout* bar2, QObject* parent = nullptr);
  ~TLaneLink() override;

  // Both lanes hold a movie.
  bool CanLink() const;
  bool isLinked() const { return FLinked; }
  // Frames lane 2 is ahead of lane 1 (meaningful while linked).
  int64_t Offset() const { return FOffset; }

  // Links at the lanes' present frames and saves the offset. False when CanLink is false.
  bool Link();
  // Links at a given offset and puts lane 2 there. False when CanLink is false.
  bool LinkAt(int64_t offset, bool save = true);
  // Links again when lane 2's position file holds an offset and both lanes hold movies.
  bool LinkRestore();
  // Ends the link and removes the saved offset.
  void Unlink();
  // Ends the link without touching the file (a lane's movie is being replaced or closed).
  void Drop();
  // Moves the offset by delta frames and lane 2 with it (only while linked).
  void Nudge(int64_t delta);

  // The frame a lane's time is at, and a lane's time for a frame (clamped to its movie).
  static int64_t FrameOf(const TTraMediaLayout* bar, TMediaTime t);
  static TMediaTime TimeOf(const TTraMediaLayout* bar, int64_t frame);

  // After any change of the linked state or the offset (for the owner's button and label).
  std::function<void()> OnChange;
  // A failed save of the offset (the owner tells the user).
  std::function<void(const QString&)> OnSaveError;

private:
  void Action(int lane, TTraUserAction a, TMediaTime t);
  // The other lane's time for this lane at t.
  TMediaTime Partner(int lane, TMediaTime t) const;
  TTraMediaLayout* Bar(int lane) const { return lane == 1 ? FBar1 : FBar2; }
  TMfPackManager* Mgr(int lane) const;
  // Once lane `lead` rests paused, puts the other lane at the offset.
  void AlignAfterPause(int lead);
  void AlignTick();
  void Save();
  void Changed();

  QPointer<TTraMediaLayout> FBar1;
  QPointer<TTraMediaLayout> FBar2;
  bool FLinked = false;
  int64_t FOffset = 0;
  bool FApplying = false;   // the link is acting on a bar: its reports are its own doing
  QTimer FAlign;            // polls for the landed pause
  int FAlignLead = 0;
  int FAlignTicks = 0;
};

} // namespace skm
