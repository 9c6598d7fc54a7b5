#pragma once
// The media framework the playback session runs on: sessions, sources, topologies,
// renderers, the presentation clock, rate control and the media information reader,
// with the result codes, event types and 100 ns time units of the platform framework
// the session was designed against.
//
// Ownership: every object is shared-owned through std::shared_ptr. A session keeps the
// callback of an outstanding event request alive until the event is delivered or the
// session is shut down; nothing else in the framework holds references to its callers.
//
// Threads: every method may be called from any thread unless stated otherwise. A
// session delivers the callbacks of its event requests on its own event thread, one at a
// time and in order; a callback may call any session method, including BeginGetEvent
// for the next event, Close, Shutdown and the release of the last reference.
//
// No FFmpeg or SDL type appears here: the implementation lives in the .cpp files and in
// MediaFoundationPrivate.h.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skm::mf {

// ---------------------------------------------------------------------------------------
// Result codes: 32-bit, 0 or positive is success, the sign bit set is failure.

using HRESULT = int32_t;

constexpr HRESULT MakeResult(uint32_t bits) { return static_cast<HRESULT>(bits); }
// True for 0 and positive results.
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
// True for results with the sign bit set.
constexpr bool Failed(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeResult(0x80004003u);
inline constexpr HRESULT E_ABORT = MakeResult(0x80004004u);
inline constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
// The file named by a path does not exist (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).
inline constexpr HRESULT E_FILE_NOT_FOUND = MakeResult(0x80070002u);
// The framework has not been started.
inline constexpr HRESULT MF_E_PLATFORM_NOT_INITIALIZED = MakeResult(0xC00D36B0u);
inline constexpr HRESULT MF_E_INVALIDREQUEST = MakeResult(0xC00D36B2u);
inline constexpr HRESULT MF_E_INVALIDSTREAMNUMBER = MakeResult(0xC00D36B3u);
inline constexpr HRESULT MF_E_INVALIDMEDIATYPE = MakeResult(0xC00D36B4u);
inline constexpr HRESULT MF_E_NOT_INITIALIZED = MakeResult(0xC00D36B6u);
inline constexpr HRESULT MF_E_UNSUPPORTED_SERVICE = MakeResult(0xC00D36BAu);
inline constexpr HRESULT MF_E_INVALIDTYPE = MakeResult(0xC00D36BDu);
// The file's content cannot be parsed.
inline constexpr HRESULT MF_E_INVALID_FILE_FORMAT = MakeResult(0xC00D36BEu);
inline constexpr HRESULT MF_E_INVALIDINDEX = MakeResult(0xC00D36BFu);
// The file is of a kind the framework does not read (also: no audio and no video stream).
inline constexpr HRESULT MF_E_UNSUPPORTED_BYTESTREAM_TYPE = MakeResult(0xC00D36C4u);
inline constexpr HRESULT MF_E_UNSUPPORTED_TIME_FORMAT = MakeResult(0xC00D36C5u);
inline constexpr HRESULT MF_E_UNSUPPORTED_RATE = MakeResult(0xC00D36D0u);
inline constexpr HRESULT MF_E_THINNING_UNSUPPORTED = MakeResult(0xC00D36D1u);
inline constexpr HRESULT MF_E_REVERSE_UNSUPPORTED = MakeResult(0xC00D36D2u);
inline constexpr HRESULT MF_E_NOT_AVAILABLE = MakeResult(0xC00D36D6u);
inline constexpr HRESULT MF_E_NO_CLOCK = MakeResult(0xC00D36D7u);
inline constexpr HRESULT MF_E_MULTIPLE_BEGIN = MakeResult(0xC00D36D9u);
inline constexpr HRESULT MF_E_UNSUPPORTED_STATE_TRANSITION = MakeResult(0xC00D36DDu);
inline constexpr HRESULT MF_E_BAD_STARTUP_VERSION = MakeResult(0xC00D36E3u);
inline constexpr HRESULT MF_E_ATTRIBUTENOTFOUND = MakeResult(0xC00D36E6u);
inline constexpr HRESULT MF_E_NO_EVENTS_AVAILABLE = MakeResult(0xC00D3E80u);
inline constexpr HRESULT MF_E_SHUTDOWN = MakeResult(0xC00D3E85u);
inline constexpr HRESULT MF_E_NO_DURATION = MakeResult(0xC00D3E86u);
// No decoder for a selected stream.
inline constexpr HRESULT MF_E_TOPO_CODEC_NOT_FOUND = MakeResult(0xC00D5212u);

// The only framework version Startup accepts.
inline constexpr uint32_t MF_VERSION = 0x20070;

// ---------------------------------------------------------------------------------------
// Events.

// Numeric media event types (the platform framework's MediaEventType values).
enum MediaEventType : uint32_t {
  MEUnknown = 0,
  MEError = 1,
  MESessionTopologySet = 101,
  MESessionTopologiesCleared = 102,
  MESessionStarted = 103,
  MESessionPaused = 104,
  MESessionStopped = 105,
  MESessionClosed = 106,
  MESessionEnded = 107,
  MESessionRateChanged = 108,
  MESessionCapabilitiesChanged = 110,
  MESessionTopologyStatus = 111,
  MENewPresentation = 113,
  MEEndOfPresentation = 211,
};

// Values of the topology status attribute of MESessionTopologyStatus.
enum TopologyStatus : uint32_t {
  MF_TOPOSTATUS_INVALID = 0,
  MF_TOPOSTATUS_READY = 100,
  MF_TOPOSTATUS_STARTED_SOURCE = 200,
  MF_TOPOSTATUS_ENDED = 400,
};

// Session capability bits (GetSessionCapabilities, MESessionCapabilitiesChanged).
enum SessionCapabilities : uint32_t {
  MFSESSIONCAP_START = 0x01,
  MFSESSIONCAP_SEEK = 0x02,
  MFSESSIONCAP_PAUSE = 0x04,
  MFSESSIONCAP_RATE_FORWARD = 0x10,
  MFSESSIONCAP_RATE_REVERSE = 0x20,
};

// Attributes an event may carry.
enum class EventAttribute : uint32_t {
  TopologyStatus,  // MF_EVENT_TOPOLOGY_STATUS, on MESessionTopologyStatus
  SessionCaps,     // MF_EVENT_SESSIONCAPS, on MESessionCapabilitiesChanged
};

// One session event; immutable once delivered.
struct MediaEvent {
  MediaEventType type = MEUnknown;  // the event type
  HRESULT status = S_OK;            // the outcome of the operation the event reports
  std::optional<uint32_t> topologyStatus;  // MF_EVENT_TOPOLOGY_STATUS when present
  std::optional<uint32_t> sessionCaps;     // MF_EVENT_SESSIONCAPS when present
  std::string message;  // a readable cause when status is a failure; may be empty

  // The event type (IMFMediaEvent::GetType).
  HRESULT GetType(MediaEventType& out) const { out = type; return S_OK; }
  // The event's status (IMFMediaEvent::GetStatus).
  HRESULT GetStatus(HRESULT& out) const { out = status; return S_OK; }
  // An attribute's value; MF_E_ATTRIBUTENOTFOUND when the event has none.
  HRESULT GetUINT32(EventAttribute key, uint32_t& out) const;
};

// The completed request handed to a callback; passed back to EndGetEvent.
struct AsyncResult {
  HRESULT status = S_OK;                     // failure when the request was cancelled
  std::shared_ptr<const MediaEvent> event;  // the event, empty when cancelled
};

// A receiver of event requests (IMFAsyncCallback).
class IAsyncCallback {
 public:
  virtual ~IAsyncCallback() = default;
  // Called on the session's event thread once per BeginGetEvent.
  virtual HRESULT Invoke(const AsyncResult& result) = 0;
};

// ---------------------------------------------------------------------------------------
// Values.

// A start position (PROPVARIANT): VT_EMPTY continues from the current position, VT_I8
// starts at hVal (100 ns).
struct PropVariant {
  enum VarType : uint16_t { VT_EMPTY = 0, VT_I8 = 20 };
  VarType vt = VT_EMPTY;  // the kind of value held
  int64_t hVal = 0;       // the position when vt is VT_I8

  // An empty value.
  static PropVariant Empty() { return {}; }
  // A position in 100 ns units.
  static PropVariant Position(int64_t hns) { return {VT_I8, hns}; }
  // Back to an empty value.
  void Clear() { vt = VT_EMPTY; hVal = 0; }
};

// The major type of a stream.
enum class MajorType : uint32_t { Unknown = 0, Audio, Video, Other };

// Direction argument of the rate support queries.
enum RateDirection : uint32_t { MFRATE_FORWARD = 0, MFRATE_REVERSE = 1 };

// A picture as the video renderer shows it: BGRA bytes in memory order B, G, R, A,
// alpha 255 (opaque, so premultiplied and straight agree), rows top to bottom.
// Immutable: it is shared between threads without copying.
struct VideoFrame {
  int32_t width = 0;               // pixels per row (display size: square pixels)
  int32_t height = 0;              // rows
  int32_t stride = 0;              // bytes from one row to the next (>= width x 4)
  int64_t timestamp = 0;           // presentation time of the frame, 100 ns
  const uint8_t* pixels = nullptr; // the first row; valid while storage is held
  std::shared_ptr<const void> storage;  // owns the bytes pixels points into
};

// ---------------------------------------------------------------------------------------
// Sources.

// One stream of a presentation (IMFStreamDescriptor with its media type handler).
class IStreamDescriptor {
 public:
  virtual ~IStreamDescriptor() = default;
  // The stream's identifier, unique within its source.
  virtual HRESULT GetStreamIdentifier(uint32_t& id) const = 0;
  // Audio, video or other (IMFMediaTypeHandler::GetMajorType).
  virtual HRESULT GetMajorType(MajorType& type) const = 0;
};

// The streams of a source and the presentation's duration (IMFPresentationDescriptor).
class IPresentationDescriptor {
 public:
  virtual ~IPresentationDescriptor() = default;
  // Number of streams.
  virtual HRESULT GetStreamDescriptorCount(uint32_t& count) const = 0;
  // Stream i with its selected flag; MF_E_INVALIDINDEX beyond the count.
  virtual HRESULT GetStreamDescriptorByIndex(uint32_t index, bool& selected,
                                             std::shared_ptr<IStreamDescriptor>& sd) const = 0;
  // MF_PD_DURATION: the duration in 100 ns; MF_E_ATTRIBUTENOTFOUND when unknown.
  virtual HRESULT GetDuration(uint64_t& hns) const = 0;
};

// A movie opened by path (IMFMediaSource).
class IMediaSource {
 public:
  virtual ~IMediaSource() = default;
  // A fresh description of the source's streams.
  virtual HRESULT CreatePresentationDescriptor(std::shared_ptr<IPresentationDescriptor>& pd) = 0;
  // Releases the file and decoders; every later call fails with MF_E_SHUTDOWN.
  virtual HRESULT Shutdown() = 0;
};

// Object types CreateObjectFromURL reports.
enum ObjectType : uint32_t {
  MF_OBJECT_MEDIASOURCE = 0,
  MF_OBJECT_BYTESTREAM = 1,
  MF_OBJECT_INVALID = 2,
};

// Resolution flags of CreateObjectFromURL.
inline constexpr uint32_t MF_RESOLUTION_MEDIASOURCE = 0x1;

// Makes sources from paths (IMFSourceResolver).
class ISourceResolver {
 public:
  virtual ~ISourceResolver() = default;
  // Opens path as a media source. Fails with E_FILE_NOT_FOUND, E_ACCESSDENIED,
  // MF_E_UNSUPPORTED_BYTESTREAM_TYPE (not a movie, or neither audio nor video),
  // MF_E_INVALID_FILE_FORMAT (damaged) or MF_E_TOPO_CODEC_NOT_FOUND (no decoder);
  // objectType is MF_OBJECT_INVALID unless a source results.
  virtual HRESULT CreateObjectFromURL(const std::string& path, uint32_t flags,
                                      ObjectType& objectType,
                                      std::shared_ptr<IMediaSource>& source) = 0;
  // A readable cause of the last failure of this resolver; empty after a success.
  virtual std::string GetLastErrorText() const = 0;
};

// ---------------------------------------------------------------------------------------
// Media information.

// Attributes of a media type.
enum class MediaTypeAttribute : uint32_t {
  FrameSize,  // MF_MT_FRAME_SIZE: width in the high 32 bits, height in the low
  FrameRate,  // MF_MT_FRAME_RATE: numerator in the high 32 bits, denominator in the low
};

// A stream's media type (IMFMediaType), as far as the callers read it.
class IMediaType {
 public:
  virtual ~IMediaType() = default;
  // A packed attribute; MF_E_ATTRIBUTENOTFOUND when absent.
  virtual HRESULT GetUINT64(MediaTypeAttribute key, uint64_t& value) const = 0;
};

// Stream index meaning "the first video stream".
inline constexpr uint32_t MF_SOURCE_READER_FIRST_VIDEO_STREAM = 0xFFFFFFFC;

// Reads media types of a source (IMFSourceReader).
class ISourceReader {
 public:
  virtual ~ISourceReader() = default;
  // The media type of a stream (MF_SOURCE_READER_FIRST_VIDEO_STREAM for the first video
  // stream): frame size is the display size (square pixels, rotation applied), frame rate
  // the rate the frames' time stamps follow (the stream's base rate or the rate of the
  // typical frame duration) when (almost) every frame lasts one period of it; for a truly
  // variable stream the average rate, else the base rate, else 25/1.
  // MF_E_INVALIDSTREAMNUMBER when there is no such stream.
  virtual HRESULT GetCurrentMediaType(uint32_t streamIndex, std::shared_ptr<IMediaType>& type) = 0;
};

// ---------------------------------------------------------------------------------------
// Topology: plain data the caller builds and the session reads.

class IActivate;

// Node types.
enum TopologyNodeType : uint32_t {
  MF_TOPOLOGY_OUTPUT_NODE = 0,
  MF_TOPOLOGY_SOURCESTREAM_NODE = 1,
};

// 32-bit attributes of an output node.
enum class NodeAttribute : uint32_t {
  StreamId,              // MF_TOPONODE_STREAMID
  NoShutdownOnRemove,    // MF_TOPONODE_NOSHUTDOWN_ON_REMOVE
};

// A node of a partial topology (IMFTopologyNode). Not thread-safe: build it on one thread,
// then hand it to SetTopology, after which it is only read.
class TopologyNode {
 public:
  explicit TopologyNode(TopologyNodeType type) : type_(type) {}
  // The node's type.
  TopologyNodeType GetNodeType() const { return type_; }
  // The source a source-stream node reads from.
  void SetSource(std::shared_ptr<IMediaSource> s) { source_ = std::move(s); }
  // The presentation (the source's set of streams) the node's stream belongs to.
  void SetPresentationDescriptor(std::shared_ptr<IPresentationDescriptor> pd) { pd_ = std::move(pd); }
  // The stream of the source a source-stream node delivers.
  void SetStreamDescriptor(std::shared_ptr<IStreamDescriptor> sd) { sd_ = std::move(sd); }
  // The renderer activation object of an output node (SetObject).
  void SetObject(std::shared_ptr<IActivate> a) { object_ = std::move(a); }
  // A 32-bit attribute.
  HRESULT SetUINT32(NodeAttribute key, uint32_t value);
  // Connects this node's output to a downstream node's input; only index 0 exists.
  HRESULT ConnectOutput(uint32_t outputIndex, const std::shared_ptr<TopologyNode>& downstream,
                        uint32_t inputIndex);

  // Read by the session.
  const std::shared_ptr<IMediaSource>& Source() const { return source_; }
  const std::shared_ptr<IPresentationDescriptor>& PresentationDescriptor() const { return pd_; }
  const std::shared_ptr<IStreamDescriptor>& StreamDescriptor() const { return sd_; }
  const std::shared_ptr<IActivate>& Object() const { return object_; }
  // The node connected to output 0, if any (held weakly: the topology owns its nodes).
  std::shared_ptr<TopologyNode> Downstream() const { return downstream_.lock(); }
  uint32_t StreamId() const { return streamId_; }

 private:
  TopologyNodeType type_;
  std::shared_ptr<IMediaSource> source_;
  std::shared_ptr<IPresentationDescriptor> pd_;
  std::shared_ptr<IStreamDescriptor> sd_;
  std::shared_ptr<IActivate> object_;
  std::weak_ptr<TopologyNode> downstream_;
  uint32_t streamId_ = 0;
  uint32_t noShutdownOnRemove_ = 0;
};

// A partial topology (IMFTopology): the nodes the session resolves by itself.
class Topology {
 public:
  // Adds a node; E_INVALIDARG for an empty pointer.
  HRESULT AddNode(std::shared_ptr<TopologyNode> node);
  // Number of nodes.
  uint32_t GetNodeCount() const { return static_cast<uint32_t>(nodes_.size()); }
  // All nodes in the order added.
  const std::vector<std::shared_ptr<TopologyNode>>& Nodes() const { return nodes_; }

 private:
  std::vector<std::shared_ptr<TopologyNode>> nodes_;
};

// What a renderer activation object makes.
enum class RendererKind : uint32_t { Audio, Video };

// A renderer activation object (IMFActivate): the session makes the renderer from it.
class IActivate {
 public:
  virtual ~IActivate() = default;
  // Audio or video renderer.
  virtual RendererKind Kind() const = 0;
};

// ---------------------------------------------------------------------------------------
// Services of a session.

// The presentation clock (IMFPresentationClock with IMFClock).
class IPresentationClock {
 public:
  virtual ~IPresentationClock() = default;
  // The presentation time in 100 ns: the time of the picture and sound being presented.
  virtual HRESULT GetTime(int64_t& hnsClockTime) = 0;
  // The clock time and, taken at the same instant, the system time (steady, 100 ns,
  // never 0). reserved must be 0.
  virtual HRESULT GetCorrelatedTime(uint32_t reserved, int64_t& clockTime,
                                    int64_t& hnsSystemTime) = 0;
};

// Rate changes (IMFRateControl).
class IRateControl {
 public:
  virtual ~IRateControl() = default;
  // Sets the playback rate; with thin, only frames that are shown are decoded (rate 0:
  // single frames on request). Completes at once; MF_E_UNSUPPORTED_RATE or
  // MF_E_REVERSE_UNSUPPORTED for rates the session cannot play. A session reports
  // MESessionRateChanged after a change.
  virtual HRESULT SetRate(bool thin, float rate) = 0;
  // The rate in effect and whether it is thinned.
  virtual HRESULT GetRate(bool& thin, float& rate) = 0;
};

// Which rates the session can play (IMFRateSupport).
class IRateSupport {
 public:
  virtual ~IRateSupport() = default;
  // The slowest rate in a direction (0 when single frames can be shown).
  virtual HRESULT GetSlowestRate(RateDirection dir, bool thin, float& rate) = 0;
  // The fastest rate in a direction.
  virtual HRESULT GetFastestRate(RateDirection dir, bool thin, float& rate) = 0;
  // S_OK when rate can be played; otherwise a failure, with the nearest playable rate
  // in *nearest when nearest is given.
  virtual HRESULT IsRateSupported(bool thin, float rate, float* nearest) = 0;
};

// The video renderer's picture (IMFVideoDisplayControl). Exists only while the session
// renders a video stream.
class IVideoDisplayControl {
 public:
  virtual ~IVideoDisplayControl() = default;
  // The picture whose presentation interval holds the clock time, as shared immutable
  // bytes (no copy). MF_E_NOT_AVAILABLE (nothing decoded yet) leaves frame unchanged.
  virtual HRESULT GetCurrentImage(std::shared_ptr<const VideoFrame>& frame) = 0;
  // The display size of the video (square pixels, rotation applied).
  virtual HRESULT GetNativeVideoSize(int32_t& width, int32_t& height) = 0;
};

// Per-channel volume of the audio renderer (IMFAudioStreamVolume). Levels are 0..1.
class IAudioStreamVolume {
 public:
  virtual ~IAudioStreamVolume() = default;
  // Number of channels the renderer plays.
  virtual HRESULT GetChannelCount(uint32_t& count) = 0;
  // Sets a channel's level; E_INVALIDARG for a bad index or a level outside 0..1.
  virtual HRESULT SetChannelVolume(uint32_t index, float level) = 0;
  // A channel's level; E_INVALIDARG for a bad index.
  virtual HRESULT GetChannelVolume(uint32_t index, float& level) = 0;
  // Sets count levels; count must equal the channel count.
  virtual HRESULT SetAllVolumes(uint32_t count, const float* levels) = 0;
  // Reads count levels; count must equal the channel count.
  virtual HRESULT GetAllVolumes(uint32_t count, float* levels) = 0;
};

// ---------------------------------------------------------------------------------------
// The session.

// SetTopology flag: replace the current presentation at once.
inline constexpr uint32_t MFSESSION_SETTOPOLOGY_IMMEDIATE = 0x1;

// A media session (IMFMediaSession). Start, Pause, Stop and Close are asynchronous: each
// returns at once and completes with exactly one event (MESessionStarted, Paused,
// Stopped, Closed); a command given while another is in flight is carried out after it,
// in order. SetTopology reports MESessionTopologySet, MESessionCapabilitiesChanged and
// MESessionTopologyStatus (MF_TOPOSTATUS_READY) once the renderers exist. The end of
// the presentation while playing reports MEEndOfPresentation, then MESessionEnded, and
// leaves the session stopped at the end.
class IMediaSession {
 public:
  virtual ~IMediaSession() = default;

  // Replaces the presentation by the topology's source and renderers (flags:
  // MFSESSION_SETTOPOLOGY_IMMEDIATE). Capabilities are known when it returns.
  virtual HRESULT SetTopology(uint32_t flags, const std::shared_ptr<Topology>& topology) = 0;
  // Drops every topology the session holds.
  virtual HRESULT ClearTopologies() = 0;
  // Starts (or resumes) playing from the current position (VT_EMPTY) or from a
  // position (VT_I8, 100 ns; clamped to the presentation).
  virtual HRESULT Start(const PropVariant& startPosition) = 0;
  // Pauses, keeping the current picture.
  virtual HRESULT Pause() = 0;
  // Stops where it is, keeping the current picture and position; the next Start without
  // a position starts at 0.
  virtual HRESULT Stop() = 0;
  // Stops everything and reports MESessionClosed; later commands fail with MF_E_SHUTDOWN
  // except Shutdown.
  virtual HRESULT Close() = 0;
  // Ends every thread of the session, cancels an outstanding event request (its callback
  // is released without being called) and releases everything. Completes within 2 s.
  virtual HRESULT Shutdown() = 0;

  // Requests the next event; callback->Invoke runs once on the event thread when there is
  // one. MF_E_MULTIPLE_BEGIN while a request is outstanding; MF_E_SHUTDOWN after Shutdown.
  virtual HRESULT BeginGetEvent(std::shared_ptr<IAsyncCallback> callback) = 0;
  // The event of a completed request.
  virtual HRESULT EndGetEvent(const AsyncResult& result,
                              std::shared_ptr<const MediaEvent>& event) = 0;

  // The capability bits of the current presentation.
  virtual HRESULT GetSessionCapabilities(uint32_t& caps) = 0;
  // The presentation clock (MF_E_NO_CLOCK without a topology).
  virtual HRESULT GetClock(std::shared_ptr<IPresentationClock>& clock) = 0;
  // The session's rate control (changes the playback rate).
  virtual HRESULT GetRateControl(std::shared_ptr<IRateControl>& rate) = 0;
  // The session's rate support (which rates it can play).
  virtual HRESULT GetRateSupport(std::shared_ptr<IRateSupport>& support) = 0;
  // The video renderer's picture: only while a video stream is rendered, else
  // MF_E_UNSUPPORTED_SERVICE.
  virtual HRESULT GetVideoDisplayControl(std::shared_ptr<IVideoDisplayControl>& display) = 0;
  // The audio renderer's volume: only while an audio stream is rendered, else
  // MF_E_UNSUPPORTED_SERVICE.
  virtual HRESULT GetAudioStreamVolume(std::shared_ptr<IAudioStreamVolume>& volume) = 0;
};

// The budget of frames a session keeps when none is given: 1 GiB on machines with 8 GiB
// of memory or more (the system reports at least 7 GiB on those), 256 MiB below.
uint32_t DefaultFrameCacheMiB();

// Tuning of a session; the defaults suit the program.
struct SessionOptions {
  // Budget of the frames kept around the playhead, decoded and converted (at least 8 MiB
  // are used). From 86 MiB on, the frames behind a paused playhead are prepared too.
  uint32_t frameCacheMiB = DefaultFrameCacheMiB();
  uint32_t decoderThreads = 2;   // libavcodec frame threads (0: as many as cores)
};

// ---------------------------------------------------------------------------------------
// The framework: the factory of all the above.

class IMediaFramework {
 public:
  virtual ~IMediaFramework() = default;

  // Takes the framework into use (the first call brings up the audio device, if any):
  // MF_E_BAD_STARTUP_VERSION unless version is MF_VERSION. Balanced by Shutdown; calls nest.
  virtual HRESULT Startup(uint32_t version, uint32_t flags) = 0;
  // Ends one Startup; the last one releases the audio device.
  // MF_E_PLATFORM_NOT_INITIALIZED when nothing was started.
  virtual HRESULT Shutdown() = 0;

  // A new, empty media session (FFmpeg decoding, SDL2 sound); options may be null for
  // the defaults.
  virtual HRESULT CreateMediaSession(const SessionOptions* options,
                                     std::shared_ptr<IMediaSession>& session) = 0;
  // The resolver that opens movie files as media sources.
  virtual HRESULT CreateSourceResolver(std::shared_ptr<ISourceResolver>& resolver) = 0;
  // An empty partial topology.
  virtual HRESULT CreateTopology(std::shared_ptr<Topology>& topology) = 0;
  // A node of the given type; E_INVALIDARG for any other type.
  virtual HRESULT CreateTopologyNode(TopologyNodeType type,
                                     std::shared_ptr<TopologyNode>& node) = 0;
  // The activation object of the audio renderer (SDL2 sound).
  virtual HRESULT CreateAudioRendererActivate(std::shared_ptr<IActivate>& activate) = 0;
  // The activation object of the video renderer, which keeps the current picture for
  // GetCurrentImage.
  virtual HRESULT CreateVideoRendererActivate(std::shared_ptr<IActivate>& activate) = 0;
  // A reader of the source's media types (frame size and rate).
  virtual HRESULT CreateSourceReaderFromMediaSource(const std::shared_ptr<IMediaSource>& source,
                                                    std::shared_ptr<ISourceReader>& reader) = 0;
};

// Whether path holds pictures FFmpeg can decode, without a session or a framework start:
// reads what the demuxer's probe needs. S_OK with hasVideo true for a movie, false for a
// file FFmpeg reads without pictures (sound only, or only cover art); otherwise a failure
// (the codes of ISourceResolver::CreateObjectFromURL) and a message saying in words what
// is wrong with the file (missing, a folder, unreadable, not a movie, damaged, a codec
// without a decoder).
HRESULT ProbeForVideo(const std::string& path, bool& hasVideo, std::string& message);

// The framework in use: the FFmpeg/SDL2 one unless replaced by OverrideMediaFramework.
std::shared_ptr<IMediaFramework> DefaultMediaFramework();
// Replaces the framework DefaultMediaFramework returns (a fake in tests); an empty
// pointer restores the FFmpeg/SDL2 one. Returns the one replaced.
std::shared_ptr<IMediaFramework> OverrideMediaFramework(std::shared_ptr<IMediaFramework> fw);
// The FFmpeg/SDL2 framework itself, whatever is overridden.
std::shared_ptr<IMediaFramework> FFmpegMediaFramework();

} // namespace skm::mf
