#include "media/MfPackPlayer.h"

#include <QImage>
#include <chrono>
#include <cmath>
#include <condition_variable>

#include "platform/MessageService.h"

namespace skm {

using namespace mf;

// An auto-reset event: set by the event thread when the session has closed, waited for
// by EndSession.
struct TMfPackPlayer::TCloseEvent {
  std::mutex lock;
  std::condition_variable cv;
  bool signalled = false;

  void Set() {
    {
      std::lock_guard g(lock);
      signalled = true;
    }
    cv.notify_all();
  }
  // True when signalled within ms (and resets it); false on a time-out.
  bool Wait(int ms) {
    std::unique_lock g(lock);
    const bool ok = cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return signalled; });
    signalled = false;
    return ok;
  }
};

namespace {
constexpr uint32_t kWaitTimeout = 258;
constexpr int kCloseWaitMs = 2000;
} // namespace

QString ResultCodeText(HRESULT hr) { return QString::number(static_cast<int32_t>(hr)); }

QString OpenFailureText(const QString& fileName, HRESULT hr, const std::string& why) {
  QString words = QString::fromStdString(why);
  if (words.isEmpty()) {
    const QString quoted = QStringLiteral("\"") + fileName + QStringLiteral("\"");
    switch (static_cast<uint32_t>(hr)) {
      case static_cast<uint32_t>(E_FILE_NOT_FOUND): words = quoted + " does not exist"; break;
      case static_cast<uint32_t>(E_ACCESSDENIED): words = quoted + " cannot be read: permission denied"; break;
      case static_cast<uint32_t>(MF_E_UNSUPPORTED_BYTESTREAM_TYPE):
        words = quoted + " is not a movie this program can open";
        break;
      case static_cast<uint32_t>(MF_E_INVALID_FILE_FORMAT): words = quoted + " is damaged"; break;
      case static_cast<uint32_t>(MF_E_TOPO_CODEC_NOT_FOUND):
        words = quoted + " is in a codec this program has no decoder for";
        break;
      case static_cast<uint32_t>(E_OUTOFMEMORY): words = "There is not enough memory to open " + quoted; break;
      default: words = quoted + " could not be opened"; break;
    }
  }
  return QStringLiteral("Cannot open the movie: ") + words + QStringLiteral(". (hr: ") +
         ResultCodeText(hr) + QStringLiteral(")");
}

// --- construction ---------------------------------------------------------------------

std::shared_ptr<TMfPackPlayer> TMfPackPlayer::Create(std::shared_ptr<IMediaFramework> fw) {
  if (!fw) fw = DefaultMediaFramework();
  auto player = std::make_shared<TMfPackPlayer>(TPrivateTag{}, std::move(fw));
  // A framework that cannot start leaves no player; the message has been shown.
  if (!player->m_bStarted) return nullptr;
  return player;
}

TMfPackPlayer::TMfPackPlayer(TPrivateTag, std::shared_ptr<IMediaFramework> fw)
    : m_pFramework(std::move(fw)) {
  const HRESULT hr = m_pFramework ? m_pFramework->Startup(MF_VERSION, 0) : E_POINTER;
  if (Failed(hr)) {
    ShowMessage(QStringLiteral("Your computer does not support this Media Foundation API version") +
                QString::number(MF_VERSION) + QStringLiteral("."));
    return;
  }
  m_bStarted = true;
  ResetMembers();
  if (Failed(MakeCloseEvent()))
    ShowMessage(QStringLiteral("An error occured while initializing MESessionClosed"));
}

TMfPackPlayer::~TMfPackPlayer() {
  if (!m_bStarted) return;
  // No event request can be outstanding once the last reference is gone, so no
  // MESessionClosed can arrive: close without waiting for it.
  {
    std::lock_guard g(m_closeLock);
    FhCloseEvent.reset();
  }
  EndSession(false);
  m_pFramework->Shutdown();
}

HRESULT TMfPackPlayer::MakeCloseEvent() {
  std::lock_guard g(m_closeLock);
  if (FhCloseEvent) return MakeResult(0xC00D4650u);
  FhCloseEvent = std::make_shared<TCloseEvent>();
  return S_OK;
}

