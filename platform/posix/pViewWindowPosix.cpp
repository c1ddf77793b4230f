// The stand-in of the live view window: records instead of windows, so that the views' life cycle
// (open, poll, post, paint, close, destruction by the system) runs in the Linux tests.
#include <map>
#include <mutex>

#include "pSystem.h"
#include "pViewWindow.h"

namespace plat {

struct TViewWindowAccess {
  static IViewWindowOwner*& Owner(TViewWindow& w) { return w.FOwner; }
  static std::atomic<TWindowHandle>& Handle(TViewWindow& w) { return w.FHandle; }
};

namespace {

struct TRecord {
  TViewWindow* Window = nullptr;
  int Posts = 0;
};

std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}
std::map<TWindowHandle, TRecord>& Table() {
  static std::map<TWindowHandle, TRecord> table;
  return table;
}
TWindowHandle gNextHandle = 0x1000;

class TFixedMetrics : public IViewTextMetrics {
 public:
  int32_t TextWidth(const std::string& text) override {
    int32_t n = 0;
    for (unsigned char c : text)
      if ((c & 0xC0) != 0x80) ++n;
    return 7 * n;
  }
  int32_t TextHeight() override { return 13; }
};

}  // namespace

TViewWindow::~TViewWindow() {
  Destroy();
}

bool TViewWindow::Create(TWindowHandle parent, IViewWindowOwner* owner) {
  Destroy();
  if (parent == 0) return false;  // a child needs its parent, as on Windows
  std::lock_guard<std::mutex> hold(TableLock());
  const TWindowHandle h = gNextHandle++;
  Table()[h].Window = this;
  FOwner = owner;
  FHandle = h;
  return true;
}

void TViewWindow::Destroy() {
  const TWindowHandle h = FHandle.exchange(0);
  FOwner = nullptr;
  if (h == 0) return;
  std::lock_guard<std::mutex> hold(TableLock());
  Table().erase(h);
}

bool TViewWindow::PostRepaint() {
  const TWindowHandle h = FHandle.load();
  std::lock_guard<std::mutex> hold(TableLock());
  auto it = Table().find(h);
  if (it == Table().end()) return false;
  ++it->second.Posts;
  return true;
}

bool IsLiveViewWindow(TWindowHandle window) {
  std::lock_guard<std::mutex> hold(TableLock());
  return window != 0 && Table().count(window) != 0;
}

IViewWindowOwner* LiveViewOwner(TWindowHandle window) {
  std::lock_guard<std::mutex> hold(TableLock());
  auto it = Table().find(window);
  return it == Table().end() ? nullptr : TViewWindowAccess::Owner(*it->second.Window);
}

int OpenViewWindows() {
  std::lock_guard<std::mutex> hold(TableLock());
  return static_cast<int>(Table().size());
}

bool LiveViewClassRegistered() {
  return OpenViewWindows() > 0;
}

void ReleaseLiveViewClass() {}

int32_t WindowDpi(TWindowHandle) {
  return 96;
}

bool PaintViewNow(TWindowHandle window, int32_t width, int32_t height, std::vector<uint32_t>& pixels,
                  std::vector<TViewText>& texts) {
  IViewWindowOwner* owner = LiveViewOwner(window);
  if (!owner || width < 1 || height < 1) return false;
  pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  TFixedMetrics metrics;
  TViewPaintArgs args;
  args.Pixels = pixels.data();
  args.Width = width;
  args.Height = height;
  args.Dpi = 96;
  args.NowMs = TickMs();
  args.Metrics = &metrics;
  owner->PaintView(args);
  texts = std::move(args.Texts);
  return true;
}

int ViewRepaintPosts(TWindowHandle window) {
  std::lock_guard<std::mutex> hold(TableLock());
  auto it = Table().find(window);
  return it == Table().end() ? 0 : it->second.Posts;
}

void DestroyViewWindowFromSystem(TWindowHandle window) {
  IViewWindowOwner* owner = nullptr;
  {
    std::lock_guard<std::mutex> hold(TableLock());
    auto it = Table().find(window);
    if (it == Table().end()) return;
    TViewWindow& w = *it->second.Window;
    owner = TViewWindowAccess::Owner(w);
    TViewWindowAccess::Owner(w) = nullptr;
    TViewWindowAccess::Handle(w) = 0;
    Table().erase(it);
  }
  if (owner) owner->ViewWindowDestroyed();
}

}  // namespace plat
