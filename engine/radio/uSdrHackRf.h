#pragma once
// HackRF receivers through the HackRF library, loaded at run time by file name and bound export by
// export (never linked). Loading is tried once per process; hackrf_init must succeed, and hackrf_exit
// is called at the end of the process when it did.
//
// Windows: "hackrf.dll", then "libhackrf.dll" in the program's folder, then both names through the
// system's search path; the library's calls are cdecl. Linux: "libhackrf.so.0" in the program's folder,
// then by name through the loader's search path.
//
// The library only streams: it calls a receive routine on its own thread for every USB transfer.
// THackRfDevice turns that into the blocking ReadSync the engine uses: the library's thread feeds a
// single-producer single-consumer TByteRing (granularity 2: I/Q pairs stay whole), the reading thread
// drains it. After ResetBuffer (a retune) the reading side drops everything that arrived before the
// call and the next 1 MiB, so no sample tuned elsewhere reaches the caller.
//
// Gains: an RF stage (LNA) in 8 dB steps 0..40, a baseband stage (VGA) in 2 dB steps 0..62; one total
// gain is split LNA first. The HackRF has no frequency correction.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pClock.h"
#include "uRing.h"
#include "uSdrIntf.h"
#include "uSdrLibrary.h"

// The library's calls and the two structures the engine reads, declared here from its published
// interface (no library header is used).
extern "C" {
struct hackrf_device;
typedef struct {
  hackrf_device* device;
  uint8_t* buffer;
  int buffer_length;
  int valid_length;
  void* rx_ctx;
  void* tx_ctx;
} THackRfTransfer;
typedef struct {
  char** serial_numbers;
  uint32_t* usb_board_ids;  // the library's board id enumeration, 32 bits wide
  int* usb_device_index;
  int devicecount;
  void** usb_devices;
  int usb_devicecount;
} THackRfDeviceList;
}
typedef int(TALV_SDR_CALL* THackRfSampleBlockCb)(THackRfTransfer* transfer);

typedef int(TALV_SDR_CALL* THackRfInit)(void);
typedef int(TALV_SDR_CALL* THackRfExit)(void);
typedef THackRfDeviceList*(TALV_SDR_CALL* THackRfDeviceListFn)(void);
typedef void(TALV_SDR_CALL* THackRfDeviceListFree)(THackRfDeviceList* list);
typedef const char*(TALV_SDR_CALL* THackRfUsbBoardIdName)(uint32_t usbBoardId);
typedef const char*(TALV_SDR_CALL* THackRfErrorName)(int status);
typedef int(TALV_SDR_CALL* THackRfOpen)(hackrf_device** device);
typedef int(TALV_SDR_CALL* THackRfOpenBySerial)(const char* serial, hackrf_device** device);
typedef int(TALV_SDR_CALL* THackRfDeviceListOpen)(THackRfDeviceList* list, int idx, hackrf_device** device);
typedef int(TALV_SDR_CALL* THackRfClose)(hackrf_device* device);
typedef int(TALV_SDR_CALL* THackRfSetFreq)(hackrf_device* device, const uint64_t hz);
typedef int(TALV_SDR_CALL* THackRfSetSampleRate)(hackrf_device* device, const double rate);
typedef int(TALV_SDR_CALL* THackRfSetBasebandFilterBandwidth)(hackrf_device* device, const uint32_t hz);
typedef uint32_t(TALV_SDR_CALL* THackRfComputeBasebandFilterBw)(const uint32_t hz);
typedef int(TALV_SDR_CALL* THackRfSetLnaGain)(hackrf_device* device, uint32_t db);
typedef int(TALV_SDR_CALL* THackRfSetVgaGain)(hackrf_device* device, uint32_t db);
typedef int(TALV_SDR_CALL* THackRfSetAmpEnable)(hackrf_device* device, const uint8_t on);
typedef int(TALV_SDR_CALL* THackRfSetAntennaEnable)(hackrf_device* device, const uint8_t on);
typedef int(TALV_SDR_CALL* THackRfStartRx)(hackrf_device* device, THackRfSampleBlockCb callback, void* ctx);
typedef int(TALV_SDR_CALL* THackRfStopRx)(hackrf_device* device);
typedef int(TALV_SDR_CALL* THackRfIsStreaming)(hackrf_device* device);

// Binds the library once per process; later calls do nothing.
void LoadHackRfLibrary();
bool HackRfAvailable();
// Why the library could not be used; empty after a successful load.
std::string HackRfLoadError();
// Every connected HackRF, in the library's order; empty without the library.
TSdrDeviceInfoArray EnumerateHackRf();
// Names of the library's exports that are not bound (all 21 when the library is not loaded).
std::vector<std::string> HackRfMissingExports();
// The status as a decimal number, or the library's name for it followed by " (" number ")".
std::string HackRfErrorText(int status);

