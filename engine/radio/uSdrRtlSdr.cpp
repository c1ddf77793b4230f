#include "uSdrRtlSdr.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "pDynLib.h"
#include "uLog.h"
#include "uSdrLibrary.h"
#include "uTalvConfig.h"

namespace {

struct TRtlBinding {
  std::mutex Lock;
  plat::TDynLib Lib = nullptr;
  bool Attempted = false;
  std::string LoadError;
  std::string FolderOverride;

  TRtlGetDeviceCount GetDeviceCount = nullptr;
  TRtlGetDeviceName GetDeviceName = nullptr;
  TRtlGetDeviceUsbStrings GetDeviceUsbStrings = nullptr;
  TRtlOpen Open = nullptr;
  TRtlClose Close = nullptr;
  TRtlSetCenterFreq SetCenterFreq = nullptr;
  TRtlGetCenterFreq GetCenterFreq = nullptr;
  TRtlSetSampleRate SetSampleRate = nullptr;
  TRtlGetSampleRate GetSampleRate = nullptr;
  TRtlSetTunerGainMode SetTunerGainMode = nullptr;
  TRtlSetTunerGain SetTunerGain = nullptr;
  TRtlGetTunerGains GetTunerGains = nullptr;
  TRtlSetAgcMode SetAgcMode = nullptr;
  TRtlSetFreqCorrection SetFreqCorrection = nullptr;
  TRtlSetTunerBandwidth SetTunerBandwidth = nullptr;
  TRtlResetBuffer ResetBuffer = nullptr;
  TRtlReadSync ReadSync = nullptr;
  TRtlReadAsync ReadAsync = nullptr;
  TRtlCancelAsync CancelAsync = nullptr;

  // Export names in binding order, with the slot each one fills.
  template <typename TVisit>
  void ForEachExport(TVisit visit) {
    visit("rtlsdr_get_device_count", GetDeviceCount);
    visit("rtlsdr_get_device_name", GetDeviceName);
    visit("rtlsdr_get_device_usb_strings", GetDeviceUsbStrings);
    visit("rtlsdr_open", Open);
    visit("rtlsdr_close", Close);
    visit("rtlsdr_set_center_freq", SetCenterFreq);
    visit("rtlsdr_get_center_freq", GetCenterFreq);
    visit("rtlsdr_set_sample_rate", SetSampleRate);
    visit("rtlsdr_get_sample_rate", GetSampleRate);
    visit("rtlsdr_set_tuner_gain_mode", SetTunerGainMode);
    visit("rtlsdr_set_tuner_gain", SetTunerGain);
    visit("rtlsdr_get_tuner_gains", GetTunerGains);
    visit("rtlsdr_set_agc_mode", SetAgcMode);
    visit("rtlsdr_set_freq_correction", SetFreqCorrection);
    visit("rtlsdr_set_tuner_bandwidth", SetTunerBandwidth);
    visit("rtlsdr_reset_buffer", ResetBuffer);
    visit("rtlsdr_read_sync", ReadSync);
    visit("rtlsdr_read_async", ReadAsync);
    visit("rtlsdr_cancel_async", CancelAsync);
  }

  void Bind() {
    ForEachExport([this](const char* name, auto& fn) { plat::BindDynLib(Lib, name, fn); });
  }

  void Unbind() {
    ForEachExport([](const char*, auto& fn) { fn = nullptr; });
  }
};

TRtlBinding& Rtl() {
  static TRtlBinding binding;
  return binding;
}

}  // namespace

const char* RtlSdrLibraryName() {
  static const std::string name = SdrLibraryFileNames("rtlsdr").front();
  return name.c_str();
}

void LoadRtlSdrLibrary() {
  TRtlBinding& b = Rtl();
  std::lock_guard<std::mutex> guard(b.Lock);
  if (b.Attempted) return;
  b.Attempted = true;

  // The program's folder (or the one a test named) first, then the system's search.
  b.Lib = LoadSdrLibrary("rtlsdr", b.FolderOverride, b.LoadError);
  if (!b.Lib) {
    LogFmt("rtlsdr: %s", b.LoadError.c_str());
    return;
  }

  b.Bind();
  if (!b.Open || !b.ReadSync) {
    b.LoadError = std::string(RtlSdrLibraryName()) + " loaded but required exports are missing";
    b.Unbind();
    plat::FreeDynLib(b.Lib);
    b.Lib = nullptr;
    LogFmt("rtlsdr: %s", b.LoadError.c_str());
    return;
  }
  b.LoadError.clear();
  LogFmt("rtlsdr: library loaded");
}

std::vector<std::string> RtlSdrMissingExports() {
  LoadRtlSdrLibrary();
  return UnboundSdrExports(Rtl());
}

bool RtlSdrAvailable() {
  LoadRtlSdrLibrary();
  std::lock_guard<std::mutex> guard(Rtl().Lock);
  return Rtl().Lib != nullptr;
}

