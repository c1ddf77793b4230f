#include "uLiveDraw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "uTalvConfig.h"
#include "uWavThumb.h"

using namespace livecolor;

TLiveKind LiveKindOfMode(const std::string& mode) {
  if (mode == "multi") return lkMulti;
  if (mode == "audio") return lkAudio;
  return lkSpectrum;
}

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t p = static_cast<int64_t>(a) * b;
  const bool negative = (p < 0) != (c < 0);
  const int64_t ap = std::llabs(p), ac = std::llabs(static_cast<int64_t>(c));
  const int64_t q = (ap + ac / 2) / ac;
  if (q > INT32_MAX) return -1;
  return static_cast<int32_t>(negative ? -q : q);
}

int64_t NiceStep(int64_t value) {
  int64_t decade = 1;
  for (;;) {
    for (int64_t m : {1, 2, 5})
      if (m * decade >= value) return m * decade;
    if (decade > INT64_MAX / 100) return 10 * decade;
    decade *= 10;
  }
}

double PanoAgeFactor(int32_t ageMs) {
  if (ageMs < 0) return 0.0;
  if (ageMs <= 300) return 1.0;
  if (ageMs < 2000) return 1.0 - (ageMs - 300) * 0.65 / 1700.0;
  return 0.35;
}

int32_t ShownLevelCount(int32_t count, int32_t rate) {
  if (rate < 1) rate = kDefaultLevelRate;
  return static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(rate) * kShownLevelSeconds));
}

namespace {

// The "%.0f" of the view's texts, with "." on every build.
std::string Whole(double v) {
  return FormatPoint(v, 0);
}

int32_t Rint(double v) {
  return static_cast<int32_t>(RoundHalfEven(v));
}

constexpr int32_t kLeft = 46, kTop = 22, kRightGap = 8, kBottomGap = 16;

}  // namespace

TSpectrumLayout SpectrumLayout(int32_t width, int32_t height, int32_t dpi) {
  auto s = [dpi](int32_t n) { return MulDivRound(n, dpi, 96); };
  TSpectrumLayout l;
  l.Trace.Left = s(kLeft);
  l.Trace.Top = s(kTop);
  l.Trace.Right = width - s(kRightGap);
  l.Trace.Bottom = Rint((height - s(kTop) - s(kBottomGap)) * 0.42) + s(kTop);
  l.Waterfall.Left = l.Trace.Left;
  l.Waterfall.Right = l.Trace.Right;
  l.Waterfall.Top = l.Trace.Bottom + s(2);
  l.Waterfall.Bottom = height - s(kBottomGap);
  return l;
}

TLiveScene::TLiveScene(const TViewTicket& ticket) : FTicket(ticket), FKind(LiveKindOfMode(ticket.Mode)) {}

void TLiveScene::Paint(TLiveSnapshot& snap, const TInput& in, ITextMeasure& measure, TPixelFrame& frame,
                       TTextRuns& runs) {
  runs.clear();
  if (in.Width < 1 || in.Height < 1 || frame.Width() != in.Width || frame.Height() != in.Height) return;
  FDpi = in.Dpi > 0 ? in.Dpi : 96;
  if (FKind == lkMulti)
    PaintMulti(snap, in, measure, frame, runs);
  else if (FKind == lkAudio)
    PaintAudio(snap, in, measure, frame, runs);
  else
    PaintSpectrum(snap, in, measure, frame, runs);
}

// ---------------------------------------------------------------------------------------------
// Spectrum view

void TLiveScene::ResolveShownRange(TTalvFrame& frame) {
  const int64_t n = static_cast<int64_t>(frame.Bins.size());
  if (n <= 0 || !(frame.Rate > 0)) {
    FShownLow = FShownHigh = 0;
    return;
  }
  const int64_t b = RoundHalfEven(frame.Rate);
  const int64_t c = frame.Center - b / 2;
  FShownLow = c;
  FShownHigh = c + b;
  if (frame.LoHz < frame.HiHz) {
    FShownLow = frame.LoHz;
    FShownHigh = frame.HiHz;
    return;
  }
  const int64_t d = FTicket.SpanHz;
  if (!(d > 0 && FTicket.CenterHz > 0 && d < b)) return;
  const int64_t e = FTicket.CenterHz - d / 2;
  const int64_t a = std::max(e, c);
  const int64_t z = std::min(c + b, e + d);
  if (a >= z) return;
  int64_t first = std::max<int64_t>((a - c) * n / b, 0);
  int64_t end = std::min<int64_t>(n, n * (z - c) / b);
  if (end - first < 8) {
    first = std::max<int64_t>(first - 4, 0);
    end = std::min<int64_t>(end + 4, n);
  }
  if (end - first <= 1) return;
  frame.Bins = std::vector<float>(frame.Bins.begin() + first, frame.Bins.begin() + end);
  FShownLow = c + b * first / n;
  FShownHigh = c + b * end / n;
}

