// The live view's life against a scripted fake engine: which requests each kind of ticket sends
// (LIVE and LIVESTOP around the view, SPECTRUM or ENVELOPE with their keys, the poll periods), how the
// audio view follows its own lane, keeps its level ring and shows a refused live audio, and that a
// view ends promptly on close, against a silent engine, and when the system destroys its window.
// Windows builds need a display for windows: there the lister program (tests/lister), which runs on a
// virtual display, compiles this file.
#if !defined(_WIN32) || defined(TALV_WITH_DISPLAY)
#include "uWlxView.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "FakeEngine.h"
#include "PaintTestSupport.h"
#include "TestSupport.h"
#include "pWindow.h"

using testsupport::TFakeEngine;
using testsupport::TTempDir;

namespace {

std::string Command(const TRequest& r) {
  return r.CommandLine;
}

// A fake engine that answers like the real one: LIVE and LIVESTOP "OK" (or LIVE refused), SPECTRUM
// with a small frame, ENVELOPE from a script of lanes.
class TScriptedEngine {
 public:
  TScriptedEngine() {
    FEngine.SetResponder([this](const TRequest& r) { return Answer(r); });
    EXPECT_TRUE(FEngine.Start());
  }
  TLiveViewOptions Options() {
    TLiveViewOptions o;
    o.Client.PipeName = FEngine.PipeName();
    o.Client.EngineFolder = FNoEngine.Path();  // nothing to start: the fake is the engine
    o.OnSleep = [this](uint32_t ms) {
      std::lock_guard<std::mutex> hold(FLock);
      FSleeps.push_back(ms);
    };
    return o;
  }
  std::vector<TRequest> Requests() { return FEngine.Requests(); }
  std::vector<TRequest> Of(const std::string& command) {
    std::vector<TRequest> out;
    for (const TRequest& r : FEngine.Requests())
      if (Command(r) == command) out.push_back(r);
    return out;
  }
  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> hold(FLock);
    return FSleeps;
  }
  // Waits (briefly) until n requests of the command have come.
  bool WaitFor(const std::string& command, size_t n) {
    for (int i = 0; i < 400; ++i) {
      if (Of(command).size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  TFakeEngine& Engine() { return FEngine; }

  std::atomic<bool> RefuseLive{false};
  // ENVELOPE: the lanes (Hz, count) and how many levels each reply carries per lane.
  std::mutex FLock;
  std::vector<std::pair<int64_t, int64_t>> Lanes;
  int LevelsPerReply = 0;
  int64_t LevelsLeft = 1 << 30;

 private:
  std::string Answer(const TRequest& r) {
    const std::string c = Command(r);
    TTextLines reply{"OK"};
    if (c == "LIVE" && RefuseLive) return FrameReply({"ERR no receiver found"});
    if (c == "SPECTRUM") {
      reply.push_back("Center=145000000");
      reply.push_back("Rate=48000");
      reply.push_back("Noise=-100");
      reply.push_back("Seq=" + std::to_string(++FSeq));
      reply.push_back("Source=live");
      reply.push_back("Count=16");
      reply.push_back("Bin=-100 -100 -100 -100 -100 -100 -100 -60 -100 -100 -100 -100 -100 -100 -100 -100");
    } else if (c == "ENVELOPE") {
      std::lock_guard<std::mutex> hold(FLock);
      reply.push_back("Seq=99999");  // the largest count over every lane, as the engine says
      reply.push_back("Live=1");
      reply.push_back("Rate=50");
      for (auto& lane : Lanes) {
        const int64_t n = std::min<int64_t>(LevelsPerReply, LevelsLeft);
        LevelsLeft -= n;
        lane.second += n;
        reply.push_back(LaneLine(lane.first, lane.second));
        std::vector<TTalvLevel> levels(static_cast<size_t>(n), TTalvLevel{0.5f, 0.25f});
        AppendEnvLines(reply, levels);
      }
    }
    return FrameReply(reply);
  }

  TTempDir FNoEngine;
  TFakeEngine FEngine;
  std::vector<uint32_t> FSleeps;
  int64_t FSeq = 0;
};

// The parent the host would give: a window of its own.
struct TParent {
  plat::TWindowHandle Handle = plat::CreateHiddenWindow("TalvoranTestLister");
  ~TParent() {
    if (Handle) plat::DestroyHiddenWindow(Handle);
  }
};

TViewWnd* ViewOf(plat::TWindowHandle w) {
  return dynamic_cast<TViewWnd*>(plat::LiveViewOwner(w));
}

TEST(LiveViewWindow, SpectrumTicketPollsItsSpanEverySixtyMsWithoutLiveAudio) {
  TScriptedEngine engine;
  TParent parent;
  TTalvConfig cfg;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("spectrum", 145000000, 20000, "t", "AM"), cfg, engine.Options());
  ASSERT_NE(w, 0u);
  EXPECT_TRUE(plat::IsLiveViewWindow(w));
  EXPECT_TRUE(plat::LiveViewClassRegistered());
  ASSERT_TRUE(engine.WaitFor("SPECTRUM", 3));
  CloseLiveView(w);
  EXPECT_FALSE(plat::IsLiveViewWindow(w));
  EXPECT_EQ(plat::OpenViewWindows(), 0);
  EXPECT_FALSE(plat::LiveViewClassRegistered());  // unregistered with the last view
  for (const TRequest& r : engine.Requests()) {
    ASSERT_EQ(Command(r), "SPECTRUM");  // no LIVE, no LIVESTOP
    EXPECT_EQ(BodyValue(r.Body, "SpecBins"), "2048");
    EXPECT_EQ(BodyValue(r.Body, "SpecCenter"), "145000000");
    EXPECT_EQ(BodyValue(r.Body, "SpecLo"), "144990000");
    EXPECT_EQ(BodyValue(r.Body, "SpecHi"), "145010000");
    EXPECT_EQ(BodyValue(r.Body, "StartHz"), "144000000");  // the settings go along
  }
  for (uint32_t ms : engine.Sleeps()) EXPECT_EQ(ms, 60u);

  // No span: the whole range; a Mode that is "Audio" only in another case is a spectrum view too.
  TScriptedEngine whole;
  const plat::TWindowHandle v = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("Audio", 145000000, 0, "t", "AM"), cfg, whole.Options());
  ASSERT_TRUE(whole.WaitFor("SPECTRUM", 1));
  EXPECT_EQ(ViewOf(v)->Kind(), lkSpectrum);
  CloseLiveView(v);
  EXPECT_EQ(BodyValue(whole.Requests()[0].Body, "SpecLo"), "0");
  EXPECT_EQ(BodyValue(whole.Requests()[0].Body, "SpecHi"), "0");
}

TEST(LiveViewWindow, SpectrumFramesReachThePicture) {
  TScriptedEngine engine;
  TParent parent;
  const plat::TWindowHandle w =
      OpenLiveViewWith(parent.Handle, painttest::LiveTicket("spectrum", 145000000, 0, "t", "AM"),
                       TTalvConfig{}, engine.Options());
  ASSERT_TRUE(engine.WaitFor("SPECTRUM", 2));
  for (int i = 0; i < 200 && !ViewOf(w)->State().HaveData; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(ViewOf(w)->State().HaveData);
  EXPECT_TRUE(ViewOf(w)->State().StatusText.empty());
  plat::PumpThreadMessages(50);  // Windows counts the posts it dispatches
  EXPECT_GE(plat::ViewRepaintPosts(w), 1);
  std::vector<uint32_t> pixels;
  std::vector<plat::TViewText> texts;
  ASSERT_TRUE(plat::PaintViewNow(w, 400, 300, pixels, texts));
  bool title = false;
  for (const plat::TViewText& t : texts) title = title || t.Text == "t";
  EXPECT_TRUE(title);
  // The trace: 16 bins at -100 dB of -108 .. -38 across the trace, the -60 dB bin higher.
  const TSpectrumLayout lay = SpectrumLayout(400, 300, plat::WindowDpi(w));
  const int32_t y = lay.Trace.Bottom - static_cast<int32_t>(RoundHalfEven(lay.Trace.Height() * 8.0 / 70));
  EXPECT_EQ(pixels[static_cast<size_t>(y) * 400 + static_cast<size_t>(lay.Trace.Left) + 14] & 0xFFFFFFu,
            livecolor::kTrace & 0xFFFFFFu);
  CloseLiveView(w);
}

TEST(LiveViewWindow, AudioTicketStartsLiveAudioFollowsItsOwnLaneAndStopsIt) {
  TScriptedEngine engine;
  {
    std::lock_guard<std::mutex> hold(engine.FLock);
    engine.Lanes = {{146000000, 5000}, {145012500, 100}};  // another lane far ahead of ours
    engine.LevelsPerReply = 10;
  }
  TParent parent;
  TTalvConfig cfg;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("audio", 145012500, 20000, "t", "AM"), cfg, engine.Options());
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", 3));
  EXPECT_TRUE(ViewOf(w)->StopsAudioOnClose());
  CloseLiveView(w);
  const std::vector<TRequest> all = engine.Requests();
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(Command(all.front()), "LIVE");
  EXPECT_EQ(BodyValue(all.front().Body, "LiveHz"), "145012500");
  EXPECT_EQ(BodyValue(all.front().Body, "LiveMod"), "AM");
  EXPECT_EQ(Command(all.back()), "LIVESTOP");
  const std::vector<TRequest> env = engine.Of("ENVELOPE");
  EXPECT_EQ(BodyValue(env[0].Body, "EnvAfter"), "0");
  EXPECT_EQ(BodyValue(env[0].Body, "EnvMax"), "512");
  // Our lane reached 110 with the first reply: the next asks after 110, not after the other's 5010.
  EXPECT_EQ(BodyValue(env[1].Body, "EnvAfter"), "110");
  EXPECT_EQ(BodyValue(env[2].Body, "EnvAfter"), "120");
  for (uint32_t ms : engine.Sleeps()) EXPECT_EQ(ms, 60u);
}

TEST(LiveViewWindow, AudioTicketWithoutFrequencyPollsButSendsNoLive) {
  TScriptedEngine engine;
  TParent parent;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("audio", 0, 0, "t", "AM"), TTalvConfig{}, engine.Options());
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", 2));
  EXPECT_FALSE(ViewOf(w)->StopsAudioOnClose());
  CloseLiveView(w);
  for (const TRequest& r : engine.Requests()) EXPECT_EQ(Command(r), "ENVELOPE");
}