// For tests: forget the binding (hackrf_exit, releasing the library) and look in `folder` instead of
// the program's folder at the next load. An empty folder restores the program's folder. No receiver
// may be open.
void ResetHackRfLibrary(const std::string& folder);

// Gain rules. Below 0 gives 0; LNA: at most 40, down to a multiple of 8; VGA: at most 62, down to even.
int32_t ClampLnaGain(int32_t db);
int32_t ClampVgaGain(int32_t db);
// One total gain (below 0 counts as 0) split LNA first: lna = ClampLnaGain(total), vga = the rest.
void SplitHackRfGain(int32_t totalDb, int32_t& lna, int32_t& vga);

class THackRfDevice final : public ISdrDevice {
 public:
  static constexpr int32_t kRingBytes = 2097152;
  static constexpr int32_t kResetDiscardBytes = 1048576;

  // The clock paces ReadSync's wait for samples; tests hand in a manual one.
  explicit THackRfDevice(plat::IClock& clock = plat::SystemClock());
  ~THackRfDevice() override;
  THackRfDevice(const THackRfDevice&) = delete;
  THackRfDevice& operator=(const THackRfDevice&) = delete;

  // Opens by serial first when one is given (falling back to the index), else by index. On success
  // `device` holds the open receiver; on failure `error` holds the text.
  static bool OpenBySerial(const std::string& serial, int32_t index, std::shared_ptr<THackRfDevice>& device,
                           std::string& error, plat::IClock& clock = plat::SystemClock());
  // Stores the four values and, when open, applies them at once.
  bool SetGains(int32_t lnaDb, int32_t vgaDb, bool amp, bool biasTee);

  TSdrKind Kind() override { return skHackRf; }
  std::string GetName() override;
  std::string GetLastError() override { return FLastError; }
  bool NeedsDcBlock() override { return true; }
  bool HasHardwareAgc() override { return false; }
  bool Open(int32_t index) override;
  void Close() override;
  bool IsOpen() override { return FDev != nullptr; }
  void GetLimits(TSdrLimits& limits) override;
  bool SamplesSigned() override { return true; }
  bool SetCenterFreq(int64_t hz) override;
  int64_t GetCenterFreq() override { return FCenterHz; }
  bool SetSampleRate(double samplesPerSecond) override;
  double GetSampleRate() override { return FSampleRate; }
  bool SetGain(double db) override;
  bool SetFreqCorrection(int32_t ppm) override;
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override;
  bool ResetBuffer() override;
  bool StartAsync(TSdrSampleCallback callback, void* userData) override;
  void StopAsync() override;
  bool IsStreaming() override { return FForwarding.load(std::memory_order_acquire); }

  int32_t Index() const { return FIndex; }
  int32_t LnaDb() const { return FLnaDb; }
  int32_t VgaDb() const { return FVgaDb; }
  // One transfer from the library's thread (the ring's only producer).
  void HandleRx(const uint8_t* data, int32_t length);
  int32_t OddTransfers() const { return FOddTransfers.load(std::memory_order_relaxed); }
  int32_t RingOverflows() const { return FRing.Overflows(); }

 private:
  bool Fail(const std::string& text);
  bool ApplyGains();
  bool StartRx();
  void StopRx();
  static int TALV_SDR_CALL ReceiveRoutine(THackRfTransfer* transfer);

  plat::IClock& FClock;
  hackrf_device* FDev = nullptr;
  int32_t FIndex = -1;
  std::string FName = "HackRF";
  std::string FSerial;
  std::string FLastError;
  int64_t FCenterHz = 0;
  double FSampleRate = 0;
  TByteRing FRing{kRingBytes, 2};
  // Bytes still to drop after a reset: the reader's count (ReadSync drops them from the ring) and, for
  // callback streaming only, the producer's count (lowered as transfers arrive).
  int32_t FReaderDiscard = 0;
  std::atomic<int32_t> FDiscard{0};
  // Producer-only state: an I byte waiting for its Q, and the count of odd-length transfers.
  uint8_t FPendingByte = 0;
  bool FPending = false;
  std::atomic<int32_t> FOddTransfers{0};
  int32_t FOverflowsReported = 0;
  int32_t FOddReported = 0;
  bool FStarted = false;
  std::atomic<bool> FForwarding{false};
  std::atomic<TSdrSampleCallback> FCallback{nullptr};
  std::atomic<void*> FUserData{nullptr};
  int32_t FLnaDb = 16;
  int32_t FVgaDb = 20;
  bool FAmp = false;
  bool FBiasTee = false;
};
