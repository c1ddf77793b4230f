// The live view in a lister of our own, under Wine with a virtual display: the plug-in library is
// loaded from a fresh folder, a ticket is opened through ListLoadW against a fake engine on the
// shipped pipe, messages are pumped, the mouse is put on the trace with SetCursorPos, and the child
// window's pixels are read back from its device context. Every pixel outside the text runs must equal
// the frame that the portable scene code draws here from the same engine reply, at the window's DPI
// (one run is made at 144 DPI); inside the title's run the text must have been drawn. The captures and
// the expected frames are left as PNG files in "pictures" beside this program.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "FakeEngine.h"
#include "PngFile.h"
#include "TestSupport.h"
#include "pPipe.h"
#include "pSystem.h"
#include "pText.h"
#include "pViewWindow.h"
#include "uIpcClient.h"
#include "uLiveDraw.h"
#include "wDib.h"
#include "wfxHost.h"

namespace {

using TListLoadW = TWfxWindow(WFX_CALL*)(TWfxWindow, TWfxChar*, int);
using TListCloseWindow = void(WFX_CALL*)(TWfxWindow);

constexpr int32_t kWidth = 800, kHeight = 500;

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = plat::Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

// The fake engine's replies: one spectrum frame that never changes (the same Seq, so the waterfall
// holds exactly one row), three lanes of levels, and 300 levels for the audio view's lane, given once.
TTextLines SpectrumReply() {
  TTextLines r = {"OK", "Center=145000000", "Rate=2048000", "Noise=-100", "Seq=41", "Source=live"};
  std::vector<float> bins(1024);
  for (size_t k = 0; k < bins.size(); ++k)
    bins[k] = -104.0f + static_cast<float>((k * 7919) % 13) + (k >= 500 && k < 520 ? 50.0f : 0.0f);
  r.push_back("Count=1024");
  AppendBinLines(r, bins.data(), bins.size());
  return r;
}

TTextLines EnvelopeReply(bool withLevels) {
  TTextLines r = {"OK"};
  AppendEnvelopeHead(r, 300, true, 62);
  for (int lane = 0; lane < 3; ++lane) {
    r.push_back(LaneLine(145000000 + lane * 25000, 300));
    if (!withLevels && lane == 0) continue;
    std::vector<TTalvLevel> levels;
    for (int k = 0; k < 300; ++k)
      levels.push_back({0.2f + 0.6f * ((k * (lane + 3)) % 50) / 50.0f, 0.1f + 0.002f * k});
    AppendEnvLines(r, levels);
  }
  return r;
}

class TLister : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dll = plat::ModuleDir() + TALV_PLUGIN_FILE;
    Dll = Folder.File(TALV_PLUGIN_FILE);
    ASSERT_TRUE(CopyFileW(Wide(dll).c_str(), Wide(Dll).c_str(), FALSE)) << dll;
    // The fake engine lives in this process: a QUIT sent from the library's unload would wait for a
    // connection thread that cannot start while the unload holds the loader's lock.
    ASSERT_TRUE(testsupport::WriteWholeFile(Folder.File("wfx_talvoran.ini"),
                                            "[Talvoran]\r\nStopEngineOnUnload=0\r\n"));
    Module = LoadLibraryW(Wide(Dll).c_str());
    ASSERT_NE(Module, nullptr);
    ListLoadW = reinterpret_cast<TListLoadW>(reinterpret_cast<void*>(GetProcAddress(Module, "ListLoadW")));
    ListCloseWindow = reinterpret_cast<TListCloseWindow>(
        reinterpret_cast<void*>(GetProcAddress(Module, "ListCloseWindow")));
    ASSERT_NE(ListLoadW, nullptr);
    ASSERT_NE(ListCloseWindow, nullptr);
    Engine.SetResponder([this](const TRequest& r) {
      if (r.CommandLine == "SPECTRUM") return FrameReply(SpectrumReply());
      if (r.CommandLine == "ENVELOPE") return FrameReply(EnvelopeReply(EnvelopesAnswered++ == 0));
      return FrameReply({"OK"});
    });
    ASSERT_TRUE(Engine.Start());
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TalvoranTestListerFrame";
    RegisterClassW(&wc);
    Parent = CreateWindowExW(WS_EX_TOPMOST, L"TalvoranTestListerFrame", L"lister", WS_POPUP | WS_VISIBLE, 0,
                             0, kWidth, kHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(Parent, nullptr);
    SetForegroundWindow(Parent);
    Pump(100);
  }
  void TearDown() override {
    if (Parent) DestroyWindow(Parent);
    if (Module) FreeLibrary(Module);
    Engine.Stop();
  }