TEST(LiveViewWindow, LevelRingKeepsTheNewest4096Samples) {
  TScriptedEngine engine;
  {
    std::lock_guard<std::mutex> hold(engine.FLock);
    engine.Lanes = {{145012500, 0}};
    engine.LevelsPerReply = 512;
    engine.LevelsLeft = 5000;
  }
  TParent parent;
  const plat::TWindowHandle w =
      OpenLiveViewWith(parent.Handle, painttest::LiveTicket("audio", 145012500, 0, "t", "AM"), TTalvConfig{},
                       engine.Options());
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", 12));  // 10 replies carry the 5000 samples
  const TViewWnd::TState s = ViewOf(w)->State();
  EXPECT_EQ(s.RingCount, 4096);
  EXPECT_EQ(s.RingPos, 5000 % 4096);
  EXPECT_EQ(s.EnvelopeSeq, 5000);
  EXPECT_EQ(s.LevelRate, 50);
  EXPECT_TRUE(s.Playing);
  EXPECT_EQ(ViewOf(w)->Snapshot().Levels.size(), 1000u);  // 20 s at 50 per second
  CloseLiveView(w);
}

TEST(LiveViewWindow, RefusedLiveAudioStaysShownUntilThereIsSomethingToDraw) {
  TScriptedEngine engine;
  engine.RefuseLive = true;
  TParent parent;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("multi", 0, 0, "t", "AM"), TTalvConfig{}, engine.Options());
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", 3));  // polls that succeed with no lane
  EXPECT_EQ(ViewOf(w)->State().StatusText, "live audio: no receiver found");
  EXPECT_FALSE(ViewOf(w)->StopsAudioOnClose());
  {
    std::lock_guard<std::mutex> hold(engine.FLock);
    engine.Lanes = {{145000000, 0}};
    engine.LevelsPerReply = 5;
  }
  const size_t before = engine.Of("ENVELOPE").size();
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", before + 2));
  EXPECT_EQ(ViewOf(w)->State().StatusText, "");
  EXPECT_EQ(ViewOf(w)->State().Lanes, 1u);
  CloseLiveView(w);
  EXPECT_TRUE(engine.Of("LIVESTOP").empty());  // it never started audio
  const std::vector<TRequest> live = engine.Of("LIVE");
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(BodyValue(live[0].Body, "LiveMulti"), "1");
  for (const TRequest& r : engine.Of("ENVELOPE")) {
    EXPECT_EQ(BodyValue(r.Body, "EnvAfter"), "0");
    EXPECT_EQ(BodyValue(r.Body, "EnvMax"), "1024");
  }
  for (uint32_t ms : engine.Sleeps()) EXPECT_EQ(ms, 120u);
}

