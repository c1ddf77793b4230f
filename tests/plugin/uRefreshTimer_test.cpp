#include "uRefreshTimer.h"

#include <gtest/gtest.h>

#include <thread>

#include "pWindow.h"

namespace {

// The stand-in fires each timer once per pump; Windows needs a real second to pass.
constexpr uint32_t kPumpMs = 1300;

// A hidden host main window for one test, and the refresh state reset around it.
class THostWindow {
 public:
  explicit THostWindow(const char* cls = kHostWindowClass) {
    StopRefreshTimer();
    ForgetTcWindow();
    Window = plat::CreateHiddenWindow(cls);
  }
  ~THostWindow() {
    StopRefreshTimer();
    plat::PumpThreadMessages(0);
    ForgetTcWindow();
    if (Window) plat::DestroyHiddenWindow(Window);
  }
  int Refreshes() const { return plat::HiddenWindowPosts(Window, kRefreshMessage, kRefreshWParam); }
  plat::TWindowHandle Window = 0;
};

}  // namespace

TEST(PanelRefresh, TicksPostTheRefreshToTheHostWindow) {
  THostWindow host;
  ASSERT_NE(host.Window, 0u);
  EXPECT_EQ(FindTcWindow(), host.Window);
  SetRefreshTimer(true, 1);
  EXPECT_EQ(RefreshTimerPeriod(), 1);
  EXPECT_EQ(plat::ThreadTimerCount(), 1);
  plat::PumpThreadMessages(kPumpMs);
  EXPECT_GE(host.Refreshes(), 1);
  EXPECT_EQ(plat::HiddenWindowPosts(host.Window, kRefreshMessage, 0), 0);  // always wParam 540
  // Same period from the same thread: the running timer is kept.
  SetRefreshTimer(true, 1);
  EXPECT_EQ(plat::ThreadTimerCount(), 1);
  SetRefreshTimer(true, 2);
  EXPECT_EQ(RefreshTimerPeriod(), 2);
  EXPECT_EQ(plat::ThreadTimerCount(), 1);
  StopRefreshTimer();
  EXPECT_EQ(RefreshTimerPeriod(), 0);
  EXPECT_EQ(plat::ThreadTimerCount(), 0);
}

TEST(PanelRefresh, OffOrNoScanStartsNothing) {
  THostWindow host;
  SetRefreshTimer(true, 0);
  SetRefreshTimer(true, -5);
  EXPECT_EQ(RefreshTimerPeriod(), 0);
  SetRefreshTimer(true, 5);
  SetRefreshTimer(false, 5);  // a listing without a running scan stops it
  EXPECT_EQ(RefreshTimerPeriod(), 0);
  EXPECT_EQ(plat::ThreadTimerCount(), 0);
}

TEST(PanelRefresh, StoppedFromAnotherThreadTheTickEndsItAndPostsNothing) {
  THostWindow host;
  SetRefreshTimer(true, 1);
  ASSERT_EQ(plat::ThreadTimerCount(), 1);
  std::thread other([] { StopRefreshTimer(); });
  other.join();
  EXPECT_EQ(RefreshTimerPeriod(), 0);
  plat::PumpThreadMessages(kPumpMs);
  EXPECT_EQ(host.Refreshes(), 0);
  EXPECT_EQ(plat::ThreadTimerCount(), 0);  // the orphaned timer killed itself on its own thread
  plat::PumpThreadMessages(kPumpMs);
  EXPECT_EQ(host.Refreshes(), 0);
}

TEST(PanelRefresh, ReplacedFromAnotherThreadOnlyTheNewTimerPosts) {
  THostWindow host;
  SetRefreshTimer(true, 1);
  int otherTicks = -1;
  std::thread other([&] {
    SetRefreshTimer(true, 1);  // the new owner is this thread
    otherTicks = plat::PumpThreadMessages(kPumpMs);
    StopRefreshTimer();
  });
  other.join();
  EXPECT_GE(otherTicks, 1);
  // The window counts what reaches it here; the first thread's timer is no longer current and posts
  // nothing, so every refresh is one of the other thread's ticks.
  plat::PumpThreadMessages(kPumpMs);
  EXPECT_EQ(host.Refreshes(), otherTicks);
  EXPECT_EQ(plat::ThreadTimerCount(), 0);
}

TEST(PanelRefresh, KeptWindowFirstThenASearch) {
  THostWindow host;
  EXPECT_FALSE(RememberTcWindow(0));
  plat::TWindowHandle other = plat::CreateHiddenWindow("SomeOtherHostWindow");
  ASSERT_TRUE(RememberTcWindow(other));
  EXPECT_EQ(FindTcWindow(), other);  // the window the host passed wins over the class search
  SetRefreshTimer(true, 1);
  plat::PumpThreadMessages(kPumpMs);
  EXPECT_GE(plat::HiddenWindowPosts(other, kRefreshMessage, kRefreshWParam), 1);
  EXPECT_EQ(host.Refreshes(), 0);
  plat::DestroyHiddenWindow(other);
  EXPECT_FALSE(RememberTcWindow(other));
  EXPECT_EQ(FindTcWindow(), host.Window);  // a closed window is replaced by a new search
  StopRefreshTimer();
}

TEST(PanelRefresh, NoHostWindowPostsNothingAndKeepsTicking) {
  StopRefreshTimer();
  ForgetTcWindow();
  ASSERT_EQ(FindTcWindow(), 0u);
  SetRefreshTimer(true, 1);
  plat::PumpThreadMessages(kPumpMs);
  EXPECT_EQ(RefreshTimerPeriod(), 1);
  EXPECT_EQ(plat::ThreadTimerCount(), 1);
  StopRefreshTimer();
  EXPECT_EQ(plat::ThreadTimerCount(), 0);
}