void TMfPackPlayer::SignalClose() {
  std::shared_ptr<TCloseEvent> ev;
  {
    std::lock_guard g(m_closeLock);
    ev = FhCloseEvent;
  }
  if (ev) ev->Set();
}

void TMfPackPlayer::ResetMembers() {
  TAutoLock lock(m_critsec);
  m_Request.Command = TCommand::CmdNone;
  m_Request.fRate = 1.0f;
  m_Request.bThin = false;
  m_Request.hnsStart = 0;
  m_State.Command = TCommand::CmdNone;
  m_State.State = TPlayerState::Closed;
  m_State.fRate = 1.0f;
  m_State.bThin = false;
  m_State.hnsStart = 0;
  m_hnsDuration = 0;
  m_bPending = 0;
  FFileName.clear();
  m_pSession.reset();
  m_pSource.reset();
  m_pClock.reset();
  m_pRate.reset();
  m_pRateSupport.reset();
  m_Caps = 0;
  m_fPrevRate = 1.0f;
  m_pWidth = 0;
  m_pHeight = 0;
  m_pfps = 0;
}

std::shared_ptr<IMediaSession> TMfPackPlayer::Session() {
  TAutoLock lock(m_critsec);
  return m_pSession;
}

std::shared_ptr<IVideoDisplayControl> TMfPackPlayer::VideoDisplay() const {
  std::lock_guard g(m_displayLock);
  return m_pVideoDisplay;
}

void TMfPackPlayer::SetVideoDisplay(std::shared_ptr<IVideoDisplayControl> display) {
  std::lock_guard g(m_displayLock);
  m_pVideoDisplay = std::move(display);
}

bool TMfPackPlayer::HasVideo() const { return VideoDisplay() != nullptr; }

// --- opening --------------------------------------------------------------------------

HRESULT TMfPackPlayer::NewSession() {
  HRESULT hr = EndSession();
  if (Failed(hr)) return hr;
  // Every session gets a close wait, also after a ShutDown closed the previous event:
  // a session should have finished closing before it is shut down.
  MakeCloseEvent();
  std::shared_ptr<IMediaSession> session;
  mf::SessionOptions options;
  if (FFrameCacheMiB > 0) options.frameCacheMiB = FFrameCacheMiB;
  hr = m_pFramework->CreateMediaSession(&options, session);
  if (Failed(hr)) return hr;
  {
    TAutoLock lock(m_critsec);
    m_pSession = session;
    m_State.Command = TCommand::CmdReady;
    m_State.State = TPlayerState::Ready;
  }
  return session->BeginGetEvent(shared_from_this());
}

HRESULT TMfPackPlayer::MakeSource(const QString& sURL, std::shared_ptr<IMediaSource>& source,
                                  std::string* why) {
  ObjectType objectType = MF_OBJECT_INVALID;
  source.reset();
  std::shared_ptr<ISourceResolver> resolver;
  HRESULT hr = m_pFramework->CreateSourceResolver(resolver);
  if (Failed(hr)) return hr;
  hr = resolver->CreateObjectFromURL(sURL.toStdString(), MF_RESOLUTION_MEDIASOURCE, objectType, source);
  if (Failed(hr)) {
    if (why) *why = resolver->GetLastErrorText();
    return hr;
  }
  if (!source || objectType != MF_OBJECT_MEDIASOURCE) {
    source.reset();
    return E_NOINTERFACE;
  }
  return hr;
}

bool TMfPackPlayer::StepFromRate(uint32_t num, uint32_t den, double& fps, TMediaTime& step) {
  if (num == 0 || den == 0) return false;
  const double s = std::trunc(static_cast<double>(den) * 10'000'000.0 / static_cast<double>(num));
  if (!(s >= 1.0)) return false;
  fps = static_cast<double>(num) / static_cast<double>(den);
  step = static_cast<TMediaTime>(s);
  return true;
}

