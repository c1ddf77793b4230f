#pragma once
// Scanner: sweeps a frequency range hop by hop on one receiver. Configure plans the hops of the range
// (kept within the receiver's tuning limits), makes the receiver wrapper and the detector, and
// publishes the plan to the panorama. Each sweep retunes to every hop in order, waits the settle time,
// reads one block (the receiver drops the first 2 ms after a retune: samples still from the old
// frequency), detects channels anywhere in the whole range (so the overlap of two hops keeps the
// stronger sighting), reports the hop to a callback, and finally removes hits that are images of
// strong signals seen in another hop.
//
// One thread drives a scanner. Abort may come from any other thread: it sets a flag that the sweep
// reads before each hop, so the sweep ends at the next hop boundary. Failures are false results with
// the text in LastError(); nothing throws.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "pClock.h"
#include "uAnalyzer.h"
#include "uAutoGain.h"
#include "uDetector.h"
#include "uDspTypes.h"
#include "uReceiver.h"
#include "uSdrIntf.h"
#include "uTalvConfig.h"

// Called once per hop with its zero-based index, the number of hops, its centre and its noise floor
// (dBFS) and the user data given to Sweep; false stops the sweep ("aborted").
using TSweepHopEvent = bool (*)(int32_t hopIndex, int32_t hopCount, int64_t hopCenterHz, double noiseDb,
                                void* userData);

class TScanner {
 public:
  // A scanner with the default settings, not configured. The clock paces its receiver (settle time)
  // and gain control.
  explicit TScanner(TSdrDeviceRef device, plat::IClock& clock = plat::SystemClock());
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  // Takes the settings (the sample rate the device reports wins; the FFT size as the analyzer corrects
  // it), sets up receiver and detector, plans the hops and publishes them to the panorama.
  bool Configure(const TScanSettings& settings);
  // One sweep over every hop; `hits` is emptied first and holds the hits found so far on failure.
  bool Sweep(TChannelHitArray& hits, TSweepHopEvent onHop, void* userData);
  // Makes a running sweep end before its next hop (any thread); a settle pause under way ends at once.
  void Abort();
  // The owner's stop flag (not owned; null: only Abort): a settle pause ends as soon as it is set.
  void SetStopFlag(const std::atomic<bool>* stop);

  int32_t HopCount() const;
  // The hop of the plan; all zero for an index outside it.
  TScanHop GetHop(int32_t index) const;
  // The receiver's gain control (shared with a dwell runner), or empty before configuration.
  std::shared_ptr<TAutoGain> AutoGain() const;
  // Usable width of one hop for the settings' rate and edge fraction.
  double UsableSpan() const;
  // Hz per spectrum bin; 0 before configuration.
  double BinWidth() const;
  // Retunes to centerHz with the settle time and reads one block into Block().
  bool TuneAndRead(int64_t centerHz);

  const TScanSettings& Settings() const { return FSettings; }
  const std::string& LastError() const { return FLastError; }
  double LastNoiseDb() const { return FLastNoiseDb; }
  bool Configured() const { return FConfigured; }
  // The samples of the last read (owned by the receiver), or nullptr.
  TComplexF* Block() const { return FBlock; }
  TReceiver* Receiver() const { return FReceiver.get(); }
  TDetector* Detector() const { return FDetector.get(); }

 private:
  TSdrDeviceRef FDevice;
  plat::IClock& FClock;
  std::unique_ptr<TReceiver> FReceiver;
  TScanSettings FSettings;
  std::unique_ptr<TDetector> FDetector;
  TScanHopArray FHops;
  TComplexF* FBlock = nullptr;
  double FLastNoiseDb = 0;
  bool FConfigured = false;
  std::atomic<bool> FAbortRequested{false};
  const std::atomic<bool>* FStop = nullptr;
  std::string FLastError;
};

// True when TALVORAN_DCPROBE holds any text: each hop then logs the bins round its centre. Read once,
// on first use, for the life of the process.
bool DcProbeEnabled();
