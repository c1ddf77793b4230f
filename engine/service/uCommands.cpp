#include "uCommands.h"

#include <memory>

#include "pSystem.h"
#include "uDspKernels.h"
#include "uEngineSvc.h"
#include "uFreqText.h"
#include "uLevelTap.h"
#include "uLive.h"
#include "uLog.h"
#include "uMonitor.h"
#include "uMultiLive.h"
#include "uReplies.h"
#include "uScanSession.h"
#include "uSdrDevices.h"

namespace {

void Fail(TTextLines& reply, const std::string& text) {
  reply.assign(1, ErrorLine(text));
}

// The middle of the settings' range; the halves keep absurd settings from overflowing.
int64_t RangeMiddle(const TTalvConfig& cfg) {
  const int64_t lo = ClampRequestHz(cfg.StartHz);
  const int64_t hi = ClampRequestHz(cfg.StopHz);
  return lo + (hi - lo) / 2;
}

// Most body lines a request logs, and most characters of each: a request of 1 MiB must not add
// megabytes to the log.
constexpr size_t kLoggedBodyLines = 40;
constexpr size_t kLoggedLineChars = 200;

// "start: N body line(s), B bytes", then the lines (each cut short) up to the limit.
void LogRequestBody(const char* component, const TTextLines& body) {
  if (!LogIsEnabled()) return;
  size_t bytes = 0;
  for (const std::string& line : body) bytes += line.size() + 2;
  LogFmt("%s: %d body line(s), %zu bytes", component, static_cast<int>(body.size()), bytes);
  for (size_t i = 0; i < body.size() && i < kLoggedBodyLines; ++i) {
    const std::string& line = body[i];
    if (line.size() <= kLoggedLineChars)
      LogFmt("%s:   %s", component, line.c_str());
    else
      LogFmt("%s:   %s... (%zu characters)", component, line.substr(0, kLoggedLineChars).c_str(),
             line.size());
  }
  if (body.size() > kLoggedBodyLines)
    LogFmt("%s:   ... %zu more line(s) not logged", component, body.size() - kLoggedBodyLines);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// START

bool CmdStart(TEngineService& service, const TTextLines& body, TTextLines& reply) {
  service.StopScan();
  service.StopMonitor();
  if (service.IsLive()) {
    service.StopLive();
    LogFmt("scan: stopped live audio to take the receiver");
  }

  LogRequestBody("start", body);
  const TTalvConfig cfg = ConfigFromBody(body);

  auto session = std::make_shared<TScanSession>(cfg, &service.Store());
  if (!session->Prepare()) {
    const std::string error = session->LastError();
    service.SetServiceLastError(error);
    Fail(reply, error);
    return false;
  }
  service.SetServiceLastError("");
  // The live-through values outlive STOP: a scan started again without LIVESTOP plays through again.
  service.ApplyLiveThrough(session.get());
  ClearLevelLanes();
  service.Store().Clear();
  service.Store().SetScanning(true);
  // Started before it is published: a stop routine on another thread (the watchdog) must never wait
  // for a thread that is still being created.
  if (!session->Start()) {
    service.Store().SetScanning(false);
    const std::string error = session->LastError();
    service.SetServiceLastError(error);
    Fail(reply, error);
    return false;
  }
  service.SetScanSession(session);
  reply.assign(1, proto::kOk);
  return true;
}

// ---------------------------------------------------------------------------------------------
// STATUS, CHANNELS, DEVICES

void CmdStatus(TEngineService& service, TTextLines& reply) {
  TStatusInfo info;
  // One read of each pointer; the references keep the sessions alive while their fields are read.
  const std::shared_ptr<TScanSession> scan = service.ScanSession();
  const std::shared_ptr<TLiveSession> live = service.LiveSession();
  info.ScanRunning = scan && !scan->Finished();
  info.EnginePid = plat::CurrentProcessId();
  info.Simd = KernelDescription();
  info.Channels = service.Store().Count();
  info.Monitor = service.IsMonitoring();

  if (live) {
    info.LiveExists = true;
    info.LiveRunning = !live->Finished();
    info.LiveHz = live->LiveHz();
    info.LiveMod = live->Mode();
    info.LiveCenterHz = live->CentreHz();
    info.LiveDevice = live->DeviceName();
    info.LiveError = live->ErrorText();
  }
  if (scan) {
    // What the scan plays through is its own copy of the live-through values.
    info.ThroughHz = scan->LiveHz();
    info.ThroughMod = scan->LiveMod();
    info.ThroughMulti = scan->LiveMulti();
    info.ScanExists = true;
    info.ScanDevice = scan->DeviceName();
    info.Sweeps = scan->Sweeps();
    info.HopIndex = scan->HopIndex();
    info.HopCount = scan->HopCount();
    info.NoiseDb = scan->NoiseDb();
    info.StartedAt = scan->StartedAt();
    info.LevelClass = scan->LevelClass();
    info.ScanError = scan->LastError();
  } else {
    info.ServiceError = service.ServiceLastError();
  }
  reply.assign(1, proto::kOk);
  const TTextLines lines = StatusLines(info);
  reply.insert(reply.end(), lines.begin(), lines.end());
}

void CmdChannels(TEngineService& service, TTextLines& reply) {
  reply.assign(1, proto::kOk);
  service.Store().AppendChannelLines(reply);
}

void CmdDevices(TTextLines& reply) {
  BuildDevicesReply(reply, EnumerateSdrDevices());
}

// ---------------------------------------------------------------------------------------------
// SPECTRUM, ENVELOPE

void CmdSpectrum(TEngineService& service, const TTextLines& body, TTextLines& reply) {
  const TTalvConfig cfg = ConfigFromBody(body);
  const TSpectrumRequest request = ParseSpectrumRequest(body);

  if (service.IsScanning() || service.IsLive()) {
    service.StopMonitor();  // the running session publishes the frames
  } else {
    std::shared_ptr<TMonitorSession> monitor = service.MonitorSession();
    if (monitor && monitor->Finished()) {
      service.StopMonitor();
      monitor.reset();
    }
    if (monitor) {
      monitor->Poll(request.CenterHz);
    } else {
      const int64_t center = request.CenterHz >= 1 ? request.CenterHz : RangeMiddle(cfg);
      auto fresh = std::make_shared<TMonitorSession>(cfg, center, TMonitorSession::kDefaultViewerTimeoutMs);
      if (!fresh->Prepare()) {
        Fail(reply, fresh->LastError());
        return;
      }
      if (!fresh->Start()) {
        Fail(reply, fresh->LastError());
        return;
      }
      service.SetMonitorSession(fresh);
    }
  }
  BuildSpectrumReply(reply, request, cfg, service.IsScanning());
}

void CmdEnvelope(TEngineService& service, const TTextLines& body, TTextLines& reply) {
  const TTalvConfig cfg = ConfigFromBody(body);
  BuildEnvelopeReply(reply, ParseEnvelopeRequest(body), cfg.AudioRate, service.IsLive());
}

// ---------------------------------------------------------------------------------------------
// LIVE

namespace {

bool StartLiveSession(TEngineService& service, const TTalvConfig& cfg, int64_t hz, TModulation mod,
                      TTextLines& reply) {
  auto session = std::make_shared<TLiveSession>(cfg, hz, mod);
  session->OnHits = &TEngineService::OnLiveHits;
  session->OnHitsData = &service;
  if (!session->Prepare()) {
    const std::string error = session->ErrorText();
    service.SetServiceLastError(error);
    Fail(reply, error);
    return false;
  }
  service.SetServiceLastError("");
  if (!session->Start()) {
    service.SetServiceLastError(session->ErrorText());
    Fail(reply, session->ErrorText());
    return false;
  }
  service.Store().SetScanning(true);
  service.SetLiveSession(session);
  reply.assign(1, proto::kOk);
  return true;
}

bool StartMultiSession(TEngineService& service, const TTalvConfig& cfg, TTextLines& reply) {
  auto session = std::make_shared<TMultiLiveSession>(cfg);
  if (!session->Prepare()) {
    const std::string error = session->ErrorText();
    service.SetServiceLastError(error);
    Fail(reply, error);
    return false;
  }
  service.SetServiceLastError("");
  session->OnHits = &TEngineService::OnLiveHits;
  session->OnHitsData = &service;
  if (!session->Start()) {
    service.SetServiceLastError(session->ErrorText());
    Fail(reply, session->ErrorText());
    return false;
  }
  service.Store().SetScanning(true);
  service.SetMultiSession(session);
  reply.assign(1, proto::kOk);
  return true;
}

}  // namespace

bool CmdLive(TEngineService& service, const TTextLines& body, TTextLines& reply) {
  const TTalvConfig cfg = ConfigFromBody(body);
  LogFmt("live: %d body line(s), gain=%.1f, snr=%.1f, grid=%d", static_cast<int>(body.size()), cfg.GainDb,
         cfg.SnrDb, static_cast<int>(cfg.GridHz));
  const TLiveRequest request = ParseLiveRequest(body, cfg);

  // Nothing is stopped for a request that cannot be served.
  if (!request.Multi && request.Hz <= 0) {
    Fail(reply, proto::kErrNoFrequency);
    return false;
  }

  service.StopLive();
  service.StopMonitor();

  const std::shared_ptr<TScanSession> scan = service.ScanSession();
  const bool scanning = scan && !scan->Finished();
  if (scanning && request.Multi) {
    service.SetLiveThrough(0, service.LiveThroughMod(), true);
    service.ApplyLiveThrough(scan.get());
    if (scan->HopCount() == 1)
      LogFmt("live: playing every active channel through the running scan");
    else
      LogFmt(
          "live: playing every active channel through the running scan - %d hops, so each is audible "
          "only while the dwell is on it",
          scan->HopCount());
    reply.assign(1, proto::kOk);
    return true;
  }
  if (scanning && request.Hz >= scan->Config().StartHz && request.Hz <= scan->Config().StopHz) {
    service.SetLiveThrough(request.Hz, request.Mod, false);
    service.ApplyLiveThrough(scan.get());
    const std::string mhz = FormatMHz(request.Hz);
    if (scan->HopCount() == 1)
      LogFmt("live: playing %s through the running scan", mhz.c_str());
    else
      LogFmt("live: playing %s through the running scan - %d hops, so only while the dwell is on its hop",
             mhz.c_str(), scan->HopCount());
    reply.assign(1, proto::kOk);
    return true;
  }

  if (service.IsScanning()) {
    service.StopScan();
    if (request.Multi)
      LogFmt(
          "live: stopped the running scan - listening to every channel at once parks the receiver on "
          "one hop, and a sweep cannot run from there");
    else
      LogFmt("live: stopped the running scan - the frequency is outside it");
  }
  if (!request.Multi) return StartLiveSession(service, cfg, request.Hz, request.Mod, reply);
  return StartMultiSession(service, cfg, reply);
}