void TLiveScene::MergeMarks(const TTalvMarkArray& marks, uint64_t nowMs) {
  for (const TTalvMark& mark : marks) {
    if (mark.HzValue < 1) continue;
    auto same =
        std::find_if(FMarks.begin(), FMarks.end(), [&](const TLiveMark& e) { return e.Hz == mark.HzValue; });
    if (same != FMarks.end()) {
      same->Snr = mark.Snr;
      same->SeenMs = nowMs;
    } else if (FMarks.size() < kMaxLiveMarks) {
      FMarks.push_back({mark.HzValue, mark.Snr, nowMs});
    } else {
      auto oldest =
          std::min_element(FMarks.begin(), FMarks.end(),
                           [](const TLiveMark& x, const TLiveMark& y) { return x.SeenMs < y.SeenMs; });
      *oldest = {mark.HzValue, mark.Snr, nowMs};
    }
  }
  FMarks.erase(std::remove_if(FMarks.begin(), FMarks.end(),
                              [&](const TLiveMark& e) { return e.SeenMs + kMarkKeepMs < nowMs; }),
               FMarks.end());
}

void TLiveScene::EnsureWaterfall(int32_t w, int32_t h) {
  if (w < 1 || h < 1) return;
  if (FWaterfall.Width() == w && FWaterfall.Height() == h) return;
  FWaterfall.Resize(w, h);
  FillFrame(FWaterfall, RgbPixel(0, 0, 0));
}

void TLiveScene::FreeWaterfall() {
  FWaterfall.Resize(0, 0);
}

void TLiveScene::PushWaterfallRow(const std::vector<float>& bins, double lowDb, double highDb) {
  const int32_t w = FWaterfall.Width();
  const int64_t n = static_cast<int64_t>(bins.size());
  if (w <= 0 || FWaterfall.Height() <= 1 || n == 0) return;
  ScrollDownOneRow(FWaterfall);
  TPixel* row = FWaterfall.Row(0);
  for (int32_t x = 0; x < w; ++x) {
    const int64_t k = std::min<int64_t>(static_cast<int64_t>(x) * n / w, n - 1);
    const double v = lowDb < highDb ? (bins[static_cast<size_t>(k)] - lowDb) / (highDb - lowDb) : 0.0;
    row[x] = LevelToColor(v) | 0xFF000000u;
  }
}

void TLiveScene::DrawTrace(const TTalvFrame& frame, const TPaintRect& r, double low, double high,
                           TPixelFrame& f) {
  const int32_t tw = r.Width(), th = r.Height();
  if (tw <= 2 || th <= 2) return;
  for (double dB = std::ceil(low / 20.0) * 20.0; dB <= high; dB += 20.0) {
    const int32_t y = r.Bottom - Rint(th * (dB - low) / (high - low));
    DrawLine(f, r.Left, y, r.Right, y, kGrid);
  }
  const int64_t n = static_cast<int64_t>(frame.Bins.size());
  if (n == 0) return;
  FPoints.resize(static_cast<size_t>(tw));
  for (int32_t i = 0; i < tw; ++i) {
    const int64_t j = std::min<int64_t>(static_cast<int64_t>(i) * n / tw, n - 1);
    // At least the one bin j: with fewer bins than columns the range would otherwise be empty.
    const int64_t last = std::max(j, std::min<int64_t>(n, n * (i + 1) / tw) - 1);
    float value = frame.Bins[static_cast<size_t>(j)];
    for (int64_t k = j + 1; k <= last; ++k) value = std::max(value, frame.Bins[static_cast<size_t>(k)]);
    const double v = std::clamp((value - low) / (high - low), 0.0, 1.0);
    FPoints[static_cast<size_t>(i)] = {r.Left + i, r.Bottom - Rint(th * v)};
  }
  if (frame.Pano.empty()) {
    DrawPolyline(f, FPoints.data(), FPoints.size(), kTrace);
    return;
  }
  const int64_t span = frame.HiHz - frame.LoHz;
  if (span <= 0) return;
  for (const TTalvPano& hop : frame.Pano) {
    const double x = PanoAgeFactor(hop.AgeMs);
    if (!(x > 0)) continue;
    const int64_t first = std::max<int64_t>(tw * (hop.LoHz - frame.LoHz) / span, 0);
    const int64_t last = std::min<int64_t>(tw - 1, tw * (hop.HiHz - frame.LoHz) / span);
    if (last - first + 1 < 2) continue;
    const TPixel color = RgbPixel(static_cast<uint32_t>(Rint(90 * x)), static_cast<uint32_t>(Rint(220 * x)),
                                  static_cast<uint32_t>(Rint(140 * x)));
    DrawPolyline(f, FPoints.data() + first, static_cast<size_t>(last - first + 1), color);
  }
}

