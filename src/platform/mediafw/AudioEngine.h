#pragma once
// The sound half of a session: its own demuxer and decoder, conversion to the device
// format (libswresample), tempo change that keeps the pitch (libavfilter's atempo) and
// one SDL2 device. Without a device (no sound server, headless machine) everything but
// the output works, so the movie plays silently on the system clock.
//
// Threads: Open, Seek, Fill, Play, Pause and Close run on the session's engine thread.
// SDL's audio thread pulls samples through the device callback. SetRate, SetVolume,
// Volume, Channels, HasDevice, Drained and AtEnd may be called from any thread.
// Ownership: the engine owns the SDL device; Close (also run by the destructor) closes it
// and waits for SDL's thread to leave the callback.

#include "platform/mediafw/MediaFoundationPrivate.h"

#include <array>
#include <deque>
#include <functional>
#include <mutex>

namespace skm::mf::detail {

class TAudioEngine {
 public:
  // Receives, from SDL's audio thread, the time of the sound heard at a system time.
  using TClockSink = std::function<void(int64_t position, int64_t systemHns)>;

  TAudioEngine(std::shared_ptr<const TMovieInfo> info, const std::atomic<bool>* abort);
  ~TAudioEngine();
  TAudioEngine(const TAudioEngine&) = delete;
  TAudioEngine& operator=(const TAudioEngine&) = delete;

  // Opens the decoder and, when SDL's audio is up, a device. Fails only when the stream
  // cannot be decoded.
  HRESULT Open(std::string& message);
  // Where the sound heard goes (the clock); set before Play.
  void SetClockSink(TClockSink sink);
  // Drops buffered sound and continues decoding at pos.
  void Seek(int64_t pos);
  // Decodes until about a third of a second is buffered, or the end.
  void Fill(const std::function<bool()>& interrupted);
  // Starts the device output (the clock is at pos).
  void Play(int64_t pos);
  // Stops the device output, keeping what is buffered.
  void Pause();
  // Closes the device; idempotent.
  void Close();
  // SDL keeps state per thread (its last error, set when no device opens) and frees it by
  // itself only on threads it made: the engine thread calls this as it ends.
  static void ReleaseThreadState();

  // Playback rate: tempo-corrected between 0.5 and 2, muted outside.
  void SetRate(double rate);
  // Number of channels the device plays (also without a device).
  uint32_t Channels() const { return channels_; }
  // Per-channel level 0..1.
  void SetVolume(uint32_t channel, float level);
  float Volume(uint32_t channel) const;
  // True when a device is open.
  bool HasDevice() const { return device_.load() != 0; }
  // True once the decoder reached the end and the device played everything.
  bool Drained() const;
  // True once decoding reached the end.
  bool AtEnd() const { return eof_.load(); }
  // Time just after the last sample decoded.
  int64_t EndTime() const;

 private:
  static void Callback(void* self, uint8_t* stream, int len);
  void Pull(float* out, int frames);
  // Decodes one packet's worth; false at the end or on error.
  bool DecodeSome();
  void Push(const float* samples, int frames, int64_t pts);
  bool RebuildTempo(double rate);
  void ResetTempo();

  const std::shared_ptr<const TMovieInfo> info_;
  const std::atomic<bool>* abort_;
  uint32_t channels_ = 2;
  int sampleRate_ = 48000;
  std::atomic<uint32_t> device_{0};  // SDL_AudioDeviceID, 0 when none

  // Engine thread only.
  FormatPtr fmt_;
  CodecPtr dec_;
  PacketPtr pkt_;
  FramePtr frame_;
  SwrPtr swr_;
  AVStream* stream_ = nullptr;
  int64_t trimBefore_ = 0;  // samples before this time are dropped (after a seek)
  int64_t nextPts_ = 0;     // time of the next sample pushed
  struct TTempo;
  std::unique_ptr<TTempo> tempo_;
  double tempoRate_ = 1.0;
  std::vector<float> scratch_;

  // Guarded by mutex_ (shared with SDL's audio thread).
  mutable std::mutex mutex_;
  struct TChunk {
    std::vector<float> samples;  // interleaved
    size_t read = 0;             // samples already played
    int64_t pts = 0;             // time of the first sample (presentation time)
    double rate = 1.0;           // presentation time per played second
  };
  std::deque<TChunk> chunks_;
  size_t bufferedFrames_ = 0;
  int64_t decodedEnd_ = 0;
  TClockSink sink_;
  std::atomic<bool> eof_{false};
  std::atomic<double> rate_{1.0};
  std::array<std::atomic<float>, 8> volume_{};
};

} // namespace skm::mf::detail