TEST(LiveViewWindow, AnUnansweredLiveHoldsTheHostNoLongerThanAPollAndIsStoppedOnClose) {
  TScriptedEngine engine;
  engine.Engine().SetSilent(true);  // LIVE is read and never answered
  TParent parent;
  const auto t0 = std::chrono::steady_clock::now();
  const plat::TWindowHandle w =
      OpenLiveViewWith(parent.Handle, painttest::LiveTicket("audio", 145012500, 20000, "t", "AM"),
                       TTalvConfig{}, engine.Options());
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  engine.Engine().SetSilent(false);
  EXPECT_LT(ms, 5000) << "the client's ordinary reply bound is 15 s; the view waits about a second";
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", 3));  // polling goes on (the first may have gone unanswered)
  EXPECT_EQ(ViewOf(w)->State().StatusText, "live audio: no reply from engine");
  CloseLiveView(w);
  // The engine may have started audio after the view stopped waiting: closing stops it.
  EXPECT_EQ(engine.Of("LIVESTOP").size(), 1u);
}

TEST(LiveViewWindow, FailedPollsShowTheEngineText) {
  TScriptedEngine engine;
  engine.Engine().ReplyLines({"ERR no spectrum yet"});
  TParent parent;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("spectrum", 0, 0, "t", "AM"), TTalvConfig{}, engine.Options());
  ASSERT_TRUE(engine.WaitFor("SPECTRUM", 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ViewOf(w)->State().StatusText, "no spectrum yet");
  EXPECT_FALSE(ViewOf(w)->State().HaveData);
  std::vector<uint32_t> pixels;
  std::vector<plat::TViewText> texts;
  ASSERT_TRUE(plat::PaintViewNow(w, 300, 200, pixels, texts));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Text, "no spectrum yet");
  CloseLiveView(w);
}