void TLiveScene::DrawMarks(const TSpectrumLayout& lay, const TInput& in, ITextMeasure& m, TPixelFrame& f,
                           TTextRuns& runs) {
  const TPaintRect& t = lay.Trace;
  const int64_t low = FShownLow, high = FShownHigh;
  const int32_t tw = t.Width();
  if (FMarks.empty() || low >= high || tw <= 2) return;
  std::vector<TLiveMark> shown;
  for (const TLiveMark& e : FMarks)
    if (e.Hz >= low && e.Hz <= high && e.SeenMs + kMarkKeepMs >= in.NowMs) shown.push_back(e);
  std::stable_sort(shown.begin(), shown.end(),
                   [](const TLiveMark& a, const TLiveMark& b) { return a.Hz < b.Hz; });
  int32_t lastLabel = -1000;
  for (const TLiveMark& e : shown) {
    const int32_t x = static_cast<int32_t>((e.Hz - low) * tw / (high - low)) + t.Left;
    if (x < t.Left || x > t.Right) continue;
    const bool stale = e.SeenMs + kMarkStaleMs < in.NowMs;
    DrawDottedLine(f, x, t.Top, x, t.Bottom, stale ? kMarkStale : kMarkFresh);
    DrawDottedLine(f, x, lay.Waterfall.Top, x, lay.Waterfall.Top + Scaled(6),
                   stale ? kMarkStale : kMarkFresh);
    if (x - lastLabel >= Scaled(96)) {
      AddTextRun(runs, m, x + Scaled(3), t.Top + Scaled(2), stale ? kMarkLabelStale : kMarkLabelFresh,
                 FormatHz(e.Hz) + "  " + Whole(e.Snr) + " dB");
      lastLabel = x;
    }
  }
}

void TLiveScene::DrawCursor(const TTalvFrame& frame, const TSpectrumLayout& lay, double low, double high,
                            const TInput& in, ITextMeasure& m, TPixelFrame& f, TTextRuns& runs) {
  const TPaintRect& t = lay.Trace;
  const int32_t tw = t.Width(), th = t.Height();
  const int64_t lowHz = FShownLow, highHz = FShownHigh;
  if (tw <= 2 || lowHz >= highHz) return;
  const int32_t x = in.Cursor.X, y = in.Cursor.Y;
  if (x < t.Left || x > t.Right || y < t.Top || y > lay.Waterfall.Bottom) return;
  int64_t hz = lowHz + (x - t.Left) * (highHz - lowHz) / tw;
  const int64_t step = NiceStep((highHz - lowHz) / tw);
  if (step > 1) hz = step * ((hz + step / 2) / step);
  DrawLine(f, x, t.Top, x, lay.Waterfall.Bottom, kCursorLine);
  std::string text = FormatHz(hz);
  const int64_t n = static_cast<int64_t>(frame.Bins.size());
  if (n > 0) {
    const int64_t k = std::clamp<int64_t>(static_cast<int64_t>(x - t.Left) * n / tw, 0, n - 1);
    text += "   " + Whole(frame.Bins[static_cast<size_t>(k)]) + " dBFS";
  }
  const int32_t width = m.TextWidth(text);
  int32_t tx = x + Scaled(4);
  if (tx + width > t.Right) tx = x - Scaled(4) - width;
  AddTextRun(runs, m, std::max(tx, t.Left), t.Top + Scaled(2), kCursorText, text);

  if (th > 2 && low < high && y >= t.Top && y <= t.Bottom) {
    DrawDottedLine(f, t.Left, y, t.Right, y, kCursorLine);
    const std::string level = Whole((high - low) * (t.Bottom - y) / th + low) + " dBFS";
    int32_t ty = y - Scaled(2) - m.TextHeight();
    if (ty < t.Top) ty = y + Scaled(2);
    AddTextRun(runs, m, std::max(t.Right - Scaled(4) - m.TextWidth(level), t.Left), ty, kCursorText, level);
  }
}

