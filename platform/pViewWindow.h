#pragma once
// The live view's window: a child window of the class "TalvoranLiveView" whose picture is painted by
// portable code. On each paint the window hands its owner a back buffer of the client's size (32-bit
// pixels, top-down, blue in the low byte), the DPI, the cursor and the tick count, and a way to measure
// texts in its font; the owner fills the pixels and lists its texts, which the window then draws on
// top (transparent, "Segoe UI" at 11 points scaled by the DPI) before one blit to the screen. So the
// system only presents: every other pixel comes from the owner.
//
// The class is registered when the first view opens and unregistered when the last one closes, so no
// class outlives the library. Destroy detaches the owner before the window goes, so no later message
// reaches it. A window destroyed by the system instead (its parent closing) tells its owner once,
// through ViewWindowDestroyed, and the owner frees itself there.
//
// Threads: Create, Destroy and painting run on the thread that owns the window; PostRepaint may be
// called from any thread (the poll thread's only way to the window). The Linux backend is a stand-in
// that keeps window records, counts repaint posts and paints on request (PaintViewNow), with texts
// measured as 7 x 13 pixels per character, so the views' life cycle is tested on every build.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

using TWindowHandle = uintptr_t;  // 0: none (the same type as pWindow.h's)

constexpr const char* kLiveViewClass = "TalvoranLiveView";
constexpr uint32_t kViewRepaintMessage = 0x8011;  // WM_APP + 17

// One text over the picture: top-left corner, colour (red in bits 16-23, green 8-15, blue 0-7), UTF-8.
struct TViewText {
  int32_t X = 0, Y = 0;
  uint32_t Color = 0;
  std::string Text;
};

class IViewTextMetrics {
 public:
  virtual ~IViewTextMetrics() = default;
  virtual int32_t TextWidth(const std::string& utf8) = 0;
  virtual int32_t TextHeight() = 0;
};

struct TViewPaintArgs {
  uint32_t* Pixels = nullptr;  // Width x Height, rows top to bottom
  int32_t Width = 0, Height = 0;
  int32_t Dpi = 96;
  int32_t CursorX = -1, CursorY = -1;  // in client coordinates; -1, -1 when the cursor is elsewhere
  uint64_t NowMs = 0;
  IViewTextMetrics* Metrics = nullptr;
  std::vector<TViewText> Texts;  // filled by the owner, drawn in order after the pixels
};

class IViewWindowOwner {
 public:
  virtual ~IViewWindowOwner() = default;
  // Window thread, on every paint.
  virtual void PaintView(TViewPaintArgs& args) = 0;
  // The system destroyed the window while this owner was attached; it is the owner's last call.
  virtual void ViewWindowDestroyed() = 0;
};

class TViewWindow {
 public:
  TViewWindow() = default;
  ~TViewWindow();
  TViewWindow(const TViewWindow&) = delete;
  TViewWindow& operator=(const TViewWindow&) = delete;

  // A visible child of parent at 0, 0, 100 x 100 (the host sizes it later); false when the system
  // refuses. The owner must outlive the window or be detached by Destroy.
  bool Create(TWindowHandle parent, IViewWindowOwner* owner);
  TWindowHandle Handle() const { return FHandle.load(); }
  // Detaches the owner and destroys the window (nothing when there is none).
  void Destroy();
  // Asks for a repaint through the window's queue; false when there is no window or the post failed.
  bool PostRepaint();

 private:
  friend struct TViewWindowAccess;
  std::atomic<TWindowHandle> FHandle{0};
  IViewWindowOwner* FOwner = nullptr;
  void* FBackend = nullptr;  // backend data: back buffer, font
};

// The window is one of the live view windows of this process (its class name, compared exactly).
bool IsLiveViewWindow(TWindowHandle window);
// The owner attached to a live view window, or null.
IViewWindowOwner* LiveViewOwner(TWindowHandle window);
// Live view windows open now; the class is registered exactly while this is above 0.
int OpenViewWindows();
bool LiveViewClassRegistered();
// Unregisters the class when no view is open and it is still registered (a view destroyed by the
// system cannot unregister it while it is being destroyed); the library calls it when it unloads.
void ReleaseLiveViewClass();
// The DPI of the window's monitor: the system's per-window DPI where it has one, else the screen's,
// else 96.
int32_t WindowDpi(TWindowHandle window);

// Test aids. Sizes the window to width x height and paints it now, as a WM_PAINT would, into pixels
// (visible or not), and returns the owner's texts; false when it is no live view window.
bool PaintViewNow(TWindowHandle window, int32_t width, int32_t height, std::vector<uint32_t>& pixels,
                  std::vector<TViewText>& texts);
// Repaint posts the window has received (the stand-in counts them; Windows counts those dispatched).
int ViewRepaintPosts(TWindowHandle window);
// Destroys the window the way the system does when its parent closes (the owner is told).
void DestroyViewWindowFromSystem(TWindowHandle window);

}  // namespace plat
