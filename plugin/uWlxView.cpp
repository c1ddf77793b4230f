#include "uWlxView.h"

#include <algorithm>

namespace {

// The painter's text measure over the window's.
class TMetricsMeasure : public ITextMeasure {
 public:
  explicit TMetricsMeasure(plat::IViewTextMetrics* m) : FMetrics(m) {}
  int32_t TextWidth(const std::string& text) override { return FMetrics ? FMetrics->TextWidth(text) : 0; }
  int32_t TextHeight() override { return FMetrics ? FMetrics->TextHeight() : 0; }

 private:
  plat::IViewTextMetrics* FMetrics;
};

TEngineClientSetup Bounded(TEngineClientSetup setup) {
  if (setup.ReplyTimeoutMs == 0 || setup.ReplyTimeoutMs > kViewReplyTimeoutMs)
    setup.ReplyTimeoutMs = kViewReplyTimeoutMs;
  return setup;
}

// The lane an audio view draws and follows: the one of its own frequency, else the first.
const TTalvLane* OwnLane(const TTalvLaneArray& lanes, int64_t centerHz) {
  if (lanes.empty()) return nullptr;
  if (centerHz >= 1)
    for (const TTalvLane& lane : lanes)
      if (lane.Hz == centerHz) return &lane;
  return &lanes.front();
}

}  // namespace

TLiveViewOptions DefaultLiveViewOptions() {
  TLiveViewOptions o;
  o.Client = DefaultEngineClient().Setup();
  return o;
}

TViewWnd::TViewWnd(plat::TWindowHandle parent, const TViewTicket& ticket, const TTalvConfig& settings,
                   const TLiveViewOptions& options)
    : FTicket(ticket),
      FSettings(settings),
      FOptions(options),
      FClient(Bounded(options.Client)),
      FScene(ticket),
      FStatusText("connecting to the engine..."),
      FRing(static_cast<size_t>(kLevelRingSize)) {
  if (!FWindow.Create(parent, this)) return;  // nothing sent, no thread: the opener frees this
  StartLiveAudio();
  FPoller.Start([this] { PollLoop(); });
}

TViewWnd::~TViewWnd() {
  StopPolling();
  if (FStopAudioOnClose) {
    std::string ignored;
    FClient.StopLive(ignored);
  }
  FWindow.Destroy();
}

void TViewWnd::StartLiveAudio() {
  std::string error;
  bool asked = false, ok = false;
  if (Kind() == lkMulti) {
    asked = true;
    ok = FClient.StartLiveMulti(FSettings, error);
  } else if (Kind() == lkAudio && FTicket.CenterHz >= 1) {
    asked = true;
    ok = FClient.StartLive(FSettings, FTicket.CenterHz,
                           ParseModulation(FTicket.Modulation, FSettings.Modulation), error);
  }
  if (!asked) return;
  // Without a reply in time the request was still sent: the engine may start the audio after all.
  FStopAudioOnClose = ok || error == ipc::kErrNoReply;
  if (ok) return;
  std::lock_guard<std::mutex> hold(FLock);
  FRefusalText = "live audio: " + error;
  FStatusText = FRefusalText;
}

void TViewWnd::PollSucceeded(bool somethingToDraw) {
  if (!FRefusalText.empty() && !somethingToDraw) {
    FStatusText = FRefusalText;
    return;
  }
  FStatusText.clear();
  FRefusalText.clear();
}

uint32_t TViewWnd::PollOnce() {
  uint32_t sleepMs = kSpectrumPollMs;
  if (Kind() == lkMulti) {
    TTalvLaneArray lanes;
    int64_t seq = 0;
    bool live = false;
    int32_t rate = 0;
    const bool ok = FClient.Envelope(FSettings, 0, kMultiEnvMax, lanes, seq, live, rate);
    const std::string error = ok ? std::string() : EngineLastError();
    std::lock_guard<std::mutex> hold(FLock);
    if (ok) {
      FLanes = std::move(lanes);
      FPlaying = live;
      if (rate > 0) FLevelRate = rate;
      FHaveData = true;
      PollSucceeded(!FLanes.empty());
    } else {
      FStatusText = error;
    }
    sleepMs = kMultiPollMs;
  } else if (Kind() == lkAudio) {
    int64_t after;
    {
      std::lock_guard<std::mutex> hold(FLock);
      after = FEnvelopeSeq;
    }
    TTalvLaneArray lanes;
    int64_t seq = 0;
    bool live = false;
    int32_t rate = 0;
    const bool ok = FClient.Envelope(FSettings, after, kAudioEnvMax, lanes, seq, live, rate);
    const std::string error = ok ? std::string() : EngineLastError();
    std::lock_guard<std::mutex> hold(FLock);
    if (ok) {
      // Follow this view's own lane: the reply's Seq is the largest count over all lanes and would
      // skip the samples of a lane that runs behind.
      if (const TTalvLane* lane = OwnLane(lanes, FTicket.CenterHz)) {
        FEnvelopeSeq = lane->Count < after ? 0 : lane->Count;  // a lane started anew: from its newest
        for (const TTalvLevel& level : lane->Levels) {
          FRing[static_cast<size_t>(FRingPos)] = level;
          FRingPos = (FRingPos + 1) % kLevelRingSize;
          if (FRingCount < kLevelRingSize) ++FRingCount;
        }
      }
      FPlaying = live;
      if (rate > 0) FLevelRate = rate;
      FHaveData = true;
      PollSucceeded(FRingCount > 0);
    } else {
      FStatusText = error;
    }
    sleepMs = kAudioPollMs;
  } else {
    int64_t lo = 0, hi = 0;
    if (FTicket.CenterHz >= 1 && FTicket.SpanHz >= 1) {
      lo = FTicket.CenterHz - FTicket.SpanHz / 2;
      hi = FTicket.CenterHz + FTicket.SpanHz / 2;
    }
    TTalvFrame frame;
    const bool ok = FClient.Spectrum(FSettings, FTicket.CenterHz, kSpectrumPollBins, lo, hi, frame);
    const std::string error = ok ? std::string() : EngineLastError();
    std::lock_guard<std::mutex> hold(FLock);
    if (ok) {
      FFrame = std::move(frame);
      FHaveData = true;
      PollSucceeded(true);
    } else {
      FStatusText = error;
    }
  }
  FWindow.PostRepaint();
  return sleepMs;
}