  static void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
  }

  // Opens the ticket in the lister, sized to the whole frame window, and pumps until the engine has
  // answered the view's requests a few times.
  HWND Open(const std::string& mode, int64_t center, int64_t span, const std::string& title,
            const char* command) {
    const std::string path = Folder.File(mode + ".talvview");
    EXPECT_TRUE(testsupport::WriteWholeFile(path, WriteTicket(mode, center, span, "NFM", title)));
    std::wstring wide = Wide(path);
    HWND view = ListLoadW(Parent, wide.data(), 0);
    if (!view) return nullptr;
    MoveWindow(view, 0, 0, kWidth, kHeight, FALSE);  // before the first paint
    for (int i = 0; i < 300; ++i) {
      int n = 0;
      for (const TRequest& r : Engine.Requests()) n += r.CommandLine == command;
      if (n >= 4) break;
      Pump(20);
    }
    return view;
  }

  // The window's pixels now, after one paint of its present state.
 public:
  static std::vector<uint32_t> CaptureView(HWND view) { return Capture(view); }

 protected:
  static std::vector<uint32_t> Capture(HWND view) {
    RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(view);
    BITMAPINFO bi = plat::TopDownDibInfo(kWidth, kHeight);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, kWidth, kHeight, dc, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> pixels(p, p + kWidth * kHeight);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(view, dc);
    return pixels;
  }

  testsupport::TTempDir Folder;
  std::string Dll;
  HMODULE Module = nullptr;
  TListLoadW ListLoadW = nullptr;
  TListCloseWindow ListCloseWindow = nullptr;
  testsupport::TFakeEngine Engine{plat::kPipeName};
  std::atomic<int> EnvelopesAnswered{0};
  HWND Parent = nullptr;
};

