#pragma once
// Runs cases of this test program in a fresh process: for behaviour that holds only until the first
// use in a process (a value read once, state before the first publication). The child cases are
// named DISABLED_ so that a normal run skips them; the parent runs them by name.
#include <string>
#include <utility>
#include <vector>

#include "pProcess.h"
#include "pSystem.h"

namespace scantest {

// Runs the one case `name` ("Suite.DISABLED_Case") of this program with extra environment variables;
// true when it ran and passed. The output is kept in `output` for the failure message.
inline bool RunChildCase(const std::string& name, const std::vector<std::pair<std::string, std::string>>& env,
                         std::string& output) {
  plat::TProcessResult r = plat::RunProcess(
      plat::ProgramPath(), {"--gtest_filter=" + name, "--gtest_also_run_disabled_tests"}, env, 120000);
  output = r.Output + r.Error;
  return r.Started && !r.TimedOut && r.ExitCode == 0 &&
         output.find("[  PASSED  ] 1 test") != std::string::npos;
}

}  // namespace scantest