HRESULT TMfPackPlayer::ReadMediaInfo(const QString& sURL) {
  std::shared_ptr<IMediaSource> source;
  HRESULT hr = MakeSource(sURL, source);
  if (Failed(hr)) return hr;
  std::shared_ptr<ISourceReader> reader;
  hr = m_pFramework->CreateSourceReaderFromMediaSource(source, reader);
  if (Succeeded(hr)) {
    std::shared_ptr<IMediaType> type;
    hr = reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, type);
    if (Succeeded(hr) && type) {
      uint64_t v = 0;
      if (Succeeded(type->GetUINT64(MediaTypeAttribute::FrameSize, v))) {
        m_pWidth = static_cast<uint32_t>(v >> 32);
        m_pHeight = static_cast<uint32_t>(v & 0xFFFFFFFFu);
      }
      hr = type->GetUINT64(MediaTypeAttribute::FrameRate, v);
      // A rate that gives no positive step keeps the one before: the rest of the system
      // divides by it.
      if (Succeeded(hr)) StepFromRate(static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v), m_pfps, m_pstp);
    }
  }
  reader.reset();
  source->Shutdown();
  return hr;
}

HRESULT TMfPackPlayer::OpenURL(const QString& sURL) {
  FFileName.clear();
  std::string why;
  HRESULT hr = NewSession();
  std::shared_ptr<IPresentationDescriptor> pd;
  std::shared_ptr<Topology> topology;
  std::shared_ptr<IMediaSession> session = Session();
  if (Succeeded(hr)) {
    ReadMediaInfo(sURL);
    std::shared_ptr<IMediaSource> source;
    hr = MakeSource(sURL, source, &why);
    TAutoLock lock(m_critsec);
    m_pSource = source;
  }
  if (Succeeded(hr)) hr = m_pSource->CreatePresentationDescriptor(pd);
  if (Succeeded(hr)) hr = BuildTopology(m_pSource, pd, topology);
  if (Succeeded(hr)) hr = session->SetTopology(MFSESSION_SETTOPOLOGY_IMMEDIATE, topology);
  if (Succeeded(hr)) {
    uint64_t d = 0;
    if (Succeeded(pd->GetDuration(d))) m_hnsDuration = d;
    std::shared_ptr<IPresentationClock> clock;
    hr = session->GetClock(clock);
    if (Succeeded(hr) && !clock) hr = E_NOINTERFACE;
    TAutoLock lock(m_critsec);
    m_pClock = clock;
  }
  if (Succeeded(hr)) {
    std::shared_ptr<IRateControl> rate;
    std::shared_ptr<IRateSupport> support;
    hr = session->GetRateControl(rate);
    if (Succeeded(hr)) hr = session->GetRateSupport(support);
    if (Succeeded(hr) && (!rate || !support)) hr = E_NOINTERFACE;
    TAutoLock lock(m_critsec);
    m_pRate = rate;
    m_pRateSupport = support;
  }
  if (Succeeded(hr)) hr = m_pRateSupport->IsRateSupported(true, 0.0f, nullptr);
  if (Succeeded(hr)) {
    uint32_t caps = 0;
    hr = session->GetSessionCapabilities(caps);
    TAutoLock lock(m_critsec);
    if (Succeeded(hr)) {
      m_Caps = caps;
      // The session may have reported the topology ready, started and paused on its own
      // thread already: only a state nothing has moved on from becomes OpenPending, or
      // the pending start would never see its completion match.
      if (m_State.Command == TCommand::CmdReady) {
        m_State.Command = TCommand::CmdOpenPending;
        m_State.State = TPlayerState::OpenPending;
      }
    } else {
      m_Caps = 1;
    }
  }
  if (Failed(hr)) {
    std::shared_ptr<IMediaSource> source;
    {
      TAutoLock lock(m_critsec);
      m_State.Command = TCommand::CmdClosed;
      source = m_pSource;
    }
    // Shut the half-made session down rather than only dropping it: it would keep its
    // event request, and with it this player and the open file, alive for good.
    if (source) source->Shutdown();
    if (session) session->Shutdown();
    ResetMembers();
    ShowMessage(OpenFailureText(sURL, hr, why));
    return hr;
  }
  FFileName = sURL;
  return hr;
}