// Texts measured with the view's own font at the DPI, as the window measures them.
class TGdiMeasure : public ITextMeasure {
 public:
  explicit TGdiMeasure(int32_t dpi) {
    FDc = CreateCompatibleDC(nullptr);
    FFont =
        CreateFontW(-MulDiv(11, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI");
    FOld = SelectObject(FDc, FFont);
  }
  ~TGdiMeasure() override {
    SelectObject(FDc, FOld);
    DeleteObject(FFont);
    DeleteDC(FDc);
  }
  int32_t TextWidth(const std::string& text) override {
    const std::wstring w = Wide(text);
    SIZE size = {};
    GetTextExtentPoint32W(FDc, w.c_str(), static_cast<int>(w.size()), &size);
    return size.cx;
  }
  int32_t TextHeight() override {
    TEXTMETRICW tm = {};
    GetTextMetricsW(FDc, &tm);
    return tm.tmHeight;
  }

 private:
  HDC FDc;
  HFONT FFont;
  HGDIOBJ FOld;
};

// Compares the capture with the expected frame outside the text runs (widened by 3 pixels for the
// glyphs' antialiased edges); writes both pictures.
void Compare(const std::string& name, const std::vector<uint32_t>& captured, const TPixelFrame& expected,
             const TTextRuns& runs) {
  const std::string dir = testsupport::PictureFolder();
  testsupport::WritePng(dir + "lister_" + name + "_captured.png", captured.data(), kWidth, kHeight);
  testsupport::WritePng(dir + "lister_" + name + "_expected.png", expected.Data(), kWidth, kHeight);
  std::vector<bool> masked(static_cast<size_t>(kWidth * kHeight), false);
  for (const TTextRun& r : runs)
    for (int32_t y = std::max(r.Y - 3, 0); y < std::min(r.Y + r.Height + 3, kHeight); ++y)
      for (int32_t x = std::max(r.X - 3, 0); x < std::min(r.X + r.Width + 3, kWidth); ++x)
        masked[static_cast<size_t>(y * kWidth + x)] = true;
  int differing = 0, compared = 0;
  std::string first;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      if (masked[static_cast<size_t>(y * kWidth + x)]) continue;
      ++compared;
      const uint32_t got = captured[static_cast<size_t>(y * kWidth + x)] & 0xFFFFFFu;
      const uint32_t want = expected.At(x, y) & 0xFFFFFFu;
      if (got != want && differing++ < 5)
        first += " (" + std::to_string(x) + "," + std::to_string(y) + ") " + std::to_string(got) +
                 "!=" + std::to_string(want);
    }
  EXPECT_GT(compared, kWidth * kHeight / 2);
  EXPECT_EQ(differing, 0) << name << ":" << first;
  // The title's text was drawn over the background.
  ASSERT_FALSE(runs.empty());
  const TTextRun& title = runs.front();
  int inked = 0;
  for (int32_t y = title.Y; y < title.Y + title.Height; ++y)
    for (int32_t x = title.X; x < title.X + title.Width; ++x)
      inked +=
          (captured[static_cast<size_t>(y * kWidth + x)] & 0xFFFFFFu) != (livecolor::kBackground & 0xFFFFFFu);
  EXPECT_GT(inked, 10) << name << ": no text in \"" << title.Text << "\"";
}

// The frame the scene code draws for one state of a view.
void Expected(const TViewTicket& ticket, TLiveSnapshot snap, int32_t dpi, TPaintPoint cursor,
              TPixelFrame& frame, TTextRuns& runs) {
  TLiveScene scene(ticket);
  TGdiMeasure measure(dpi);
  TLiveScene::TInput in;
  in.Width = kWidth;
  in.Height = kHeight;
  in.Dpi = dpi;
  in.NowMs = 0;
  in.Cursor = cursor;
  frame.Resize(kWidth, kHeight);
  scene.Paint(snap, in, measure, frame, runs);
}

int32_t WantedDpi() {
  const char* v = std::getenv("TALV_EXPECT_DPI");
  return v ? std::atoi(v) : 0;
}

TEST_F(TLister, SpectrumViewShowsTheSceneWithTheCursorReadout) {
  const TViewTicket ticket = ReadTicket(WriteTicket("spectrum", 145000000, 1000000, "NFM", "145 MHz  live"));
  HWND view = Open("spectrum", 145000000, 1000000, "145 MHz  live", "SPECTRUM");
  ASSERT_NE(view, nullptr);
  const int32_t dpi = plat::WindowDpi(reinterpret_cast<plat::TWindowHandle>(view));
  if (WantedDpi()) {
    EXPECT_EQ(dpi, WantedDpi());
  }
  const TSpectrumLayout lay = SpectrumLayout(kWidth, kHeight, dpi);
  const TPaintPoint cursor = {lay.Trace.Left + 301, lay.Trace.Top + 40};
  SetCursorPos(cursor.X, cursor.Y);  // the lister's frame sits at 0, 0 without a border
  Pump(50);
  const std::vector<uint32_t> captured = Capture(view);

  TLiveSnapshot snap;
  snap.HaveData = true;
  ASSERT_TRUE(ParseSpectrumReply(SpectrumReply(), snap.Frame));
  TPixelFrame expected;
  TTextRuns runs;
  Expected(ticket, snap, dpi, cursor, expected, runs);
  const std::string name = "spectrum_" + std::to_string(dpi) + "dpi";
  Compare(name, captured, expected, runs);
  // The readout is there: the cursor line runs down through the waterfall.
  EXPECT_EQ(captured[static_cast<size_t>((lay.Waterfall.Bottom - 2) * kWidth + cursor.X)] & 0xFFFFFFu,
            livecolor::kCursorLine & 0xFFFFFFu);
  ListCloseWindow(view);
  EXPECT_FALSE(IsWindow(view));
  for (const TRequest& r : Engine.Requests()) EXPECT_EQ(r.CommandLine, "SPECTRUM");
}

// Opens a level view (the mouse away from it), captures it and compares it with the scene drawn from
// snap at the window's DPI.
void CheckLevelView(TLister& t, HWND view, const std::string& mode, const std::string& title,
                    TLiveSnapshot snap) {
  const int32_t dpi = plat::WindowDpi(reinterpret_cast<plat::TWindowHandle>(view));
  SetCursorPos(kWidth + 50, kHeight + 50);
  const std::vector<uint32_t> captured = t.CaptureView(view);
  snap.HaveData = true;
  TPixelFrame expected;
  TTextRuns runs;
  Expected(ReadTicket(
               WriteTicket(mode, mode == "audio" ? 145000000 : 0, mode == "audio" ? 20000 : 0, "NFM", title)),
           snap, dpi, {-1, -1}, expected, runs);
  Compare(mode + "_" + std::to_string(dpi) + "dpi", captured, expected, runs);
}

TEST_F(TLister, MultiViewShowsEveryLane) {
  HWND view = Open("multi", 0, 0, "", "ENVELOPE");
  ASSERT_NE(view, nullptr);
  TLiveSnapshot snap;
  int64_t seq = 0;
  ASSERT_TRUE(ParseEnvelopeReply(EnvelopeReply(false), 0, snap.Lanes, seq, snap.Playing, snap.LevelRate));
  CheckLevelView(*this, view, "multi", "", snap);
  ListCloseWindow(view);
  const std::vector<TRequest> requests = Engine.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests.front().CommandLine, "LIVE");
  EXPECT_EQ(requests.back().CommandLine, "LIVESTOP");
}

TEST_F(TLister, AudioViewShowsItsLevelHistory) {
  HWND view = Open("audio", 145000000, 20000, "145 MHz  NFM", "ENVELOPE");
  ASSERT_NE(view, nullptr);
  // The one reply with levels carried 300 for the view's own lane; later replies carried none.
  TLiveSnapshot snap;
  TTalvLaneArray lanes;
  int64_t seq = 0;
  ASSERT_TRUE(ParseEnvelopeReply(EnvelopeReply(true), 0, lanes, seq, snap.Playing, snap.LevelRate));
  snap.Levels = lanes[0].Levels;
  CheckLevelView(*this, view, "audio", "145 MHz  NFM", snap);
  ListCloseWindow(view);
}

}  // namespace
