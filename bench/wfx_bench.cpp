// The plug-in as the host drives it, against an engine stand-in on the pipe that answers 1000
// channels: one whole listing of the Channels folder through the exports (FsFindFirstW, FsFindNextW to
// the end, FsFindClose; goal under 20 ms) and one Status.txt (STATUS and CHANNELS asked, the report
// built; goal under 50 ms). No peer library does this work; the goals are the measure.
#include <string>

#include "BenchSupport.h"
#include "pDynLib.h"
#include "pFs.h"
#include "pPipe.h"
#include "pSystem.h"
#include "pText.h"
#include "pThread.h"
#include "uEngineState.h"
#include "uTalvProto.h"

namespace {

// An engine stand-in on the shipped pipe name (scripts/bench.sh gives the run a private runtime folder,
// where the pipe's socket lies), answering CHANNELS with 1000 channels and STATUS as a running scan.
class TBenchEngine {
 public:
  TBenchEngine() {
    FChannels = talvbench::ChannelsReplyLines(1000);
    Ok = FServer.Open() && FLoop.Start([this] {
      FServer.Serve([this](plat::TPipeConn& conn) {
        TRequest request;
        if (ReadRequest(conn, request) != TReadState::Complete) return;
        const std::string word = CommandWord(request.CommandLine);
        if (word == "CHANNELS")
          WriteReply(conn, FChannels);
        else if (word == "STATUS")
          WriteReply(conn, {"OK", "Running=1", "EnginePid=1", "Simd=SSE2", "Device=bench", "Sweeps=9",
                            "HopIndex=1", "HopCount=2", "NoiseDb=-60.0", "Live=0"});
        else
          WriteReply(conn, {"OK"});
      });
    });
    if (!Ok) Error = FServer.LastError();
  }
  std::string Error;
  ~TBenchEngine() {
    FServer.Stop();
    FLoop.Join();
  }
  bool Ok = false;

 private:
  TTextLines FChannels;
  plat::TPipeServer FServer{plat::kPipeName};
  plat::TThread FLoop;
};

TBenchEngine& BenchEngine() {
  static TBenchEngine engine;
  return engine;
}

// The exports the listing uses (Linux ABI: plain C calls, char16_t paths with "/").
struct TFindDataW {
  uint32_t Attributes;
  uint32_t Times[6];
  uint32_t SizeHigh, SizeLow, Reserved0, Reserved1;
  char16_t Name[260];
  char16_t ShortName[14];
};
using TInitW = int (*)(int, void*, void*, void*);
using TFindFirstW = void* (*)(const char16_t*, TFindDataW*);
using TFindNextW = int (*)(void*, TFindDataW*);
using TFindClose = int (*)(void*);

void ChannelsFolderThroughTheExports(benchmark::State& state) {
  if (!BenchEngine().Ok)
    return state.SkipWithError(
        ("the engine stand-in could not open the pipe: " + BenchEngine().Error).c_str());
  plat::TDynLib lib = plat::LoadDynLib(plat::ModuleDir() + "wfx_talvoran.wfx");
  TInitW init = nullptr;
  TFindFirstW first = nullptr;
  TFindNextW next = nullptr;
  TFindClose close = nullptr;
  if (!lib || !plat::BindDynLib(lib, "FsInitW", init) || !plat::BindDynLib(lib, "FsFindFirstW", first) ||
      !plat::BindDynLib(lib, "FsFindNextW", next) || !plat::BindDynLib(lib, "FsFindClose", close))
    return state.SkipWithError("wfx_talvoran.wfx is not beside the benchmark");
  init(1, nullptr, nullptr, nullptr);
  const std::u16string path = u"/Channels";
  int64_t listed = 0;
  for (auto _ : state) {
    TFindDataW fd;
    void* h = first(path.c_str(), &fd);
    listed = 0;
    if (h != reinterpret_cast<void*>(intptr_t(-1))) {
      do ++listed;
      while (next(h, &fd));
      close(h);
    }
  }
  plat::FreeDynLib(lib);
  if (listed != 1000) state.SkipWithError("not every channel was listed");
}

void StatusTextWith1000Channels(benchmark::State& state) {
  if (!BenchEngine().Ok)
    return state.SkipWithError(
        ("the engine stand-in could not open the pipe: " + BenchEngine().Error).c_str());
  size_t size = 0;
  for (auto _ : state) {
    const std::string text = BuildStatusText();
    size = text.size();
    benchmark::DoNotOptimize(text);
  }
  if (size < 1000 * 70) state.SkipWithError("the channel table is missing");
}

const std::string kListingWork = "plug-in FsFindFirstW..FsFindClose Channels 1000";
const std::string kStatusWork = "plug-in Status.txt with 1000 channels";
const bool kListingFigure = talvbench::AddFigure(kListingWork, "", "us", 20000);
const bool kStatusFigure = talvbench::AddFigure(kStatusWork, "", "us", 50000);

}  // namespace

BENCHMARK(ChannelsFolderThroughTheExports)->Name(talvbench::OursName(kListingWork))->UseRealTime();
BENCHMARK(StatusTextWith1000Channels)->Name(talvbench::OursName(kStatusWork))->UseRealTime();