HRESULT TMfPackPlayer::BuildTopology(const std::shared_ptr<IMediaSource>& source,
                                     const std::shared_ptr<IPresentationDescriptor>& pd,
                                     std::shared_ptr<Topology>& topology) {
  HRESULT hr = m_pFramework->CreateTopology(topology);
  if (Failed(hr)) return hr;
  uint32_t n = 0;
  hr = pd->GetStreamDescriptorCount(n);
  if (Failed(hr)) return hr;
  for (uint32_t i = 0; i < n; ++i) {
    hr = AddStreamBranch(topology, source, pd, i);
    if (Failed(hr)) return hr;
  }
  return hr;
}

HRESULT TMfPackPlayer::AddStreamBranch(const std::shared_ptr<Topology>& topology,
                                       const std::shared_ptr<IMediaSource>& source,
                                       const std::shared_ptr<IPresentationDescriptor>& pd,
                                       uint32_t index) {
  bool selected = false;
  std::shared_ptr<IStreamDescriptor> sd;
  HRESULT hr = pd->GetStreamDescriptorByIndex(index, selected, sd);
  if (Failed(hr)) return hr;
  if (!selected) return S_OK;
  if (!sd) return E_POINTER;

  // The renderer the stream goes to: sound or picture.
  MajorType major = MajorType::Unknown;
  hr = sd->GetMajorType(major);
  if (Failed(hr)) return hr;
  std::shared_ptr<IActivate> activate;
  if (major == MajorType::Audio)
    hr = m_pFramework->CreateAudioRendererActivate(activate);
  else if (major == MajorType::Video)
    hr = m_pFramework->CreateVideoRendererActivate(activate);
  else
    hr = E_FAIL;
  if (Failed(hr)) return hr;

  // The node that delivers the stream from the source...
  std::shared_ptr<TopologyNode> sourceNode;
  hr = m_pFramework->CreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, sourceNode);
  if (Failed(hr)) return hr;
  sourceNode->SetSource(source);
  sourceNode->SetPresentationDescriptor(pd);
  sourceNode->SetStreamDescriptor(sd);
  hr = topology->AddNode(sourceNode);
  if (Failed(hr)) return hr;

  // ...connected to the node that renders it.
  std::shared_ptr<TopologyNode> outputNode;
  hr = m_pFramework->CreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, outputNode);
  if (Failed(hr)) return hr;
  outputNode->SetObject(activate);
  hr = outputNode->SetUINT32(NodeAttribute::StreamId, 0);
  if (Succeeded(hr)) hr = outputNode->SetUINT32(NodeAttribute::NoShutdownOnRemove, 0);
  if (Succeeded(hr)) hr = topology->AddNode(outputNode);
  if (Failed(hr)) return hr;

  return sourceNode->ConnectOutput(0, outputNode, 0);
}

// --- event loop -----------------------------------------------------------------------

HRESULT TMfPackPlayer::Invoke(const AsyncResult& result) {
  std::shared_ptr<IMediaSession> session = Session();
  if (!session) return S_OK;
  std::shared_ptr<const MediaEvent> event;
  HRESULT hr = session->EndGetEvent(result, event);
  if (Failed(hr)) return hr;
  if (!event) return E_POINTER;
  MediaEventType type = MEUnknown;
  hr = event->GetType(type);
  if (Failed(hr)) return hr;
  if (type == MESessionClosed) {
    SignalClose();
  } else {
    hr = session->BeginGetEvent(shared_from_this());
    if (Failed(hr)) return hr;
  }
  bool closing;
  {
    TAutoLock lock(m_critsec);
    closing = m_State.Command == TCommand::CmdClosing;
  }
  if (!closing) DispatchEvent(*event);
  return hr;
}

