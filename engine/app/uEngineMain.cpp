#include "uEngineMain.h"

#include <exception>

#include "pConsole.h"
#include "pConsoleOut.h"
#include "uCliModes.h"
#include "uDemodTest.h"
#include "uEngineSvc.h"
#include "uExceptText.h"
#include "uLog.h"
#include "uOptions.h"
#include "uPathTest.h"
#include "uSelfTest.h"

std::atomic<bool> StopRequested{false};

namespace {
std::atomic<int> gExitCode{0};
}  // namespace

void SetExitCode(int code) {
  gExitCode = code;
}
int ExitCode() {
  return gExitCode.load();
}

// ---------------------------------------------------------------------------------------------
// Usage text

namespace {

const char* const kUsage[] = {
    "talvoran_engine - SDR scan engine for the wfx_talvoran plugin",
    "",
    "Usage:",
    "  talvoran_engine --list",
    "  talvoran_engine --selftest        scan chain, no hardware",
    "  talvoran_engine --selftest-demod  demodulators, no hardware",
    "  talvoran_engine --selftest-record dwell + recording, no hardware",
    "  talvoran_engine --iqstat [--rate=HZ] [--freq=HZ]",
    "                                    raw I/Q health, needs no signal",
    "  talvoran_engine --scan [options]",
    "  talvoran_engine --live --freq=HZ [--mod=NFM] [--seconds=N]",
    "  talvoran_engine --service [--idle=SEC]",
    "",
    "--service is what the Total Commander plugin talks to. It serves",
    "the named pipe \\\\.\\pipe\\wfx_talvoran_v1 and exits after --idle",
    "seconds without contact (default 600, 0 = never) unless a scan",
    "is running.",
    "",
    "Scan options (frequencies accept k/M/G suffixes):",
    "  --sdr=NAME     rtlsdr or hackrf                  (default rtlsdr)",
    "  --device=N     device index                      (default 0)",
    "  --serial=ID    pick a receiver by its id         (default first)",
    "  --lna=DB       HackRF RF stage, 8 dB steps       (default 16)",
    "  --vga=DB       HackRF baseband stage, 2 dB steps (default 20)",
    "  --amp          HackRF 14 dB front-end amplifier",
    "  --bias         HackRF bias tee (3.3 V on the antenna port)",
    "  --start=HZ     range start                       (default 144M)",
    "  --stop=HZ      range stop                        (default 146M)",
    "  --rate=HZ      sample rate per hop               (default 2048k)",
    "  --nfft=N       FFT size, power of two            (default 4096)",
    "  --avg=N        averaged segments per hop         (default 8)",
    "  --snr=DB       detection threshold above noise   (default 12)",
    "  --grid=HZ      channel raster                    (default 12500)",
    "  --gain=DB      tuner gain, -1 = automatic        (default -1)",
    "  --ppm=N        frequency correction              (default 0)",
    "  --sweeps=N     number of sweeps, 0 = until Ctrl+C (default 1)",
    "  --settle=MS    dwell after retune                (default 30)",
    "  --nomerge      report every grid slot above the threshold,",
    "                 not one channel per signal",
    "  --quiet        only print hits, no headers",
    "  --log          write talvoran_engine.log",
    "",
    "Hit lines are tab separated:",
    "  HIT<TAB>channelHz<TAB>peakHz<TAB>snrDb<TAB>powerDb<TAB>noiseDb",
};
static_assert(sizeof(kUsage) / sizeof(kUsage[0]) == 44, "the usage text has 44 lines");

}  // namespace

void PrintUsage() {
  for (const char* line : kUsage) plat::WriteConsoleLine(line);
}

// ---------------------------------------------------------------------------------------------
// Stop handler and exception guard

void ConsoleCtrlHandler() {
  StopRequested = true;
  plat::WriteConsoleLine("");
  plat::WriteConsoleLine("# stopping...");
}

namespace {

void PrintException(const std::string& className, const std::string& message) {
  plat::WriteConsoleLine("# exception: " + className + ": " + message);
  SetExitCode(9);
}

}  // namespace

void RunModeGuarded(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    PrintException(ExceptionClassName(e), e.what());
  } catch (...) {
    // Not derived from std::exception: the thrown type is all there is to tell.
    PrintException(CurrentExceptionClassName(), "exception of a type outside the standard library");
  }
}

// ---------------------------------------------------------------------------------------------
// Mode choice

namespace {

struct TEngineMode {
  const char* Flag;           // option name without dashes
  std::function<void()> Run;  // the mode; sets the exit code itself
};

// The fixed order of the modes: the first flag present wins.
const TEngineMode kModes[] = {
    {"list", [] { RunList(); }},
    {"iqstat", [] { RunIqStat(); }},
    {"selftest-paths",
     [] {
       if (!RunPathTest()) SetExitCode(1);
     }},
    {"selftest-record", [] { RunRecordSelfTest(); }},
    {"selftest-demod", [] { RunDemodSelfTest(); }},
    {"selftest", [] { RunSelfTest(); }},
    {"scan", [] { RunScan(); }},
    {"live", [] { RunLive(); }},
    {"service", [] { RunService(ParseInt(GetOption("idle", ""), 600)); }},
};

void RunChosenMode() {
  for (const TEngineMode& m : kModes) {
    if (HasOption(m.Flag)) {
      m.Run();
      return;
    }
  }
  PrintUsage();
}

}  // namespace

int EngineMain(const std::vector<std::string>& args) {
  SetProgramArgs(args);
  SetExitCode(0);
  if (HasOption("log")) SetLogEnabled(true);
  plat::InstallStopHandler(ConsoleCtrlHandler);
  RunModeGuarded(RunChosenMode);
  CloseLog();
  return ExitCode();
}