std::string RtlSdrLoadError() {
  LoadRtlSdrLibrary();
  std::lock_guard<std::mutex> guard(Rtl().Lock);
  return Rtl().LoadError;
}

void ResetRtlSdrLibrary(const std::string& folder) {
  TRtlBinding& b = Rtl();
  std::lock_guard<std::mutex> guard(b.Lock);
  b.Unbind();
  if (b.Lib) plat::FreeDynLib(b.Lib);
  b.Lib = nullptr;
  b.Attempted = false;
  b.LoadError.clear();
  b.FolderOverride = folder;
}

TSdrDeviceInfoArray EnumerateRtlSdr() {
  TSdrDeviceInfoArray list;
  if (!RtlSdrAvailable()) return list;
  TRtlBinding& b = Rtl();
  if (!b.GetDeviceCount) return list;
  uint32_t count = b.GetDeviceCount();
  for (uint32_t i = 0; i < count; ++i) {
    TSdrDeviceInfo info;
    info.Index = int32_t(i);
    info.Kind = skRtlSdr;
    if (b.GetDeviceName) {
      const char* name = b.GetDeviceName(i);
      if (name) info.Name = name;
    }
    if (info.Name.empty()) info.Name = "RTL-SDR";
    if (b.GetDeviceUsbStrings) {
      // The library fills at most 256 bytes per text; one more keeps the serial terminated.
      char manufacturer[257] = {}, product[257] = {}, serial[257] = {};
      if (b.GetDeviceUsbStrings(i, manufacturer, product, serial) == 0) info.Serial = serial;
    }
    list.push_back(std::move(info));
  }
  return list;
}

// ---------------------------------------------------------------------------------------------------

TRtlSdrDevice::TRtlSdrDevice() = default;

TRtlSdrDevice::~TRtlSdrDevice() {
  Close();
}

bool TRtlSdrDevice::Fail(const std::string& text) {
  FLastError = text;
  LogFmt("rtlsdr: ERROR %s", text.c_str());
  return false;
}

std::string TRtlSdrDevice::GetName() {
  std::string name = FName.empty() ? std::string("RTL-SDR") : FName;
  if (!FSerial.empty()) name += " [" + FSerial + "]";
  return name;
}

bool TRtlSdrDevice::Open(int32_t index) {
  Close();
  if (!RtlSdrAvailable()) return Fail(RtlSdrLoadError());
  TSdrDeviceInfoArray list = EnumerateRtlSdr();
  if (list.empty()) return Fail("no RTL-SDR device found");
  if (index < 0 || size_t(index) >= list.size())
    return Fail(FormatText("device index %d out of range (%d present)", int(index), int(list.size())));
  FName = list[size_t(index)].Name;
  FSerial = list[size_t(index)].Serial;

  TRtlBinding& b = Rtl();
  rtlsdr_dev_t* dev = nullptr;
  int status = b.Open(&dev, uint32_t(index));
  if (status == 0 && dev) {
    FDev = dev;
    FIndex = index;
    if (b.SetAgcMode) b.SetAgcMode(FDev, 0);  // the chip's digital AGC off
    LogFmt("rtlsdr: opened device %d (%s)", int(index), GetName().c_str());
    return true;
  }
  FDev = nullptr;
  return Fail(FormatText("rtlsdr_open failed (%d) - is the WinUSB driver installed?", status));
}

void TRtlSdrDevice::Close() {
  StopAsync();
  if (FDev) {
    if (Rtl().Close) Rtl().Close(FDev);
    FDev = nullptr;
    LogFmt("rtlsdr: closed");
  }
  FIndex = -1;
}

void TRtlSdrDevice::GetLimits(TSdrLimits& limits) {
  limits.MinHz = 24000000;
  limits.MaxHz = 1766000000;
  limits.MinRate = 225001;
  limits.MaxRate = 2560000;
}

bool TRtlSdrDevice::SetCenterFreq(int64_t hz) {
  TRtlBinding& b = Rtl();
  if (!FDev || !b.SetCenterFreq) return Fail("not open");
  // The library takes 32 bits unsigned: a value outside would tune somewhere else entirely.
  if (hz < 0 || hz > int64_t(UINT32_MAX))
    return Fail(FormatText("set_center_freq(%lld) refused: outside 0 .. 4294967295 Hz", (long long)hz));
  int status = b.SetCenterFreq(FDev, uint32_t(hz));
  if (status != 0) return Fail(FormatText("set_center_freq(%lld) failed (%d)", (long long)hz, status));
  FCenterHz = hz;
  return true;
}

int64_t TRtlSdrDevice::GetCenterFreq() {
  if (FDev && Rtl().GetCenterFreq) return int64_t(Rtl().GetCenterFreq(FDev));
  return FCenterHz;
}