TEST(LiveViewWindow, CloseReturnsSoonAgainstAnEngineThatNeverAnswers) {
  TScriptedEngine engine;
  engine.Engine().SetSilent(true);
  TParent parent;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("spectrum", 0, 0, "t", "AM"), TTalvConfig{}, engine.Options());
  ASSERT_TRUE(engine.WaitFor("SPECTRUM", 1));  // the poll thread now waits for a reply
  const auto t0 = std::chrono::steady_clock::now();
  CloseLiveView(w);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 2500) << "the poll's read is bounded to about a second";
  engine.Engine().Stop();
}

TEST(LiveViewWindow, AViewDestroyedWithItsWindowStopsPollingAndLiveAudio) {
  TScriptedEngine engine;
  TParent parent;
  const plat::TWindowHandle w = OpenLiveViewWith(
      parent.Handle, painttest::LiveTicket("multi", 0, 0, "t", "AM"), TTalvConfig{}, engine.Options());
  ASSERT_TRUE(engine.WaitFor("ENVELOPE", 1));
  plat::DestroyViewWindowFromSystem(w);  // as when the lister closes without ListCloseWindow
  EXPECT_EQ(plat::OpenViewWindows(), 0);
  ASSERT_EQ(engine.Of("LIVESTOP").size(), 1u);
  const size_t polls = engine.Of("ENVELOPE").size();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(engine.Of("ENVELOPE").size(), polls);  // the poll thread is gone
  CloseLiveView(w);                                // a stale handle: nothing happens
}

TEST(LiveViewWindow, NoParentNoWindowAndNothingSent) {
  TScriptedEngine engine;
  EXPECT_EQ(
      OpenLiveViewWith(0, painttest::LiveTicket("multi", 0, 0, "t", "AM"), TTalvConfig{}, engine.Options()),
      0u);
  EXPECT_EQ(plat::OpenViewWindows(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(engine.Requests().size(), 0u);
  CloseLiveView(0);
  TParent other;
  CloseLiveView(other.Handle);  // not a live view: left alone
  EXPECT_TRUE(plat::IsWindowAlive(other.Handle));
}

}  // namespace
#endif
