#pragma once
// RTL2832-based receivers through the rtl-sdr library. The library is loaded at run time by file name
// and bound export by export (never linked), so the engine starts and runs without it: with the HackRF,
// the simulated receiver, or only listing. Loading is tried once per process, on first use.
//
// Windows: "rtlsdr.dll", then "librtlsdr.dll" in the program's folder, then both names through the
// system's search path; the library's calls are cdecl. Linux: "librtlsdr.so.0" in the program's folder,
// then by name through the loader's search path.
//
// Only rtlsdr_open and rtlsdr_read_sync are required; a call through any other missing export is
// skipped as each operation says. The engine reads only through ReadSync; StartAsync runs the library's
// asynchronous read on a thread of its own for callers that want callback streaming.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pThread.h"
#include "uSdrIntf.h"
#include "uSdrLibrary.h"

// The library's calls, declared here from its published interface (no library header is used).
extern "C" {
struct rtlsdr_dev;
typedef struct rtlsdr_dev rtlsdr_dev_t;
}
typedef void(TALV_SDR_CALL* TRtlReadAsyncCb)(unsigned char* buf, uint32_t len, void* ctx);

typedef uint32_t(TALV_SDR_CALL* TRtlGetDeviceCount)(void);
typedef const char*(TALV_SDR_CALL* TRtlGetDeviceName)(uint32_t index);
typedef int(TALV_SDR_CALL* TRtlGetDeviceUsbStrings)(uint32_t index, char* manufact, char* product,
                                                    char* serial);
typedef int(TALV_SDR_CALL* TRtlOpen)(rtlsdr_dev_t** dev, uint32_t index);
typedef int(TALV_SDR_CALL* TRtlClose)(rtlsdr_dev_t* dev);
typedef int(TALV_SDR_CALL* TRtlSetCenterFreq)(rtlsdr_dev_t* dev, uint32_t freq);
typedef uint32_t(TALV_SDR_CALL* TRtlGetCenterFreq)(rtlsdr_dev_t* dev);
typedef int(TALV_SDR_CALL* TRtlSetSampleRate)(rtlsdr_dev_t* dev, uint32_t rate);
typedef uint32_t(TALV_SDR_CALL* TRtlGetSampleRate)(rtlsdr_dev_t* dev);
typedef int(TALV_SDR_CALL* TRtlSetTunerGainMode)(rtlsdr_dev_t* dev, int manual);
typedef int(TALV_SDR_CALL* TRtlSetTunerGain)(rtlsdr_dev_t* dev, int gain);
typedef int(TALV_SDR_CALL* TRtlGetTunerGains)(rtlsdr_dev_t* dev, int* gains);
typedef int(TALV_SDR_CALL* TRtlSetAgcMode)(rtlsdr_dev_t* dev, int on);
typedef int(TALV_SDR_CALL* TRtlSetFreqCorrection)(rtlsdr_dev_t* dev, int ppm);
typedef int(TALV_SDR_CALL* TRtlSetTunerBandwidth)(rtlsdr_dev_t* dev, uint32_t bw);
typedef int(TALV_SDR_CALL* TRtlResetBuffer)(rtlsdr_dev_t* dev);
typedef int(TALV_SDR_CALL* TRtlReadSync)(rtlsdr_dev_t* dev, void* buf, int len, int* n_read);
typedef int(TALV_SDR_CALL* TRtlReadAsync)(rtlsdr_dev_t* dev, TRtlReadAsyncCb cb, void* ctx, uint32_t buf_num,
                                          uint32_t buf_len);
typedef int(TALV_SDR_CALL* TRtlCancelAsync)(rtlsdr_dev_t* dev);

// The library's file name on this system ("rtlsdr.dll", "librtlsdr.so.0"), as the load texts name it.
const char* RtlSdrLibraryName();

// Binds the library once per process; later calls do nothing.
void LoadRtlSdrLibrary();
// True when the library is loaded and its required exports are bound.
bool RtlSdrAvailable();
// Why the library could not be used; empty after a successful load.
std::string RtlSdrLoadError();
// Every connected receiver, in the library's order; empty without the library.
TSdrDeviceInfoArray EnumerateRtlSdr();
// Names of the library's exports that are not bound (all 19 when the library is not loaded).
std::vector<std::string> RtlSdrMissingExports();

// For tests: forget the binding (releasing the library) and look in `folder` instead of the program's
// folder at the next load. An empty folder restores the program's folder. No receiver may be open.
void ResetRtlSdrLibrary(const std::string& folder);

class TRtlSdrDevice final : public ISdrDevice {
 public:
  TRtlSdrDevice();
  ~TRtlSdrDevice() override;
  TRtlSdrDevice(const TRtlSdrDevice&) = delete;
  TRtlSdrDevice& operator=(const TRtlSdrDevice&) = delete;

  TSdrKind Kind() override { return skRtlSdr; }
  std::string GetName() override;
  std::string GetLastError() override { return FLastError; }
  bool NeedsDcBlock() override { return false; }
  bool HasHardwareAgc() override { return true; }
  bool Open(int32_t index) override;
  void Close() override;
  bool IsOpen() override { return FDev != nullptr; }
  void GetLimits(TSdrLimits& limits) override;
  bool SamplesSigned() override { return false; }
  bool SetCenterFreq(int64_t hz) override;
  int64_t GetCenterFreq() override;
  bool SetSampleRate(double samplesPerSecond) override;
  double GetSampleRate() override;
  bool SetGain(double db) override;
  bool SetFreqCorrection(int32_t ppm) override;
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override;
  bool ResetBuffer() override;
  bool StartAsync(TSdrSampleCallback callback, void* userData) override;
  void StopAsync() override;
  bool IsStreaming() override { return FStreaming; }

  int32_t Index() const { return FIndex; }

 private:
  bool Fail(const std::string& text);
  static void TALV_SDR_CALL AsyncTrampoline(unsigned char* buf, uint32_t len, void* ctx);
  void AsyncExecute(rtlsdr_dev_t* dev);

  rtlsdr_dev_t* FDev = nullptr;
  int32_t FIndex = -1;
  std::string FName;
  std::string FSerial;
  std::string FLastError;
  int64_t FCenterHz = 0;
  double FSampleRate = 0;
  bool FStreaming = false;
  std::unique_ptr<plat::TThread> FAsyncThread;
  std::atomic<TSdrSampleCallback> FCallback{nullptr};
  std::atomic<void*> FUserData{nullptr};
};