bool TRtlSdrDevice::SetSampleRate(double samplesPerSecond) {
  TRtlBinding& b = Rtl();
  if (!FDev || !b.SetSampleRate) return Fail("not open");
  double rate = samplesPerSecond;
  if (!(rate >= 225001)) rate = 225001;  // also NaN
  if (rate > 2560000) rate = 2560000;
  int status = b.SetSampleRate(FDev, uint32_t(std::llround(rate)));
  if (status != 0) return Fail(FormatText("set_sample_rate(%.0f) failed (%d)", rate, status));
  FSampleRate = b.GetSampleRate ? double(b.GetSampleRate(FDev)) : rate;
  if (b.SetTunerBandwidth) b.SetTunerBandwidth(FDev, uint32_t(std::llround(FSampleRate)));
  return true;
}

double TRtlSdrDevice::GetSampleRate() {
  if (FDev && Rtl().GetSampleRate) return double(Rtl().GetSampleRate(FDev));
  return FSampleRate;
}

bool TRtlSdrDevice::SetGain(double db) {
  TRtlBinding& b = Rtl();
  if (!FDev) return Fail("not open");
  if (db >= 0) {
    if (b.SetTunerGainMode) b.SetTunerGainMode(FDev, 1);
    int target = int(std::lround(db * 10));
    int chosen = target;
    if (b.GetTunerGains) {
      int n = b.GetTunerGains(FDev, nullptr);
      if (n >= 1) {
        std::vector<int> gains(size_t(n), 0);
        int got = b.GetTunerGains(FDev, gains.data());
        if (got >= 1 && got <= n) gains.resize(size_t(got));
        chosen = gains[0];
        for (int g : gains)
          if (std::abs(g - target) < std::abs(chosen - target)) chosen = g;
      }
    }
    if (b.SetTunerGain) b.SetTunerGain(FDev, chosen);
  } else {
    if (b.SetTunerGainMode) b.SetTunerGainMode(FDev, 0);
  }
  return true;
}

bool TRtlSdrDevice::SetFreqCorrection(int32_t ppm) {
  if (!FDev || !Rtl().SetFreqCorrection) return false;
  Rtl().SetFreqCorrection(FDev, ppm);  // the library refuses an unchanged value: not a failure
  return true;
}

bool TRtlSdrDevice::ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) {
  bytesRead = 0;
  if (!FDev || !Rtl().ReadSync) return Fail("not open");
  if (!buffer) return false;
  int32_t total = 0;
  while (total < count) {
    int got = 0;
    int status = Rtl().ReadSync(FDev, buffer + total, count - total, &got);
    if (status != 0) {
      bytesRead = total;
      return Fail(FormatText("read_sync failed (%d)", status));
    }
    if (got < 1) break;
    total += std::min<int32_t>(got, count - total);
  }
  bytesRead = total;
  return total > 0;
}

bool TRtlSdrDevice::ResetBuffer() {
  if (!FDev || !Rtl().ResetBuffer) return false;
  return Rtl().ResetBuffer(FDev) == 0;
}

// ---------------------------------------------------------------------------------------------------
// Callback streaming: the library's asynchronous read runs on a thread of its own until cancelled.

void TALV_SDR_CALL TRtlSdrDevice::AsyncTrampoline(unsigned char* buf, uint32_t len, void* ctx) {
  auto* self = static_cast<TRtlSdrDevice*>(ctx);
  TSdrSampleCallback callback = self->FCallback.load(std::memory_order_acquire);
  if (callback) callback(buf, len, self->FUserData.load(std::memory_order_acquire));
}

void TRtlSdrDevice::AsyncExecute(rtlsdr_dev_t* dev) {
  LogFmt("rtlsdr: async read starting");
  if (TRtlReadAsync readAsync = Rtl().ReadAsync)
    readAsync(dev, &TRtlSdrDevice::AsyncTrampoline, this, 16, 16384);
  LogFmt("rtlsdr: async read returned");
}

bool TRtlSdrDevice::StartAsync(TSdrSampleCallback callback, void* userData) {
  if (!FDev) return Fail("not open");
  if (FStreaming) return true;
  if (!Rtl().ReadAsync) return Fail("rtlsdr_read_async missing");
  FUserData.store(userData, std::memory_order_release);
  FCallback.store(callback, std::memory_order_release);
  ResetBuffer();
  auto thread = std::make_unique<plat::TThread>();
  rtlsdr_dev_t* dev = FDev;
  if (!thread->Start([this, dev] { AsyncExecute(dev); })) {
    FCallback.store(nullptr);
    FUserData.store(nullptr);
    return Fail("cannot start the streaming thread");
  }
  FAsyncThread = std::move(thread);
  FStreaming = true;
  return true;
}

void TRtlSdrDevice::StopAsync() {
  if (!FStreaming) return;
  FStreaming = false;
  if (Rtl().CancelAsync && FDev) Rtl().CancelAsync(FDev);
  if (FAsyncThread) {
    FAsyncThread->Join();
    FAsyncThread.reset();
  }
  FCallback.store(nullptr, std::memory_order_release);
  FUserData.store(nullptr, std::memory_order_release);
}
