// Watching a process by its id: this very process runs, an id without a process cannot be opened.
// (A process that ends while watched is followed by the service's client watch tests.)
#include "pProcWatch.h"

#include <gtest/gtest.h>

#include "pSystem.h"

namespace {

TEST(ProcWatch, ARunningProcessHasNotEnded) {
  int error = -1;
  std::unique_ptr<plat::TProcWatch> self = plat::TProcWatch::Open(plat::CurrentProcessId(), &error);
  ASSERT_TRUE(self);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(self->Pid(), plat::CurrentProcessId());
  EXPECT_FALSE(self->Ended());
  EXPECT_FALSE(self->Ended());  // asking never waits and changes nothing
}

TEST(ProcWatch, AnIdWithoutAProcessCannotBeOpened) {
  int error = 0;
  EXPECT_FALSE(plat::TProcWatch::Open(0x7ffffff0u, &error));
  EXPECT_NE(error, 0);
  EXPECT_FALSE(plat::TProcWatch::Open(0, &error));
}

}  // namespace