HRESULT TMfPackPlayer::DispatchEvent(const MediaEvent& event) {
  MediaEventType type = MEUnknown;
  HRESULT status = S_OK;
  HRESULT hr = event.GetType(type);
  if (Succeeded(hr)) hr = event.GetStatus(status);
  if (Failed(hr)) return hr;
  if (Failed(status)) return status;
  switch (type) {
    case MESessionTopologySet:
      m_State.State = TPlayerState::Ready;
      break;
    case MESessionStarted:
      PendingDone(TCommand::CmdStart);
      break;
    case MESessionPaused: {
      TAutoLock lock(m_critsec);
      m_State.Command = TCommand::CmdPause;
      PendingDone(TCommand::CmdPause);
      break;
    }
    case MESessionStopped:
      PendingDone(TCommand::CmdStop);
      break;
    case MESessionCapabilitiesChanged: {
      uint32_t caps = 0;
      if (Succeeded(event.GetUINT32(EventAttribute::SessionCaps, caps))) m_Caps = caps;
      break;
    }
    case MESessionTopologyStatus: {
      uint32_t status32 = 0;
      if (Succeeded(event.GetUINT32(EventAttribute::TopologyStatus, status32)) &&
          status32 == MF_TOPOSTATUS_READY)
        hr = ShowFirstFrame();
      break;
    }
    case MEEndOfPresentation:
      hr = DoStop();
      break;
    default:
      break;
  }
  return hr;
}

HRESULT TMfPackPlayer::ShowFirstFrame() {
  SetVideoDisplay(nullptr);
  std::shared_ptr<IMediaSession> session = Session();
  if (!session) return E_UNEXPECTED;
  std::shared_ptr<IVideoDisplayControl> display;
  // A movie without a video stream gets no display control; HasVideo stays false.
  if (Succeeded(session->GetVideoDisplayControl(display)) && display) SetVideoDisplay(display);
  // There is no video window, so the display control needs no placing here. The start
  // leaves a command pending, so the pause is remembered and carried out once started:
  // a new movie comes to rest paused on its first frame.
  HRESULT hr = DoStart();
  DoPause();
  return hr;
}

// --- closing --------------------------------------------------------------------------

HRESULT TMfPackPlayer::EndSession(bool wait) {
  HRESULT hr = S_OK;
  const TPlayerState st = GetState();
  if (st == TPlayerState::Started || st == TPlayerState::Paused) hr = SendPlayerCommand(TCommand::CmdStop);
  SetVideoDisplay(nullptr);

  std::shared_ptr<IMediaSession> session;
  std::shared_ptr<IMediaSource> source;
  {
    TAutoLock lock(m_critsec);
    session = m_pSession;
    source = m_pSource;
    if (session) {
      m_State.Command = TCommand::CmdClosing;
      m_State.State = TPlayerState::Closing;
    }
  }
  if (session) {
    hr = session->Close();
    if (Failed(hr)) return hr;
    std::shared_ptr<TCloseEvent> ev;
    {
      std::lock_guard g(m_closeLock);
      ev = FhCloseEvent;
    }
    // The event thread sets the event before it takes any lock, so this wait cannot be
    // blocked by the player's own lock.
    if (ev && wait && !ev->Wait(kCloseWaitMs)) m_dWaitResult = kWaitTimeout;
  }
  if (source && GetState() != TPlayerState::Closed) hr = source->Shutdown();
  if (session) {
    hr = session->ClearTopologies();
    if (Failed(hr)) return hr;
    hr = session->Shutdown();
  }
  ResetMembers();
  {
    TAutoLock lock(m_critsec);
    m_State.Command = TCommand::CmdClosed;
    m_State.State = TPlayerState::Closed;
  }
  return hr;
}

HRESULT TMfPackPlayer::ShutDown() {
  const HRESULT hr = EndSession();
  std::lock_guard g(m_closeLock);
  if (!FhCloseEvent) return hr;
  FhCloseEvent.reset();
  return S_OK;
}

// --- plain properties -----------------------------------------------------------------

QString TMfPackPlayer::FileName() const { return FFileName; }

void TMfPackPlayer::SetFileName(const QString& value) {
  ShutDown();
  if (value.isEmpty()) {
    FFileName.clear();
    return;
  }
  if (Succeeded(OpenURL(value))) FFileName = value;
}

TMediaTime TMfPackPlayer::Duration() const { return m_hnsDuration; }

bool TMfPackPlayer::CanSeek() const {
  TAutoLock lock(m_critsec);
  return (m_Caps.load() & MFSESSIONCAP_SEEK) != 0 && m_hnsDuration > 0 && m_pClock != nullptr;
}

