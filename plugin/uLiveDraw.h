#pragma once
// The pictures of the live view: the spectrum view (dB grid, spectrum or panorama trace, channel
// marks, a scrolling waterfall, header texts, frequency labels and a cursor readout), the audio view
// (peak and rms history of the channel being played) and the multi view (one level lane per channel).
//
// A paint is a pure function of the view's state: what the poll thread delivered (a TLiveSnapshot,
// copied under the view's lock), what the window thread keeps between paints (TLiveScene: the
// waterfall picture, the mark table, the shown range, the last drawn frame), the client size, DPI,
// time and cursor. It draws every non-text pixel into a frame with the software painter and lists the
// texts as runs, which the window draws on top with its font. So a scene can be checked as an image
// anywhere, and the Windows builds draw the same pixels as the Linux one.
//
// Lengths are given at 96 DPI and scaled with MulDivRound(n, DPI, 96). Numbers in texts are written with
// the settings unit's "." formatter. The scene belongs to the window thread; nothing here locks.
#include <cstdint>
#include <string>
#include <vector>

#include "uIpcClient.h"
#include "uPaint.h"
#include "uTalvProto.h"

// The three views, chosen by the ticket's Mode compared exactly: "multi", "audio", anything else.
enum TLiveKind : uint8_t { lkSpectrum = 0, lkAudio = 1, lkMulti = 2 };
TLiveKind LiveKindOfMode(const std::string& mode);

// a x b / c rounded half away from zero, as the system's MulDiv (the scaling of every length by the
// DPI); -1 for c = 0 or a result outside the Int32 range.
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);
// The smallest of 1, 2, 5, 10, 20, 50, ... that is at least value (1 for values up to 1).
int64_t NiceStep(int64_t value);
// How bright a panorama hop of that age (ms) is drawn: 0 without data (below 0), 1 up to 300 ms, then
// falling to 0.35 at 2000 ms and staying there.
double PanoAgeFactor(int32_t ageMs);

// Colours of the live view.
namespace livecolor {
constexpr TPixel kBackground = RgbPixel(20, 24, 28);
constexpr TPixel kTitle = RgbPixel(200, 210, 220);
constexpr TPixel kSummary = RgbPixel(130, 145, 160);
constexpr TPixel kStatus = RgbPixel(200, 160, 120);
constexpr TPixel kDbLabel = RgbPixel(120, 135, 150);
constexpr TPixel kGrid = RgbPixel(48, 54, 62);
constexpr TPixel kTrace = RgbPixel(90, 220, 140);
constexpr TPixel kPeak = RgbPixel(38, 110, 70);
constexpr TPixel kLane = RgbPixel(26, 31, 37);
constexpr TPixel kMarkFresh = RgbPixel(255, 190, 60);
constexpr TPixel kMarkStale = RgbPixel(150, 116, 44);
constexpr TPixel kMarkLabelFresh = RgbPixel(255, 200, 90);
constexpr TPixel kMarkLabelStale = RgbPixel(160, 130, 70);
constexpr TPixel kCursorLine = RgbPixel(150, 170, 200);
constexpr TPixel kCursorText = RgbPixel(210, 225, 245);
}  // namespace livecolor

// What one paint reads of the poll thread's results, copied under the view's lock.
struct TLiveSnapshot {
  bool HaveData = false;
  std::string StatusText;
  TTalvFrame Frame;        // spectrum view: the latest frame
  TTalvLevelArray Levels;  // audio view: the newest samples to draw, oldest first
  int32_t LevelRate = 0;   // samples per second; below 1 counts as 62
  bool Playing = false;    // the engine plays live audio
  TTalvLaneArray Lanes;    // multi view
};

// At most this many seconds of levels are drawn.
constexpr int32_t kShownLevelSeconds = 20;
// The level rate a view assumes when the replies give none.
constexpr int32_t kDefaultLevelRate = 62;
// How many of count ring samples an audio view at this rate draws.
int32_t ShownLevelCount(int32_t count, int32_t rate);

