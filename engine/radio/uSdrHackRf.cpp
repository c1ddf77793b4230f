#include "uSdrHackRf.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "pDynLib.h"
#include "uLog.h"
#include "uSdrLibrary.h"
#include "uTalvConfig.h"

namespace {

struct THackRfBinding {
  std::mutex Lock;
  plat::TDynLib Lib = nullptr;
  bool Attempted = false;
  bool Initialised = false;
  std::string LoadError;
  std::string FolderOverride;

  THackRfInit Init = nullptr;
  THackRfExit Exit = nullptr;
  THackRfDeviceListFn DeviceList = nullptr;
  THackRfDeviceListFree DeviceListFree = nullptr;
  THackRfUsbBoardIdName UsbBoardIdName = nullptr;
  THackRfErrorName ErrorName = nullptr;
  THackRfOpen Open = nullptr;
  THackRfOpenBySerial OpenBySerial = nullptr;
  THackRfDeviceListOpen DeviceListOpen = nullptr;
  THackRfClose Close = nullptr;
  THackRfSetFreq SetFreq = nullptr;
  THackRfSetSampleRate SetSampleRate = nullptr;
  THackRfSetBasebandFilterBandwidth SetBasebandFilterBandwidth = nullptr;
  THackRfComputeBasebandFilterBw ComputeBasebandFilterBw = nullptr;
  THackRfSetLnaGain SetLnaGain = nullptr;
  THackRfSetVgaGain SetVgaGain = nullptr;
  THackRfSetAmpEnable SetAmpEnable = nullptr;
  THackRfSetAntennaEnable SetAntennaEnable = nullptr;
  THackRfStartRx StartRx = nullptr;
  THackRfStopRx StopRx = nullptr;
  THackRfIsStreaming IsStreaming = nullptr;

  // Export names in binding order, with the slot each one fills.
  template <typename TVisit>
  void ForEachExport(TVisit visit) {
    visit("hackrf_init", Init);
    visit("hackrf_exit", Exit);
    visit("hackrf_device_list", DeviceList);
    visit("hackrf_device_list_free", DeviceListFree);
    visit("hackrf_usb_board_id_name", UsbBoardIdName);
    visit("hackrf_error_name", ErrorName);
    visit("hackrf_open", Open);
    visit("hackrf_open_by_serial", OpenBySerial);
    visit("hackrf_device_list_open", DeviceListOpen);
    visit("hackrf_close", Close);
    visit("hackrf_set_freq", SetFreq);
    visit("hackrf_set_sample_rate", SetSampleRate);
    visit("hackrf_set_baseband_filter_bandwidth", SetBasebandFilterBandwidth);
    visit("hackrf_compute_baseband_filter_bw", ComputeBasebandFilterBw);
    visit("hackrf_set_lna_gain", SetLnaGain);
    visit("hackrf_set_vga_gain", SetVgaGain);
    visit("hackrf_set_amp_enable", SetAmpEnable);
    visit("hackrf_set_antenna_enable", SetAntennaEnable);
    visit("hackrf_start_rx", StartRx);
    visit("hackrf_stop_rx", StopRx);
    visit("hackrf_is_streaming", IsStreaming);
  }

  void Bind() {
    ForEachExport([this](const char* name, auto& fn) { plat::BindDynLib(Lib, name, fn); });
  }

  // Back to "never tried": hackrf_exit when initialised, release the library, forget every export.
  void Release() {
    if (Initialised && Exit) Exit();
    Initialised = false;
    if (Lib) plat::FreeDynLib(Lib);
    Lib = nullptr;
    ForEachExport([](const char*, auto& fn) { fn = nullptr; });
  }

  // End of the process: the library's own clean-up when it was initialised; it stays loaded.
  ~THackRfBinding() {
    if (Initialised && Exit) Exit();
  }
};

THackRfBinding& Hrf() {
  static THackRfBinding binding;
  return binding;
}

const char* LibraryName() {
  static const std::string name = SdrLibraryFileNames("hackrf").front();
  return name.c_str();
}

}  // namespace