void TLiveScene::PaintSpectrum(TLiveSnapshot& snap, const TInput& in, ITextMeasure& m, TPixelFrame& f,
                               TTextRuns& runs) {
  const TSpectrumLayout lay = SpectrumLayout(in.Width, in.Height, FDpi);
  const TPaintRect& wf = lay.Waterfall;
  // The waterfall covers its rectangle: the background goes everywhere else.
  EnsureWaterfall(wf.Width(), wf.Height());
  const bool covered = snap.HaveData && !FWaterfall.Empty() && FWaterfall.Width() == wf.Width() &&
                       FWaterfall.Height() == wf.Height() && wf.Left >= 0 && wf.Top >= 0 &&
                       wf.Right <= in.Width && wf.Bottom <= in.Height;
  if (covered) {
    FillRect(f, {0, 0, in.Width, wf.Top}, kBackground);
    FillRect(f, {0, wf.Bottom, in.Width, in.Height}, kBackground);
    FillRect(f, {0, wf.Top, wf.Left, wf.Bottom}, kBackground);
    FillRect(f, {wf.Right, wf.Top, in.Width, wf.Bottom}, kBackground);
  } else {
    FillFrame(f, kBackground);
  }
  if (!snap.HaveData) {
    AddTextRun(runs, m, Scaled(46), Scaled(22), kStatus,
               snap.StatusText.empty() ? "waiting for the first spectrum frame..." : snap.StatusText);
    return;
  }
  TTalvFrame& frame = snap.Frame;
  const bool isNew = frame.Seq != FLastSeq;
  if (isNew) FLastSeq = frame.Seq;
  ResolveShownRange(frame);
  const double low = frame.Noise - 8.0, high = frame.Noise + 62.0;
  if (isNew) {
    PushWaterfallRow(frame.Bins, low, high);
    MergeMarks(frame.Marks, in.NowMs);
  }
  DrawTrace(frame, lay.Trace, low, high, f);
  if (!FWaterfall.Empty()) BlitFrame(f, FWaterfall, wf.Left, wf.Top);
  DrawMarks(lay, in, m, f, runs);

  // Header: title, summary, frequency labels under the waterfall.
  AddTextRun(runs, m, Scaled(46), Scaled(4), kTitle,
             FTicket.Title.empty() ? FormatHz(frame.Center) : FTicket.Title);
  AddTextRun(runs, m, wf.Right - Scaled(320), Scaled(4), kSummary,
             std::to_string(FMarks.size()) + " ch  " + FormatHz(FShownHigh - FShownLow) + " span  noise " +
                 Whole(frame.Noise) + " dBFS  src " + frame.Source);
  for (int32_t k = 0; k <= 4; ++k) {
    int32_t x = wf.Left + MulDivRound(k, wf.Width(), 4);
    if (k >= 1 && k <= 3) x -= Scaled(35);
    if (k == 4) x -= Scaled(70);
    AddTextRun(runs, m, x, wf.Bottom + Scaled(2), kSummary,
               FormatHz(FShownLow + (FShownHigh - FShownLow) * k / 4));
  }
  DrawCursor(frame, lay, low, high, in, m, f, runs);
  AddTextRun(runs, m, Scaled(4), lay.Trace.Top - Scaled(2), kDbLabel, Whole(high));
  AddTextRun(runs, m, Scaled(4), lay.Trace.Bottom - Scaled(12), kDbLabel, Whole(low) + " dB");
}

// ---------------------------------------------------------------------------------------------
// Audio and multi views

namespace {

// Bars of one level history: column i of pw shows sample c = s - s(pw - i - 1) div pw - 1 of the
// newest s, its peak and then its rms mirrored around the centre row mid.
void DrawLevelBars(TPixelFrame& f, const TTalvLevel* levels, int32_t s, int32_t left, int32_t pw, int32_t mid,
                   int32_t half) {
  if (s <= 0) return;
  for (int32_t i = 0; i < pw; ++i) {
    const int32_t c = s - static_cast<int32_t>(static_cast<int64_t>(s) * (pw - i - 1) / pw) - 1;
    if (c < 0) continue;
    const TTalvLevel& e = levels[c];
    const float peak = std::clamp(e.Peak, 0.0f, 1.0f), rms = std::clamp(e.Rms, 0.0f, 1.0f);
    const int32_t hp = Rint(half * static_cast<double>(peak)), hr = Rint(half * static_cast<double>(rms));
    DrawBar(f, left + i, mid - hp, mid + hp + 1, kPeak);
    DrawBar(f, left + i, mid - hr, mid + hr + 1, kTrace);
  }
}

}  // namespace