struct TLiveMark {
  int64_t Hz = 0;
  double Snr = 0;
  uint64_t SeenMs = 0;  // tick of the last frame that carried it
};
constexpr size_t kMaxLiveMarks = 128;
constexpr uint64_t kMarkKeepMs = 2500;
constexpr uint64_t kMarkStaleMs = 700;

// The spectrum view's layout for a client size and DPI.
struct TSpectrumLayout {
  TPaintRect Trace;
  TPaintRect Waterfall;
};
TSpectrumLayout SpectrumLayout(int32_t width, int32_t height, int32_t dpi);

// Where the window's own state between paints lives (window thread only).
class TLiveScene {
 public:
  explicit TLiveScene(const TViewTicket& ticket);

  const TViewTicket& Ticket() const { return FTicket; }
  TLiveKind Kind() const { return FKind; }

  struct TInput {
    int32_t Width = 0, Height = 0;  // client size
    int32_t Dpi = 96;
    uint64_t NowMs = 0;             // tick count
    TPaintPoint Cursor = {-1, -1};  // in client coordinates; (-1, -1) when outside
  };
  // Draws the whole client area into frame (which must be Width x Height) and lists the texts in
  // drawing order. The snapshot's frame may be cut to the shown bins (it is the paint's own copy).
  void Paint(TLiveSnapshot& snap, const TInput& in, ITextMeasure& measure, TPixelFrame& frame,
             TTextRuns& runs);

  // Steps of the spectrum view, public for the tests.
  // Cuts frame.Bins to the ticket's span where it asks for one and sets the shown range.
  void ResolveShownRange(TTalvFrame& frame);
  // Records the marks of a new frame at now; forgets those not seen for 2500 ms.
  void MergeMarks(const TTalvMarkArray& marks, uint64_t nowMs);
  // Makes the waterfall picture w x h (cleared) unless it has that size already.
  void EnsureWaterfall(int32_t w, int32_t h);
  // Scrolls the waterfall one row down and draws the bins into its top row.
  void PushWaterfallRow(const std::vector<float>& bins, double lowDb, double highDb);
  void FreeWaterfall();

  int64_t ShownLow() const { return FShownLow; }
  int64_t ShownHigh() const { return FShownHigh; }
  const std::vector<TLiveMark>& Marks() const { return FMarks; }
  const TPixelFrame& WaterfallPicture() const { return FWaterfall; }
  int64_t LastDrawnSeq() const { return FLastSeq; }

 private:
  // A length given at 96 DPI at the DPI of the paint.
  int32_t Scaled(int32_t n) const { return MulDivRound(n, FDpi, 96); }
  void PaintSpectrum(TLiveSnapshot& snap, const TInput& in, ITextMeasure& m, TPixelFrame& f, TTextRuns& runs);
  void PaintAudio(TLiveSnapshot& snap, const TInput& in, ITextMeasure& m, TPixelFrame& f, TTextRuns& runs);
  void PaintMulti(TLiveSnapshot& snap, const TInput& in, ITextMeasure& m, TPixelFrame& f, TTextRuns& runs);
  void DrawTrace(const TTalvFrame& frame, const TPaintRect& r, double low, double high, TPixelFrame& f);
  void DrawMarks(const TSpectrumLayout& lay, const TInput& in, ITextMeasure& m, TPixelFrame& f,
                 TTextRuns& runs);
  void DrawCursor(const TTalvFrame& frame, const TSpectrumLayout& lay, double low, double high,
                  const TInput& in, ITextMeasure& m, TPixelFrame& f, TTextRuns& runs);

  TViewTicket FTicket;
  TLiveKind FKind;
  int32_t FDpi = 96;
  TPixelFrame FWaterfall;
  int64_t FLastSeq = 0;
  int64_t FShownLow = 0, FShownHigh = 0;
  std::vector<TLiveMark> FMarks;
  std::vector<TPaintPoint> FPoints;  // the trace's points, kept to avoid an allocation per paint
};
