// The live view window on Windows: class registration while views are open, the window procedure,
// the back buffer (a DIB section the owner paints into), the view's font by DPI, the texts and the
// final blit.
#include <windows.h>

#include <mutex>

#include "pViewWindow.h"
#include "wDib.h"
#include "wText.h"

namespace plat {

struct TViewWindowAccess {
  static IViewWindowOwner*& Owner(TViewWindow& w) { return w.FOwner; }
  static std::atomic<TWindowHandle>& Handle(TViewWindow& w) { return w.FHandle; }
  static void*& Backend(TViewWindow& w) { return w.FBackend; }
};

namespace {

const wchar_t kClassName[] = L"TalvoranLiveView";

struct TBackend {
  HDC MemDC = nullptr;
  HBITMAP Dib = nullptr;
  HGDIOBJ OldBitmap = nullptr;
  uint32_t* Bits = nullptr;
  int32_t Width = 0, Height = 0;
  HFONT Font = nullptr;
  int32_t FontDpi = 0;
  std::vector<TViewText> LastTexts;
  int Posts = 0;
};

std::mutex gClassLock;
int gOpen = 0;
bool gRegistered = false;

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
  return module;
}

TViewWindow* WindowOf(HWND hwnd) {
  return reinterpret_cast<TViewWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}
TBackend* BackendOf(TViewWindow* w) {
  return static_cast<TBackend*>(TViewWindowAccess::Backend(*w));
}

void FreeBackBuffer(TBackend& b) {
  if (b.MemDC) {
    if (b.OldBitmap) SelectObject(b.MemDC, b.OldBitmap);
    DeleteDC(b.MemDC);
  }
  if (b.Dib) DeleteObject(b.Dib);
  b.MemDC = nullptr;
  b.Dib = nullptr;
  b.OldBitmap = nullptr;
  b.Bits = nullptr;
  b.Width = b.Height = 0;
}

void FreeBackend(TViewWindow& w) {
  TBackend* b = BackendOf(&w);
  if (!b) return;
  FreeBackBuffer(*b);
  if (b->Font) DeleteObject(b->Font);
  delete b;
  TViewWindowAccess::Backend(w) = nullptr;
}

bool EnsureBackBuffer(TBackend& b, HDC dc, int32_t w, int32_t h) {
  if (b.Bits && b.Width == w && b.Height == h) return true;
  FreeBackBuffer(b);
  BITMAPINFO bi = TopDownDibInfo(w, h);
  void* bits = nullptr;
  b.Dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  b.MemDC = b.Dib ? CreateCompatibleDC(dc) : nullptr;
  if (!b.Dib || !bits || !b.MemDC) {
    FreeBackBuffer(b);
    return false;
  }
  b.OldBitmap = SelectObject(b.MemDC, b.Dib);
  b.Bits = static_cast<uint32_t*>(bits);
  b.Width = w;
  b.Height = h;
  return true;
}

void MakeViewFont(TBackend& b, int32_t dpi) {
  if (b.Font && b.FontDpi == dpi) return;
  if (b.Font) DeleteObject(b.Font);
  b.FontDpi = dpi;
  b.Font =
      CreateFontW(-MulDiv(11, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI");
}

class TDcMetrics : public IViewTextMetrics {
 public:
  explicit TDcMetrics(HDC dc) : FDc(dc) {}
  int32_t TextWidth(const std::string& text) override {
    const std::wstring w = ToWide(text);
    SIZE size = {};
    if (!GetTextExtentPoint32W(FDc, w.c_str(), static_cast<int>(w.size()), &size)) return 0;
    return size.cx;
  }
  int32_t TextHeight() override {
    TEXTMETRICW tm = {};
    return GetTextMetricsW(FDc, &tm) ? tm.tmHeight : 0;
  }

 private:
  HDC FDc;
};

POINT CursorInView(HWND hwnd) {
  POINT p;
  RECT rc;
  if (GetCursorPos(&p) && WindowFromPoint(p) == hwnd && ScreenToClient(hwnd, &p) &&
      GetClientRect(hwnd, &rc) && p.x >= rc.left && p.x < rc.right && p.y >= rc.top && p.y < rc.bottom)
    return p;
  return POINT{-1, -1};
}

void PaintWindow(HWND hwnd, HDC dc, TViewWindow& w, TBackend& b) {
  IViewWindowOwner* owner = TViewWindowAccess::Owner(w);
  RECT rc;
  if (!owner || !GetClientRect(hwnd, &rc) || rc.right < 1 || rc.bottom < 1) return;
  const int32_t width = rc.right, height = rc.bottom;
  const int32_t dpi = WindowDpi(reinterpret_cast<TWindowHandle>(hwnd));
  MakeViewFont(b, dpi);
  std::vector<uint32_t> direct;  // no back buffer: paint here and copy straight to the window
  const bool buffered = EnsureBackBuffer(b, dc, width, height);
  HDC target = buffered ? b.MemDC : dc;
  if (buffered)
    GdiFlush();
  else
    direct.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  HGDIOBJ oldFont = b.Font ? SelectObject(target, b.Font) : nullptr;
  TDcMetrics metrics(target);
  const POINT cursor = CursorInView(hwnd);
  TViewPaintArgs args;
  args.Pixels = buffered ? b.Bits : direct.data();
  args.Width = width;
  args.Height = height;
  args.Dpi = dpi;
  args.CursorX = cursor.x;
  args.CursorY = cursor.y;
  args.NowMs = GetTickCount64();
  args.Metrics = &metrics;
  owner->PaintView(args);
  if (!buffered) {
    BITMAPINFO bi = TopDownDibInfo(width, height);
    SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, direct.data(), &bi, DIB_RGB_COLORS);
  }
  SetBkMode(target, TRANSPARENT);
  for (const TViewText& t : args.Texts) {
    const std::wstring text = ToWide(t.Text);
    SetTextColor(target, RGB((t.Color >> 16) & 0xFF, (t.Color >> 8) & 0xFF, t.Color & 0xFF));
    TextOutW(target, t.X, t.Y, text.c_str(), static_cast<int>(text.size()));
  }
  if (oldFont) SelectObject(target, oldFont);
  if (buffered) BitBlt(dc, 0, 0, width, height, b.MemDC, 0, 0, SRCCOPY);
  b.LastTexts = std::move(args.Texts);
}

// A window is gone: the class goes with the last one.
void WindowClosed() {
  std::lock_guard<std::mutex> hold(gClassLock);
  if (gOpen > 0) --gOpen;
  if (gOpen == 0 && gRegistered && UnregisterClassW(kClassName, ModuleInstance())) gRegistered = false;
}

LRESULT CALLBACK LiveViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TViewWindow* w = WindowOf(hwnd);
  switch (msg) {
    case WM_SIZE:
    case WM_MOUSEMOVE:
    case kViewRepaintMessage:
      if (w) {
        if (msg == kViewRepaintMessage && BackendOf(w)) ++BackendOf(w)->Posts;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (w && dc && BackendOf(w)) PaintWindow(hwnd, dc, *w, *BackendOf(w));
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY:
      if (w) {
        // Destroyed by the system (its parent closed) with the owner still attached: tell it last.
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        IViewWindowOwner* owner = TViewWindowAccess::Owner(*w);
        TViewWindowAccess::Owner(*w) = nullptr;
        TViewWindowAccess::Handle(*w) = 0;
        FreeBackend(*w);
        {
          // The class cannot go while this window still uses it: the next close, the next open's
          // close or the library's unload (ReleaseLiveViewClass) unregisters it.
          std::lock_guard<std::mutex> hold(gClassLock);
          if (gOpen > 0) --gOpen;
        }
        if (owner) owner->ViewWindowDestroyed();
      }
      return DefWindowProcW(hwnd, msg, wParam, lParam);
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

bool RegisterLiveViewClass() {
  if (gRegistered) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = LiveViewWndProc;
  wc.hInstance = ModuleInstance();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kClassName;
  if (RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) gRegistered = true;
  return gRegistered;
}

}  // namespace

TViewWindow::~TViewWindow() {
  Destroy();
}

bool TViewWindow::Create(TWindowHandle parent, IViewWindowOwner* owner) {
  Destroy();
  {
    std::lock_guard<std::mutex> hold(gClassLock);
    RegisterLiveViewClass();
    ++gOpen;  // counted before the window exists, so no close in between drops the class
  }
  HWND hwnd = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 100, 100,
                              reinterpret_cast<HWND>(parent), nullptr, ModuleInstance(), nullptr);
  if (!hwnd) {
    WindowClosed();
    return false;
  }
  FBackend = new TBackend;
  FOwner = owner;
  FHandle = reinterpret_cast<TWindowHandle>(hwnd);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

void TViewWindow::Destroy() {
  const TWindowHandle h = FHandle.exchange(0);
  FOwner = nullptr;
  if (h == 0) return;
  HWND hwnd = reinterpret_cast<HWND>(h);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);  // no later message reaches this object
  DestroyWindow(hwnd);
  FreeBackend(*this);
  WindowClosed();
}

bool TViewWindow::PostRepaint() {
  const TWindowHandle h = FHandle.load();
  return h != 0 && PostMessageW(reinterpret_cast<HWND>(h), kViewRepaintMessage, 0, 0);
}

bool IsLiveViewWindow(TWindowHandle window) {
  if (window == 0) return false;
  wchar_t name[64] = {};
  if (GetClassNameW(reinterpret_cast<HWND>(window), name, 64) <= 0) return false;
  return lstrcmpW(name, kClassName) == 0;
}

IViewWindowOwner* LiveViewOwner(TWindowHandle window) {
  if (!IsLiveViewWindow(window)) return nullptr;
  TViewWindow* w = WindowOf(reinterpret_cast<HWND>(window));
  return w ? TViewWindowAccess::Owner(*w) : nullptr;
}

int OpenViewWindows() {
  std::lock_guard<std::mutex> hold(gClassLock);
  return gOpen;
}

bool LiveViewClassRegistered() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  return GetClassInfoExW(ModuleInstance(), kClassName, &wc) != 0;
}

void ReleaseLiveViewClass() {
  std::lock_guard<std::mutex> hold(gClassLock);
  if (gOpen == 0 && gRegistered && UnregisterClassW(kClassName, ModuleInstance())) gRegistered = false;
}

int32_t WindowDpi(TWindowHandle window) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const TGetDpiForWindow getDpi = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi && window != 0) {
    const int32_t dpi = static_cast<int32_t>(getDpi(reinterpret_cast<HWND>(window)));
    if (dpi > 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int32_t dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

bool PaintViewNow(TWindowHandle window, int32_t width, int32_t height, std::vector<uint32_t>& pixels,
                  std::vector<TViewText>& texts) {
  if (!IsLiveViewWindow(window) || width < 1 || height < 1) return false;
  HWND hwnd = reinterpret_cast<HWND>(window);
  TViewWindow* w = WindowOf(hwnd);
  if (!w || !BackendOf(w)) return false;
  MoveWindow(hwnd, 0, 0, width, height, FALSE);
  // One paint as WM_PAINT does it, into a picture of our own, so that it works for hidden windows too.
  HDC screen = GetDC(nullptr);
  BITMAPINFO bi = TopDownDibInfo(width, height);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC mem = CreateCompatibleDC(screen);
  bool ok = false;
  if (dib && mem && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    PaintWindow(hwnd, mem, *w, *BackendOf(w));
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    pixels.assign(p, p + static_cast<size_t>(width) * static_cast<size_t>(height));
    SelectObject(mem, old);
    ok = true;
  }
  if (mem) DeleteDC(mem);
  if (dib) DeleteObject(dib);
  if (screen) ReleaseDC(nullptr, screen);
  texts = BackendOf(w)->LastTexts;
  return ok;
}

int ViewRepaintPosts(TWindowHandle window) {
  if (!IsLiveViewWindow(window)) return 0;
  TViewWindow* w = WindowOf(reinterpret_cast<HWND>(window));
  return w && BackendOf(w) ? BackendOf(w)->Posts : 0;
}

void DestroyViewWindowFromSystem(TWindowHandle window) {
  if (IsLiveViewWindow(window)) DestroyWindow(reinterpret_cast<HWND>(window));
}

}  // namespace plat