void LoadHackRfLibrary() {
  THackRfBinding& b = Hrf();
  std::lock_guard<std::mutex> guard(b.Lock);
  if (b.Attempted) return;
  b.Attempted = true;

  // The program's folder (or the one a test named) first, then the system's search. Failures are
  // logged by the Open that reports them.
  b.Lib = LoadSdrLibrary("hackrf", b.FolderOverride, b.LoadError);
  if (!b.Lib) return;
  b.Bind();
  if (!b.Init || !b.DeviceList) {
    b.Release();
    b.LoadError = std::string(LibraryName()) + " loaded but required exports are missing";
    return;
  }
  if (b.Init() != 0) {
    b.Release();
    b.LoadError = "hackrf_init failed";
    return;
  }
  b.Initialised = true;
  b.LoadError.clear();
  LogFmt("hackrf: library loaded");
}

std::vector<std::string> HackRfMissingExports() {
  LoadHackRfLibrary();
  return UnboundSdrExports(Hrf());
}

bool HackRfAvailable() {
  LoadHackRfLibrary();
  std::lock_guard<std::mutex> guard(Hrf().Lock);
  return Hrf().Lib != nullptr;
}

std::string HackRfLoadError() {
  LoadHackRfLibrary();
  std::lock_guard<std::mutex> guard(Hrf().Lock);
  return Hrf().LoadError;
}

void ResetHackRfLibrary(const std::string& folder) {
  THackRfBinding& b = Hrf();
  std::lock_guard<std::mutex> guard(b.Lock);
  b.Release();
  b.Attempted = false;
  b.LoadError.clear();
  b.FolderOverride = folder;
}

TSdrDeviceInfoArray EnumerateHackRf() {
  TSdrDeviceInfoArray result;
  if (!HackRfAvailable()) return result;
  THackRfBinding& b = Hrf();
  THackRfDeviceList* list = b.DeviceList();
  if (!list) return result;
  for (int i = 0; i < list->devicecount; ++i) {
    TSdrDeviceInfo info;
    info.Index = i;
    info.Kind = skHackRf;
    info.Name = "HackRF";
    if (b.UsbBoardIdName && list->usb_board_ids) {
      const char* name = b.UsbBoardIdName(list->usb_board_ids[i]);
      if (name) info.Name = name;
    }
    if (list->serial_numbers && list->serial_numbers[i]) info.Serial = list->serial_numbers[i];
    result.push_back(std::move(info));
  }
  if (b.DeviceListFree) b.DeviceListFree(list);
  return result;
}

std::string HackRfErrorText(int status) {
  std::string number = std::to_string(status);
  if (HackRfAvailable() && Hrf().ErrorName) {
    const char* name = Hrf().ErrorName(status);
    if (name) return std::string(name) + " (" + number + ")";
  }
  return number;
}

int32_t ClampLnaGain(int32_t db) {
  if (db < 0) return 0;
  return std::min<int32_t>(db, 40) / 8 * 8;
}

int32_t ClampVgaGain(int32_t db) {
  if (db < 0) return 0;
  return std::min<int32_t>(db, 62) / 2 * 2;
}

void SplitHackRfGain(int32_t totalDb, int32_t& lna, int32_t& vga) {
  if (totalDb < 0) totalDb = 0;
  lna = ClampLnaGain(totalDb);
  vga = ClampVgaGain(totalDb - lna);
}

// ---------------------------------------------------------------------------------------------------

THackRfDevice::THackRfDevice(plat::IClock& clock) : FClock(clock) {}

THackRfDevice::~THackRfDevice() {
  Close();
}

bool THackRfDevice::Fail(const std::string& text) {
  FLastError = text;
  LogFmt("hackrf: %s", text.c_str());
  return false;
}

std::string THackRfDevice::GetName() {
  if (FSerial.empty()) return FName;
  return FName + " [" + FSerial + "]";
}