float TMfPackPlayer::Rate() {
  TAutoLock lock(m_critsec);
  return m_Request.fRate;
}

uint8_t TMfPackPlayer::PendingKind() {
  TAutoLock lock(m_critsec);
  return m_bPending;
}

TCommand TMfPackPlayer::CurrentCommand() {
  TAutoLock lock(m_critsec);
  return m_State.Command;
}

TCommand TMfPackPlayer::RequestedCommand() {
  TAutoLock lock(m_critsec);
  return m_Request.Command;
}

TMediaTime TMfPackPlayer::CurrentTime() {
  TMediaTime pos = 0;
  if (Failed(PositionRead(pos))) return kNoPosition;
  return pos;
}

void TMfPackPlayer::SetCurrentTime(TMediaTime position) { SeekRequest(position); }

HRESULT TMfPackPlayer::SendPlayerCommand(TCommand cmd) {
  switch (cmd) {
    case TCommand::CmdNone: return S_OK;
    case TCommand::CmdStop: return DoStop();
    case TCommand::CmdStart: return DoStart();
    case TCommand::CmdStartPlayBack: return DoStartPlayBack();
    case TCommand::CmdPause: return DoPause();
    case TCommand::CmdSeek: return S_OK;
    default: return E_NOTIMPL;
  }
}

// --- frame capture, geometry, volume --------------------------------------------------

HRESULT TMfPackPlayer::TakeSnapShot(QImage& bit) {
  const std::shared_ptr<IVideoDisplayControl> display = VideoDisplay();
  if (!display) return 1;
  std::shared_ptr<const VideoFrame> frame;
  if (Failed(display->GetCurrentImage(frame)) || !frame) return 1;
  const VideoFrame& f = *frame;
  if (f.width <= 0 || f.height <= 0 || !f.pixels || f.stride / 4 < f.width) return 1;
  // The renderer's frames are immutable and opaque BGRA, which is exactly
  // Format_ARGB32_Premultiplied in memory: the image borrows the pixels and keeps the
  // frame alive for as long as any copy of the image exists. No pixel is copied.
  auto* keep = new std::shared_ptr<const VideoFrame>(frame);
  bit = QImage(f.pixels, f.width, f.height, f.stride, QImage::Format_ARGB32_Premultiplied,
               [](void* p) { delete static_cast<std::shared_ptr<const VideoFrame>*>(p); }, keep);
  return 0;
}

float TMfPackPlayer::GetVolume() {
  std::shared_ptr<IMediaSession> session = Session();
  if (!session) return m_fVolume;
  std::shared_ptr<IAudioStreamVolume> volume;
  if (Succeeded(session->GetAudioStreamVolume(volume)) && volume) {
    uint32_t n = 0;
    float v = 0.0f;
    if (Succeeded(volume->GetChannelCount(n)) && Succeeded(volume->GetChannelVolume(0, v))) m_fVolume = v;
  }
  return m_fVolume;
}

void TMfPackPlayer::SetVolume(float value) {
  float v = value;
  if (v > 1.0f) v = 1.0f;
  if (!(v >= 0.0f)) v = 0.0f;  // negative or NaN
  std::shared_ptr<IMediaSession> session = Session();
  if (!session) return;
  std::shared_ptr<IAudioStreamVolume> volume;
  if (Failed(session->GetAudioStreamVolume(volume)) || !volume) return;
  uint32_t n = 0;
  if (Failed(volume->GetChannelCount(n))) return;
  HRESULT hr = E_FAIL;
  for (uint32_t i = 0; i < n; ++i) hr = volume->SetChannelVolume(i, v);
  float back = 0.0f;
  if (Succeeded(hr) && Succeeded(volume->GetChannelVolume(0, back))) m_fVolume = back;
}

