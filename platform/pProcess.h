#pragma once
// Running another program and collecting what it prints (standard output and error together),
// as a user at a console would. Arguments are passed one by one, never through a shell.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plat {

struct TProcessResult {
  bool Started = false;   // the program could be started
  bool TimedOut = false;  // it was killed after the time-out
  int ExitCode = -1;
  std::string Output;
  std::string Error;  // why it could not be started
};

// Runs program with args, extra environment variables added to this process's own, in workDir
// (empty: the current folder); waits at most timeoutMs.
TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& extraEnv = {},
                          uint32_t timeoutMs = 60000, const std::string& workDir = "");

}  // namespace plat