void TViewWnd::PollLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(FStopLock);
      if (FStop) return;
    }
    const uint32_t ms = PollOnce();
    if (FOptions.OnSleep) FOptions.OnSleep(ms);
    std::unique_lock<std::mutex> wait(FStopLock);
    if (FStopWake.wait_for(wait, std::chrono::milliseconds(ms), [this] { return FStop; })) return;
  }
}

void TViewWnd::StopPolling() {
  {
    std::lock_guard<std::mutex> hold(FStopLock);
    FStop = true;
  }
  FStopWake.notify_all();
  FPoller.Join();
}

TViewWnd::TState TViewWnd::State() const {
  std::lock_guard<std::mutex> hold(FLock);
  TState s;
  s.HaveData = FHaveData;
  s.StatusText = FStatusText;
  s.RingPos = FRingPos;
  s.RingCount = FRingCount;
  s.EnvelopeSeq = FEnvelopeSeq;
  s.LevelRate = FLevelRate;
  s.Playing = FPlaying;
  s.Lanes = FLanes.size();
  s.FrameSeq = FFrame.Seq;
  return s;
}

TLiveSnapshot TViewWnd::Snapshot() const {
  TLiveSnapshot snap;
  std::lock_guard<std::mutex> hold(FLock);
  snap.HaveData = FHaveData;
  snap.StatusText = FStatusText;
  snap.LevelRate = FLevelRate;
  snap.Playing = FPlaying;
  switch (Kind()) {
    case lkSpectrum:
      if (FHaveData) snap.Frame = FFrame;
      break;
    case lkAudio: {
      const int32_t s = ShownLevelCount(FRingCount, FLevelRate);
      snap.Levels.resize(static_cast<size_t>(s));
      for (int32_t c = 0; c < s; ++c)
        snap.Levels[static_cast<size_t>(c)] =
            FRing[static_cast<size_t>((FRingPos + c - s + 2 * kLevelRingSize) % kLevelRingSize)];
      break;
    }
    case lkMulti:
      snap.Lanes = FLanes;
      break;
  }
  return snap;
}

void TViewWnd::PaintView(plat::TViewPaintArgs& args) {
  TLiveSnapshot snap = Snapshot();
  TPixelFrame frame;
  frame.Attach(args.Pixels, args.Width, args.Height);
  TMetricsMeasure measure(args.Metrics);
  TLiveScene::TInput in;
  in.Width = args.Width;
  in.Height = args.Height;
  in.Dpi = args.Dpi;
  in.NowMs = args.NowMs;
  in.Cursor = {args.CursorX, args.CursorY};
  TTextRuns runs;
  FScene.Paint(snap, in, measure, frame, runs);
  args.Texts.clear();
  args.Texts.reserve(runs.size());
  for (TTextRun& r : runs) args.Texts.push_back({r.X, r.Y, r.Color & 0xFFFFFFu, std::move(r.Text)});
}

void TViewWnd::ViewWindowDestroyed() {
  delete this;  // views are made by OpenLiveViewWith with new; the window was their last tie
}

plat::TWindowHandle OpenLiveViewWith(plat::TWindowHandle parent, const TViewTicket& ticket,
                                     const TTalvConfig& settings, const TLiveViewOptions& options) {
  auto* view = new TViewWnd(parent, ticket, settings, options);
  const plat::TWindowHandle window = view->Window();
  if (window == 0) delete view;
  return window;
}

plat::TWindowHandle OpenLiveView(plat::TWindowHandle parent, const TViewTicket& ticket,
                                 const TTalvConfig& settings) {
  return OpenLiveViewWith(parent, ticket, settings, DefaultLiveViewOptions());
}

void CloseLiveView(plat::TWindowHandle window) {
  if (!plat::IsLiveViewWindow(window)) return;
  delete dynamic_cast<TViewWnd*>(plat::LiveViewOwner(window));
}
