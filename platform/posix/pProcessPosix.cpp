#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "pProcess.h"
#include "pSystem.h"

extern char** environ;

namespace plat {

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& extraEnv,
                          uint32_t timeoutMs, const std::string& workDir) {
  TProcessResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    result.Error = std::strerror(errno);
    return result;
  }
  // The extra variables replace inherited ones of the same name.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& [k, v] : extraEnv) replaced = replaced || entry.rfind(k + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [k, v] : extraEnv) env.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string prog = program;
  argv.push_back(prog.data());
  std::vector<std::string> argCopy = args;
  for (auto& a : argCopy) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    result.Error = std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    execve(prog.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(fds[1]);
  result.Started = true;
  uint64_t deadline = TickMs() + timeoutMs;
  char buf[4096];
  for (;;) {
    uint64_t now = TickMs();
    if (now >= deadline) {
      kill(pid, SIGKILL);
      result.TimedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(deadline - now));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    ssize_t n = read(fds[0], buf, sizeof(buf));
    if (n <= 0) break;
    result.Output.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  if (WEXITSTATUS(status) == 127 && result.Output.empty()) result.Error = "cannot run " + program;
  return result;
}

}  // namespace plat