HRESULT TMfPackPlayer::GetInitialDuration(TMediaTime& dur) {
  std::shared_ptr<IMediaSource> source;
  {
    TAutoLock lock(m_critsec);
    source = m_pSource;
  }
  if (!source) return E_POINTER;
  dur = 0;
  std::shared_ptr<IPresentationDescriptor> pd;
  HRESULT hr = source->CreatePresentationDescriptor(pd);
  if (Succeeded(hr)) {
    uint64_t d = 0;
    hr = pd->GetDuration(d);
    if (Succeeded(hr)) {
      dur = d;
      m_hnsDuration = d;
    }
  }
  return hr;
}

// --- commands -------------------------------------------------------------------------

HRESULT TMfPackPlayer::DoStart() {
  {
    TAutoLock lock(m_critsec);
    if (!m_pSession || !m_pSource) return E_UNEXPECTED;
  }
  return DoStartPlayBack();
}

HRESULT TMfPackPlayer::DoStartPlayBack() {
  HRESULT hr = S_OK;
  {
    TAutoLock lock(m_critsec);
    // A start without a session is a caller's mistake, not a reason to crash.
    if (!m_pSession) return E_UNEXPECTED;
    if (m_bPending != 0) {
      m_Request.Command = TCommand::CmdStart;
    } else {
      hr = m_pSession->Start(PropVariant::Empty());
      m_bPending = 1;
    }
    if (Failed(hr)) return hr;
    m_State.State = TPlayerState::Started;
    m_State.Command = TCommand::CmdStart;
  }
  GetVolume();
  return hr;
}

HRESULT TMfPackPlayer::DoPause() {
  TAutoLock lock(m_critsec);
  if (!m_pSession || !m_pSource) return E_UNEXPECTED;
  if (m_bPending != 0) {
    m_Request.Command = TCommand::CmdPause;
    return E_FAIL;
  }
  const HRESULT hr = m_pSession->Pause();
  m_State.Command = TCommand::CmdPause;
  m_State.State = TPlayerState::Paused;
  m_bPending = 1;
  return hr;
}

HRESULT TMfPackPlayer::DoStop() {
  TAutoLock lock(m_critsec);
  if (!m_pSession) return E_POINTER;
  if (m_bPending != 0) {
    m_Request.Command = TCommand::CmdStop;
    return S_OK;
  }
  const HRESULT hr = m_pSession->Stop();
  m_bPlayOnAfterStop = false;
  m_State.Command = TCommand::CmdStop;
  m_State.State = TPlayerState::Stopped;
  m_bPending = 1;
  return hr;
}

// --- position -------------------------------------------------------------------------

HRESULT TMfPackPlayer::PositionRead(TMediaTime& pos) {
  TAutoLock lock(m_critsec);
  if (!m_pClock) return MF_E_NO_CLOCK;
  if (m_Request.Command == TCommand::CmdSeek) {
    pos = m_Request.hnsStart;
    return S_OK;
  }
  if (m_bPending == 2) {
    pos = m_State.hnsStart;
    return S_OK;
  }
  int64_t t = 0;
  const HRESULT hr = m_pClock->GetTime(t);
  if (Succeeded(hr)) pos = t > 0 ? static_cast<TMediaTime>(t) : 0;
  return hr;
}

HRESULT TMfPackPlayer::SeekRequest(TMediaTime pos) {
  TAutoLock lock(m_critsec);
  if (m_bPending != 0) {
    m_Request.Command = TCommand::CmdSeek;
    m_Request.hnsStart = pos;
    return S_OK;
  }
  return DoSeek(pos);
}

HRESULT TMfPackPlayer::DoSeek(TMediaTime pos) {
  TAutoLock lock(m_critsec);  // re-entrant: the callers hold it already
  // A seek after the end of the movie (a step, a track drag) shows its frame and rests
  // there, as it does when paused: the user asked for a frame, not for playing.
  const TPlayerState st = m_State.State;
  const bool wasPaused =
      st == TPlayerState::Paused || (st == TPlayerState::Stopped && !m_bPlayOnAfterStop);
  if (!m_pSession) return MF_E_INVALIDREQUEST;
  m_bPlayOnAfterStop = false;
  // Positions beyond the signed range are past any movie's end; the session clamps.
  const int64_t p = pos > static_cast<TMediaTime>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(pos);
  PropVariant var = PropVariant::Position(p);
  HRESULT hr = m_pSession->Start(var);
  var.Clear();
  if (Failed(hr)) return hr;
  if (wasPaused) {
    hr = m_pSession->Pause();
    if (Succeeded(hr)) {
      m_State.State = TPlayerState::Paused;
      m_State.Command = TCommand::CmdPause;
      m_bPending = 1;
    }
  } else {
    m_State.State = TPlayerState::Started;
    m_State.Command = TCommand::CmdStart;
    m_State.hnsStart = pos;
    m_bPending = 2;
  }
  return hr;
}

