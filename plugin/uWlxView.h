#pragma once
// The live view: one window in the host's lister per opened live ticket, with its own poll thread.
//
// TViewWnd owns everything of one view: a copy of the ticket and of the settings, the window, the
// poll thread and what the thread delivers, and the scene that draws it. On opening it asks the engine
// for live audio where the ticket calls for it (LIVE with LiveMulti=1 for "multi", LIVE with the
// ticket's frequency and modulation for "audio" with a centre of 1 Hz or more), then starts the poll
// thread: SPECTRUM with 2048 bins every 60 ms for a spectrum view, ENVELOPE every 60 ms for an audio
// view (continuing after its own lane's count), ENVELOPE every 120 ms for a multi view. Each result,
// or the error text, is stored under the view's lock; then the thread posts the window a repaint.
//
// Every request of a view, LIVE included, waits at most kViewReplyTimeoutMs for each read of its reply,
// so neither opening (on the host's thread) nor closing holds the host for long when the engine hangs.
// A LIVE that got no reply in time shows as refused ("live audio: no reply from engine"), but the
// engine may still start the audio once it gets to it: such a view stops live audio on close as one
// whose LIVE succeeded does.
//
// Closing (CloseLiveView, or the system destroying the window with its parent) wakes the thread from
// its sleep at once, waits for its current request and sends LIVESTOP when this view started audio
// or may have. So a close returns within about two seconds even when the engine hangs, and a view
// never outlives its window.
//
// Threads: the host's window thread creates, paints and destroys; the poll thread only requests,
// stores under the lock and posts. The scene (waterfall, marks) belongs to the window thread.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "pThread.h"
#include "pViewWindow.h"
#include "uIpcClient.h"
#include "uLiveDraw.h"
#include "uTalvProto.h"

// Every read of a view's replies waits at most this long.
constexpr uint32_t kViewReplyTimeoutMs = 1000;
constexpr uint32_t kSpectrumPollMs = 60;
constexpr uint32_t kAudioPollMs = 60;
constexpr uint32_t kMultiPollMs = 120;
constexpr int32_t kSpectrumPollBins = 2048;
constexpr int32_t kAudioEnvMax = 512;
constexpr int32_t kMultiEnvMax = 1024;
constexpr int32_t kLevelRingSize = 4096;

struct TLiveViewOptions {
  // The engine client of the view, its reads bounded to kViewReplyTimeoutMs.
  TEngineClientSetup Client;
  // Tests: told of each poll's sleep before it starts.
  std::function<void(uint32_t ms)> OnSleep;
};
// The product's options: the plug-in's engine client.
TLiveViewOptions DefaultLiveViewOptions();

class TViewWnd : public plat::IViewWindowOwner {
 public:
  TViewWnd(plat::TWindowHandle parent, const TViewTicket& ticket, const TTalvConfig& settings,
           const TLiveViewOptions& options);
  ~TViewWnd() override;
  TViewWnd(const TViewWnd&) = delete;
  TViewWnd& operator=(const TViewWnd&) = delete;

  plat::TWindowHandle Window() const { return FWindow.Handle(); }
  TLiveKind Kind() const { return FScene.Kind(); }
  // LIVE succeeded or went unanswered: closing sends LIVESTOP.
  bool StopsAudioOnClose() const { return FStopAudioOnClose; }

  // One pass of the poll loop without the sleep: request, store, post. Returns the sleep it asks for.
  uint32_t PollOnce();

  // What the poll thread has stored, read under the lock (tests and the paint).
  struct TState {
    bool HaveData = false;
    std::string StatusText;
    int32_t RingPos = 0, RingCount = 0;
    int64_t EnvelopeSeq = 0;
    int32_t LevelRate = 0;
    bool Playing = false;
    size_t Lanes = 0;
    int64_t FrameSeq = 0;
  };
  TState State() const;
  // The snapshot one paint of the given kind draws from.
  TLiveSnapshot Snapshot() const;

  void PaintView(plat::TViewPaintArgs& args) override;
  void ViewWindowDestroyed() override;

 private:
  void StartLiveAudio();
  void PollLoop();
  void StopPolling();
  // A successful poll: clears the status text, except that a refused live audio stays shown until
  // there is something to draw. Called under the lock.
  void PollSucceeded(bool somethingToDraw);

  TViewTicket FTicket;
  TTalvConfig FSettings;
  TLiveViewOptions FOptions;
  TEngineClient FClient;  // bounded reads
  plat::TViewWindow FWindow;
  TLiveScene FScene;  // window thread only
  bool FStopAudioOnClose = false;

  mutable std::mutex FLock;  // guards everything below (the poll thread's results)
  TTalvFrame FFrame;
  bool FHaveData = false;
  std::string FStatusText;
  std::string FRefusalText;  // "live audio: ..." while it must stay shown
  std::vector<TTalvLevel> FRing;
  int32_t FRingPos = 0, FRingCount = 0;
  int64_t FEnvelopeSeq = 0;
  int32_t FLevelRate = 0;
  bool FPlaying = false;
  TTalvLaneArray FLanes;

  std::mutex FStopLock;
  std::condition_variable FStopWake;
  bool FStop = false;
  plat::TThread FPoller;
};

// Opens a live view window for the ticket as a child of parent; 0 when the window cannot be made.
plat::TWindowHandle OpenLiveView(plat::TWindowHandle parent, const TViewTicket& ticket,
                                 const TTalvConfig& settings);
plat::TWindowHandle OpenLiveViewWith(plat::TWindowHandle parent, const TViewTicket& ticket,
                                     const TTalvConfig& settings, const TLiveViewOptions& options);
// Closes a live view window opened here; any other window is left alone.
void CloseLiveView(plat::TWindowHandle window);