bool THackRfDevice::Open(int32_t index) {
  if (!HackRfAvailable()) return Fail(HackRfLoadError());
  if (FDev) return true;
  THackRfBinding& b = Hrf();
  hackrf_device* dev = nullptr;
  int status = 0;
  if (index > 0 && b.DeviceListOpen) {
    THackRfDeviceList* list = b.DeviceList();
    if (!list) return Fail("hackrf_device_list returned nothing");
    int count = list->devicecount;
    if (index >= count) {
      if (b.DeviceListFree) b.DeviceListFree(list);
      return Fail(FormatText("no HackRF with index %d (found %d)", int(index), count));
    }
    status = b.DeviceListOpen(list, index, &dev);
    if (b.DeviceListFree) b.DeviceListFree(list);
  } else {
    if (!b.Open) return Fail(std::string(LibraryName()) + " has no hackrf_open");
    status = b.Open(&dev);
  }
  if (status != 0 || !dev) {
    FDev = nullptr;
    return Fail("hackrf_open failed: " + HackRfErrorText(status));
  }
  FDev = dev;
  FIndex = index;
  ApplyGains();
  LogFmt("hackrf: opened %s", GetName().c_str());
  return true;
}

bool THackRfDevice::OpenBySerial(const std::string& serial, int32_t index,
                                 std::shared_ptr<THackRfDevice>& device, std::string& error,
                                 plat::IClock& clock) {
  device.reset();
  error.clear();
  if (!HackRfAvailable()) {
    error = HackRfLoadError();
    return false;
  }
  auto dev = std::make_shared<THackRfDevice>(clock);
  THackRfBinding& b = Hrf();
  if (!serial.empty() && b.OpenBySerial) {
    hackrf_device* handle = nullptr;
    int status = b.OpenBySerial(serial.c_str(), &handle);
    if (status == 0 && handle) {
      dev->FDev = handle;
      dev->FSerial = serial;
      dev->ApplyGains();
      LogFmt("hackrf: opened by serial %s", serial.c_str());
      device = dev;
      return true;
    }
    LogFmt("hackrf: serial %s not found (%s), falling back to index %d", serial.c_str(),
           HackRfErrorText(status).c_str(), int(index));
  }
  if (dev->Open(index)) {
    device = dev;
    return true;
  }
  error = dev->GetLastError();
  return false;
}

bool THackRfDevice::SetGains(int32_t lnaDb, int32_t vgaDb, bool amp, bool biasTee) {
  FLnaDb = lnaDb;
  FVgaDb = vgaDb;
  FAmp = amp;
  FBiasTee = biasTee;
  return ApplyGains();
}

bool THackRfDevice::ApplyGains() {
  if (!FDev) return true;
  THackRfBinding& b = Hrf();
  int32_t lna = ClampLnaGain(FLnaDb);
  int32_t vga = ClampVgaGain(FVgaDb);
  bool ok = true;
  if (b.SetLnaGain) {
    int status = b.SetLnaGain(FDev, uint32_t(lna));
    if (status != 0) ok = Fail("hackrf_set_lna_gain failed: " + HackRfErrorText(status));
  }
  if (b.SetVgaGain) {
    int status = b.SetVgaGain(FDev, uint32_t(vga));
    if (status != 0) ok = Fail("hackrf_set_vga_gain failed: " + HackRfErrorText(status));
  }
  if (b.SetAmpEnable) b.SetAmpEnable(FDev, FAmp ? 1 : 0);
  if (b.SetAntennaEnable) b.SetAntennaEnable(FDev, FBiasTee ? 1 : 0);
  LogFmt("hackrf: gains lna %d dB, vga %d dB, amp %d, bias tee %d", int(lna), int(vga), FAmp ? 1 : 0,
         FBiasTee ? 1 : 0);
  return ok;
}

void THackRfDevice::Close() {
  StopRx();
  if (FDev) {
    if (Hrf().Close) Hrf().Close(FDev);
    FDev = nullptr;
  }
}

