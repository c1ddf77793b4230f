// The plug-in as the host drives it, against an engine stand-in on the pipe: one whole listing of the
// Channels folder with 1000 channels through the exports (FsFindFirstW, FsFindNextW to the end,
// FsFindClose; goal under 20 ms) and one Status.txt (STATUS and CHANNELS asked, the report built) with
// 1000 and 10000 channels in the user locales C.UTF-8 and de_DE.UTF-8 (goals 5 ms and 50 ms: the
// locale is read once per text, so the German one costs no more than C). No peer library does this
// work; the goals are the measure.
#include <atomic>
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
// where the pipe's socket lies), answering CHANNELS with 1000 channels (or as many as SetChannelCount
// asked for) and STATUS as a running scan.
class TBenchEngine {
 public:
  TBenchEngine() {
    FChannels1000 = talvbench::ChannelsReplyLines(1000);
    FChannels10000 = talvbench::ChannelsReplyLines(10000);
    Ok = FServer.Open() && FLoop.Start([this] {
      FServer.Serve([this](plat::TPipeConn& conn) {
        TRequest request;
        if (ReadRequest(conn, request) != TReadState::Complete) return;
        const std::string word = CommandWord(request.CommandLine);
        if (word == "CHANNELS")
          WriteReply(conn, FMany.load() ? FChannels10000 : FChannels1000);
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
  // 1000 or 10000.
  void SetChannelCount(int count) { FMany = count == 10000; }

 private:
  TTextLines FChannels1000, FChannels10000;
  std::atomic<bool> FMany{false};
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

// The user locale as the environment names it, for one benchmark's length (the program's own C locale
// stays as it is, as in the plug-in's host).
class TUserLocale {
 public:
  explicit TUserLocale(const char* name) : FSaved(plat::GetEnv("LC_ALL")), FHadOne(plat::HasEnv("LC_ALL")) {
    plat::SetEnv("LC_ALL", name);
  }
  ~TUserLocale() {
    if (FHadOne)
      plat::SetEnv("LC_ALL", FSaved);
    else
      plat::UnsetEnv("LC_ALL");
  }

 private:
  std::string FSaved;
  bool FHadOne;
};

void StatusText(benchmark::State& state, int channels, const char* locale, const char* decimalSeparator) {
  if (!BenchEngine().Ok)
    return state.SkipWithError(
        ("the engine stand-in could not open the pipe: " + BenchEngine().Error).c_str());
  TUserLocale user(locale);
  if (plat::UserDecimalSeparator() != decimalSeparator)
    return state.SkipWithError((std::string("the locale ") + locale + " is not installed").c_str());
  BenchEngine().SetChannelCount(channels);
  size_t size = 0;
  for (auto _ : state) {
    const std::string text = BuildStatusText();
    size = text.size();
    benchmark::DoNotOptimize(text);
  }
  BenchEngine().SetChannelCount(1000);
  if (size < static_cast<size_t>(channels) * 70) state.SkipWithError("the channel table is missing");
}

const std::string kListingWork = "plug-in FsFindFirstW..FsFindClose Channels 1000";
const bool kListingFigure = talvbench::AddFigure(kListingWork, "", "us", 20000);

// Status.txt in both locales with both channel counts, each beside its goal.
const bool kStatusBenches = [] {
  struct TCase {
    int Channels;
    const char* Locale;
    const char* Separator;
  };
  for (const TCase c : {TCase{1000, "C.UTF-8", "."}, TCase{10000, "C.UTF-8", "."},
                        TCase{1000, "de_DE.UTF-8", ","}, TCase{10000, "de_DE.UTF-8", ","}}) {
    const std::string work = "plug-in Status.txt " + std::to_string(c.Channels) + " channels " + c.Locale;
    talvbench::AddFigure(work, "", "us", c.Channels == 1000 ? 5000 : 50000);
    benchmark::RegisterBenchmark(talvbench::OursName(work).c_str(), StatusText, c.Channels, c.Locale,
                                 c.Separator)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace

BENCHMARK(ChannelsFolderThroughTheExports)->Name(talvbench::OursName(kListingWork))->UseRealTime();
