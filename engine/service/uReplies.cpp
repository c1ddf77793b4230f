#include "uReplies.h"

#include "uLevelTap.h"

void BuildFrameReply(TTextLines& reply, const TSpecFrame& frame) {
  reply.assign(1, proto::kOk);
  AppendSpectrumHead(reply, frame.CenterHz, frame.SampleRate, frame.NoiseDb, frame.Seq, frame.Label,
                     frame.Bins.size(), frame.LoHz, frame.HiHz);
  for (const TChannelHit& hit : frame.Hits) reply.push_back(MarkLine(hit.ChannelHz, hit.SnrDb));
  AppendBinLines(reply, frame.Bins.data(), frame.Bins.size());
}

bool BuildPanoramaReply(TTextLines& reply, const TSpectrumRequest& request, const TTalvConfig& cfg) {
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = -100;
  if (!GetPanorama(bins, hops, noise, request.Bins, request.LoHz, request.HiHz)) return false;
  // Request frequencies are clamped, so the sum cannot overflow.
  const int64_t center = (request.LoHz + request.HiHz) / 2;
  const double rate = static_cast<float>(cfg.SampleRate);
  reply.assign(1, proto::kOk);
  AppendSpectrumHead(reply, center, rate, noise, SpecFrameSequence(), "pano", bins.size(), request.LoHz,
                     request.HiHz);
  for (const TPanoHop& hop : hops) reply.push_back(PanoLine(hop.LoHz, hop.HiHz, hop.AgeMs));
  TSpecFrame latest;
  if (GetSpecFrame(latest, 0, 0, 0))
    for (const TChannelHit& hit : latest.Hits) reply.push_back(MarkLine(hit.ChannelHz, hit.SnrDb));
  AppendBinLines(reply, bins.data(), bins.size());
  return true;
}

void BuildSpectrumReply(TTextLines& reply, const TSpectrumRequest& request, const TTalvConfig& cfg,
                        bool scanning) {
  const int64_t oneHop = RoundHalfEven(static_cast<double>(cfg.SampleRate) * 1.05);
  if (scanning && request.HiHz - request.LoHz > oneHop && AnyPanoSlotValid() &&
      BuildPanoramaReply(reply, request, cfg))
    return;
  TSpecFrame frame;
  if (!GetSpecFrame(frame, request.Bins, request.LoHz, request.HiHz)) {
    reply.assign(1, ErrorLine(proto::kErrNoSpectrum));
    return;
  }
  BuildFrameReply(reply, frame);
}

void BuildEnvelopeReply(TTextLines& reply, const TEnvelopeRequest& request, int32_t audioRate, bool live) {
  TLevelLaneInfoArray lanes;
  const int64_t seq = GetLevelLanes(request.After, request.Max, lanes);
  reply.assign(1, proto::kOk);
  AppendEnvelopeHead(reply, seq, live, EnvelopeRate(audioRate));
  for (const TLevelLaneInfo& lane : lanes) {
    reply.push_back(LaneLine(lane.Key, lane.Count));
    AppendEnvLines(reply, lane.Samples);
  }
}

void BuildDevicesReply(TTextLines& reply, const TSdrDeviceInfoArray& devices) {
  reply.assign(1, proto::kOk);
  for (const TSdrDeviceInfo& d : devices)
    reply.push_back(DeviceLine(d.Index, SdrKindName(d.Kind), d.Name, d.Serial));
}
