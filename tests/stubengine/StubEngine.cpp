// A stand-in for the engine program in the plug-in client's start tests. It writes how it was started
// to the file named by TALV_STUB_RECORD, one key=value a line (command line, arguments, working folder,
// hidden, console window, own session), then:
// Every start also appends one line to the file named by TALV_STUB_STARTS (so a test can count starts).
// - TALV_STUB_MODE "serve" (the default): serves the pipe named by TALV_STUB_PIPE, answering every
//   request "OK" and "Stub=1" and ending on QUIT, or after 30 s without a request;
// - "silent": never opens the pipe and ends after 5 s.
#include <atomic>
#include <string>
#include <vector>

#include "pBinFile.h"
#include "pFile.h"
#include "pFs.h"
#include "pLaunch.h"
#include "pPipe.h"
#include "pSystem.h"
#include "pThread.h"
#include "uTalvProto.h"

namespace {

void WriteRecord(const std::string& path, const std::vector<std::string>& args) {
  if (path.empty()) return;
  plat::TStartState s = plat::ThisProcessStartState();
  std::string text = "cmdline=" + plat::RawCommandLine() + "\n";
  std::string joined;
  for (size_t i = 1; i < args.size(); ++i) joined += (i > 1 ? " " : "") + args[i];
  text += "args=" + joined + "\n";
  text += "cwd=" + plat::CurrentFolder() + "\n";
  text += std::string("hidden=") + (s.Hidden ? "1" : "0") + "\n";
  text += std::string("console=") + (s.HasConsoleWindow ? "1" : "0") + "\n";
  text += "session=" + std::to_string(s.SessionId) + "\n";
  // Written under a temporary name and moved, so a reader never sees half a record.
  std::string temp = path + ".part";
  plat::TBinFile f;
  if (!f.Create(temp)) return;
  f.Write(text.data(), text.size());
  f.Close();
  plat::MoveFileNoReplace(temp, path);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = plat::CommandLineArgs(argc, argv);
  std::string starts = plat::GetEnv("TALV_STUB_STARTS");
  if (!starts.empty()) {
    plat::TAppendFile log;
    std::string line = "start " + std::to_string(plat::CurrentProcessId()) + "\n";
    if (log.Open(starts)) log.Write(line.data(), line.size());
  }
  WriteRecord(plat::GetEnv("TALV_STUB_RECORD"), args);
  if (plat::GetEnv("TALV_STUB_MODE") == "silent") {
    plat::SleepMs(5000);
    return 0;
  }
  plat::TPipeServer server(plat::GetEnv("TALV_STUB_PIPE"));
  if (!server.Open()) return 3;
  std::atomic<uint64_t> lastRequest{plat::TickMs()};
  std::atomic<bool> done{false};
  plat::TThread idle;
  idle.Start([&] {
    while (!done.load()) {
      if (plat::TickMs() - lastRequest.load() > 30000) server.Stop();
      plat::SleepMs(100);
    }
  });
  server.Serve([&](plat::TPipeConn& conn) {
    TRequest request;
    if (ReadRequest(conn, request) != TReadState::Complete) return;
    lastRequest = plat::TickMs();
    if (CommandWord(request.CommandLine) == proto::kQuit) {
      server.Stop();
      return;
    }
    WriteReply(conn, {"OK", "Stub=1"});
  });
  done = true;
  idle.Join();
  server.WaitConnections(5000);
  return 0;
}