void TLiveScene::PaintAudio(TLiveSnapshot& snap, const TInput& in, ITextMeasure& m, TPixelFrame& f,
                            TTextRuns& runs) {
  FillFrame(f, kBackground);
  const int32_t pw = in.Width - Scaled(kLeft) - Scaled(kRightGap),
                ph = in.Height - Scaled(kTop) - Scaled(kBottomGap);
  if (pw <= 4 || ph <= 8) return;
  const int32_t mid = Scaled(kTop) + ph / 2;
  const int32_t rate = snap.LevelRate < 1 ? kDefaultLevelRate : snap.LevelRate;
  const int32_t shown = ShownLevelCount(static_cast<int32_t>(snap.Levels.size()), rate);
  const TTalvLevel* newest = snap.Levels.data() + (snap.Levels.size() - static_cast<size_t>(shown));

  std::string title = FTicket.Title.empty() ? FormatHz(FTicket.CenterHz) : FTicket.Title;
  title += snap.Playing ? "  -  listening (" + FTicket.Modulation + ")" : "  -  not playing";
  AddTextRun(runs, m, Scaled(kLeft), Scaled(4), kTitle, title);
  DrawLine(f, Scaled(kLeft), mid, Scaled(kLeft) + pw, mid, kGrid);
  if (shown > 0) {
    DrawLevelBars(f, newest, shown, Scaled(kLeft), pw, mid, ph / 2);
    AddTextRun(runs, m, Scaled(4), Scaled(kTop), kDbLabel, "peak / rms");
    AddTextRun(runs, m, Scaled(kLeft), in.Height - Scaled(kBottomGap) + 2, kDbLabel,
               Whole(static_cast<double>(shown) / rate) + " s shown");
  } else {
    AddTextRun(runs, m, Scaled(kLeft), mid - Scaled(8), kStatus,
               snap.StatusText.empty() ? "waiting for audio..." : snap.StatusText);
  }
}

void TLiveScene::PaintMulti(TLiveSnapshot& snap, const TInput& in, ITextMeasure& m, TPixelFrame& f,
                            TTextRuns& runs) {
  FillFrame(f, kBackground);
  const int32_t rate = snap.LevelRate < 1 ? kDefaultLevelRate : snap.LevelRate;
  const int32_t lanes = static_cast<int32_t>(snap.Lanes.size());
  std::string title = FTicket.Title.empty() ? "all active channels" : FTicket.Title;
  title += snap.Playing ? "  -  " + std::to_string(lanes) + " channel(s) live" : "  -  not playing";
  AddTextRun(runs, m, Scaled(kLeft), Scaled(4), kTitle, title);
  if (lanes == 0) {
    AddTextRun(runs, m, Scaled(kLeft), Scaled(kTop) + Scaled(10), kStatus,
               snap.StatusText.empty() ? "no channel above the threshold yet..." : snap.StatusText);
    return;
  }
  int32_t lh = Scaled(50);
  const int32_t gap = Scaled(4), pw = in.Width - Scaled(kLeft) - Scaled(kRightGap);
  if (pw <= 4) return;
  const int32_t ah = in.Height - Scaled(kTop) - Scaled(kBottomGap);
  if (ah < (lh + gap) * lanes) lh = std::max(ah / lanes - gap, Scaled(12));
  for (int32_t p = 0; p < lanes; ++p) {
    const int32_t t = Scaled(kTop) + (lh + gap) * p;
    if (t + lh > in.Height - Scaled(kBottomGap)) break;
    FillRect(f, {Scaled(kLeft), t, Scaled(kLeft) + pw, t + lh}, kLane);
    const int32_t mid = t + lh / 2;
    DrawLine(f, Scaled(kLeft), mid, Scaled(kLeft) + pw, mid, kGrid);
    const TTalvLevelArray& levels = snap.Lanes[static_cast<size_t>(p)].Levels;
    const int32_t shown = ShownLevelCount(static_cast<int32_t>(levels.size()), rate);
    DrawLevelBars(f, levels.data() + (levels.size() - static_cast<size_t>(shown)), shown, Scaled(kLeft), pw,
                  mid, lh / 2);
    AddTextRun(runs, m, Scaled(2), t + 1, kTitle, FormatHz(snap.Lanes[static_cast<size_t>(p)].Hz));
  }
  const int32_t s0 = ShownLevelCount(static_cast<int32_t>(snap.Lanes[0].Levels.size()), rate);
  AddTextRun(
      runs, m, Scaled(kLeft), in.Height - Scaled(kBottomGap) + 2, kDbLabel,
      Whole(static_cast<double>(s0) / rate) + " s shown  -  " + std::to_string(lh) + " px per channel");
}