void THackRfDevice::GetLimits(TSdrLimits& limits) {
  limits.MinHz = 1000000;
  limits.MaxHz = 6000000000LL;
  limits.MinRate = 2000000;
  limits.MaxRate = 20000000;
}

bool THackRfDevice::SetCenterFreq(int64_t hz) {
  THackRfBinding& b = Hrf();
  if (!FDev || !b.SetFreq) return Fail("not open");
  // The library takes 64 bits unsigned: a negative value would become an absurd frequency.
  if (hz < 0) return Fail(FormatText("hackrf_set_freq(%lld) refused: below 0 Hz", (long long)hz));
  int status = b.SetFreq(FDev, uint64_t(hz));
  if (status != 0) return Fail("hackrf_set_freq failed: " + HackRfErrorText(status));
  FCenterHz = hz;
  return true;
}

bool THackRfDevice::SetSampleRate(double samplesPerSecond) {
  THackRfBinding& b = Hrf();
  double rate = samplesPerSecond;
  if (!FDev || !b.SetSampleRate) return Fail("not open");
  if (!(rate >= 2000000))  // also NaN
    return Fail(FormatText("HackRF cannot sample below %.0f S/s (asked for %.0f) - raise Sample Rate",
                           2000000.0, rate));
  if (rate > 20000000) return Fail(FormatText("HackRF cannot sample above %.0f S/s", 20000000.0));
  int status = b.SetSampleRate(FDev, rate);
  if (status != 0) return Fail("hackrf_set_sample_rate failed: " + HackRfErrorText(status));
  FSampleRate = rate;
  if (b.SetBasebandFilterBandwidth) {
    uint32_t bw = uint32_t(std::llround(rate));
    if (b.ComputeBasebandFilterBw) bw = b.ComputeBasebandFilterBw(bw);
    status = b.SetBasebandFilterBandwidth(FDev, bw);
    if (status != 0)
      LogFmt("hackrf: baseband filter %u Hz refused: %s", unsigned(bw), HackRfErrorText(status).c_str());
    else
      LogFmt("hackrf: sample rate %.0f S/s, baseband filter %u Hz", rate, unsigned(bw));
  }
  return true;
}

bool THackRfDevice::SetGain(double db) {
  if (db >= 0) {
    int32_t lna = 0, vga = 0;
    SplitHackRfGain(int32_t(std::lround(std::min(db, 1000.0))), lna, vga);
    FLnaDb = lna;
    FVgaDb = vga;
  }
  return ApplyGains();
}

bool THackRfDevice::SetFreqCorrection(int32_t ppm) {
  if (ppm == 0) return true;
  FLastError = "HackRF has no frequency correction setting; leave Frequency Correction at 0";
  return false;
}

// ---------------------------------------------------------------------------------------------------
// Receiving. The library's thread is the ring's only producer (HandleRx); the reading thread is its
// consumer and also does every drop that a reset asks for, so the producer never has to know about
// resets: a transfer the producer was handing over while the reset happened is simply counted among
// the dropped bytes.

bool THackRfDevice::StartRx() {
  if (FStarted) return true;
  THackRfBinding& b = Hrf();
  if (!FDev || !b.StartRx) return Fail("not open");
  FRing.Clear();
  FPending = false;
  int status = b.StartRx(FDev, &THackRfDevice::ReceiveRoutine, this);
  if (status != 0) return Fail("hackrf_start_rx failed: " + HackRfErrorText(status));
  FStarted = true;
  return true;
}

void THackRfDevice::StopRx() {
  if (!FStarted) return;
  FStarted = false;
  if (FDev && Hrf().StopRx) Hrf().StopRx(FDev);
}

int TALV_SDR_CALL THackRfDevice::ReceiveRoutine(THackRfTransfer* transfer) {
  if (transfer && transfer->rx_ctx && transfer->buffer && transfer->valid_length > 0)
    static_cast<THackRfDevice*>(transfer->rx_ctx)->HandleRx(transfer->buffer, transfer->valid_length);
  return 0;  // keep streaming
}