// --- rate -----------------------------------------------------------------------------

bool TMfPackPlayer::SetMovieRate(float aRate) {
  TAutoLock lock(m_critsec);
  if (!m_pRate) return false;
  if ((aRate > 0 && CanFastForward()) || (aRate < 0 && CanFastRewind())) {
    const TPlayerState before = m_State.State;
    const HRESULT hr = RateRequest(aRate);
    // Only a playing lane stays marked as playing: a rate written while paused must not
    // make the lane report Started when nothing plays.
    if (Succeeded(hr) && before == TPlayerState::Started) m_State.State = TPlayerState::Started;
    return Succeeded(hr);
  }
  return false;
}

HRESULT TMfPackPlayer::RateRequest(float r) {
  TAutoLock lock(m_critsec);
  if (r != m_Request.fRate && m_pRateSupport) {
    if (m_bPending == 0) return DoRate(r, false);
    m_Request.fRate = r;
    m_Request.bThin = false;
    if (m_Request.Command == TCommand::CmdNone) m_Request.Command = m_State.Command;
  }
  return S_OK;
}

HRESULT TMfPackPlayer::DoRate(float r, bool thin) {
  TAutoLock lock(m_critsec);  // re-entrant: the callers hold it already
  if (m_bPending != 0 || !m_pRate) return MF_E_INVALIDREQUEST;
  const TCommand cmd = m_State.Command;
  const float cur = m_State.fRate;
  HRESULT hr = S_OK;
  const bool directionChange = (r > 0 && cur <= 0) || (r < 0 && cur >= 0);
  if (directionChange) {
    if (cmd == TCommand::CmdStart) {
      if (!m_pClock) return MF_E_NO_CLOCK;
      int64_t clockTime = 0, systemTime = 0;
      hr = m_pClock->GetCorrelatedTime(0, clockTime, systemTime);
      if (Failed(hr)) return hr;
      if (systemTime == 0) return E_UNEXPECTED;
      hr = DoStop();
      if (Failed(hr)) return hr;
      m_bPlayOnAfterStop = true;
      m_Request.Command = TCommand::CmdSeek;
      m_Request.hnsStart = clockTime > 0 ? static_cast<TMediaTime>(clockTime) : 0;
    } else if (cmd == TCommand::CmdPause) {
      return MF_E_UNSUPPORTED_STATE_TRANSITION;
    }
  } else if (r == 0 && cur != 0 && cmd != TCommand::CmdPause) {
    hr = DoPause();
    if (Failed(hr)) return hr;
    m_Request.Command = cmd;
  }
  hr = m_pRate->SetRate(thin, r);
  if (Succeeded(hr)) {
    m_State.fRate = r;
    m_Request.fRate = r;
  }
  return hr;
}

// --- completion -----------------------------------------------------------------------

void TMfPackPlayer::PendingDone(TCommand cmd) {
  TAutoLock lock(m_critsec);
  if (m_bPending == 0 || m_State.Command != cmd) return;
  m_bPending = 0;
  if (m_Request.fRate != m_State.fRate) {
    if (Failed(DoRate(m_Request.fRate, m_Request.bThin))) return;
  }
  if (m_bPending == 0) {
    switch (m_Request.Command) {
      case TCommand::CmdStop: DoStop(); break;
      case TCommand::CmdStart: DoStart(); break;
      case TCommand::CmdPause: DoPause(); break;
      case TCommand::CmdSeek: DoSeek(m_Request.hnsStart); break;
      default: break;
    }
    m_Request.Command = TCommand::CmdNone;
  }
}

} // namespace skm
