#include "uSessionThread.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "pSystem.h"
#include "uExceptText.h"

namespace {
class TLoopSession : public TSessionThread {
 public:
  ~TLoopSession() override { StopAndWait(); }
  std::atomic<int> Rounds{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++Rounds;
      plat::SleepMs(1);
    }
  }
};

class TThrowingSession : public TSessionThread {
 protected:
  void Execute() override { throw std::runtime_error("receiver vanished"); }
};
}  // namespace

TEST(SessionThread, RunsOnlyAfterStartAndEndsOnTerminate) {
  TLoopSession s;
  EXPECT_TRUE(s.Finished());  // never started: nothing to wait for
  plat::SleepMs(5);
  EXPECT_EQ(s.Rounds.load(), 0);
  ASSERT_TRUE(s.Start());
  EXPECT_FALSE(s.Start());
  while (s.Rounds.load() < 3) plat::SleepMs(1);
  EXPECT_FALSE(s.Finished());
  s.Terminate();
  s.WaitFor();
  EXPECT_TRUE(s.Finished());
  EXPECT_EQ(s.LastError(), "");
}

TEST(SessionThread, EscapingExceptionIsKeptAsTheErrorAndFinishes) {
  TThrowingSession s;
  ASSERT_TRUE(s.Start());
  s.WaitFor();
  EXPECT_TRUE(s.Finished());
  EXPECT_EQ(s.LastError(), "std::runtime_error: receiver vanished");
}

TEST(ExceptionText, NamesTheDynamicClass) {
  std::out_of_range e("index 7");
  const std::exception& base = e;
  EXPECT_EQ(ExceptionClassName(base), "std::out_of_range");
  EXPECT_EQ(ExceptionText(base), "std::out_of_range: index 7");
}