void THackRfDevice::HandleRx(const uint8_t* data, int32_t length) {
  if (!data || length <= 0) return;
  if (FForwarding.load(std::memory_order_acquire)) {
    // Callback streaming: the reset's drop happens here, before the caller sees anything. Exactly the
    // (even) drop count goes, whatever the transfers' lengths, so I stays first afterwards.
    int32_t d = FDiscard.load(std::memory_order_acquire);
    if (d > 0) {
      if (length <= d) {
        FDiscard.fetch_sub(length, std::memory_order_acq_rel);
        return;
      }
      FDiscard.fetch_sub(d, std::memory_order_acq_rel);
      data += d;
      length -= d;
    }
    TSdrSampleCallback callback = FCallback.load(std::memory_order_acquire);
    if (callback) {
      callback(data, uint32_t(length), FUserData.load(std::memory_order_acquire));
      return;
    }
  }
  if (length & 1) FOddTransfers.fetch_add(1, std::memory_order_relaxed);
  // The library's byte stream is I, Q, I, Q ...: a transfer of odd length leaves an I waiting for the
  // Q that opens the next one. Only whole pairs enter the ring, so its bytes always start with an I.
  if (FPending) {
    uint8_t pair[2] = {FPendingByte, data[0]};
    FRing.Write(pair, 2);
    FPending = false;
    ++data;
    --length;
  }
  if (length & 1) {
    FPendingByte = data[length - 1];
    FPending = true;
    --length;
  }
  if (length > 0) FRing.Write(data, length);
}

bool THackRfDevice::ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) {
  bytesRead = 0;
  if (count <= 0 || !buffer) return false;
  if (!StartRx()) return false;

  // The time the requested bytes take at the rate, plus 2 s; without a rate, the 2 s alone.
  uint64_t waitMs = 2000;
  if (FSampleRate > 0) waitMs += uint64_t(std::llround(double(count) * 0.5 / FSampleRate * 1000.0));
  uint64_t deadline = FClock.NowMs() + waitMs;

  int32_t total = 0;
  while (total < count) {
    // After a reset: drop what the ring held then and what arrives until the drop count is used up.
    // The ring only ever holds whole pairs from a pair boundary and the count is even, so the pairs
    // that follow stay I first.
    int32_t discard = FReaderDiscard;
    if (discard > 0) {
      FReaderDiscard -= FRing.Skip(discard);
      if (FReaderDiscard > 0) {
        if (FClock.NowMs() > deadline) break;
        FClock.SleepMs(1);
        continue;
      }
    }
    int32_t got = FRing.Read(buffer + total, count - total);
    if (got >= 1) {
      total += got;
      continue;
    }
    if (FClock.NowMs() > deadline) break;
    FClock.SleepMs(1);
  }

  int32_t overflows = FRing.Overflows();
  int32_t odd = FOddTransfers.load(std::memory_order_relaxed);
  if (overflows != FOverflowsReported || odd != FOddReported) {
    FOverflowsReported = overflows;
    FOddReported = odd;
    LogFmt("hackrf: %d ring overflow(s), %d odd transfer(s) at %.0f S/s", int(overflows), int(odd),
           FSampleRate);
  }
  if (total == 0) return Fail("no samples from the HackRF within the timeout");
  bytesRead = total;
  return true;
}

bool THackRfDevice::ResetBuffer() {
  FRing.Clear();
  FReaderDiscard = kResetDiscardBytes;
  FDiscard.exchange(kResetDiscardBytes, std::memory_order_acq_rel);
  return true;
}

bool THackRfDevice::StartAsync(TSdrSampleCallback callback, void* userData) {
  FUserData.store(userData, std::memory_order_release);
  FCallback.store(callback, std::memory_order_release);
  FForwarding.store(true, std::memory_order_release);
  if (!StartRx()) {
    FForwarding.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void THackRfDevice::StopAsync() {
  FForwarding.store(false, std::memory_order_release);
  FCallback.store(nullptr, std::memory_order_release);
  FUserData.store(nullptr, std::memory_order_release);
  StopRx();
}
