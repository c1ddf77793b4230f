#pragma once
// The replies of the engine that read its live state: SPECTRUM from the spectrum tap, ENVELOPE from
// the level tap, DEVICES from the device list. The line texts themselves are the protocol unit's;
// this unit only gathers the values and keeps the order of the lines. Each builder fills a whole
// reply, status line first. Nothing here starts, stops or waits for anything.
#include <cstdint>

#include "uSdrIntf.h"     // TSdrDeviceInfoArray
#include "uSpecTap.h"     // TSpecFrame
#include "uTalvConfig.h"  // TTalvConfig
#include "uTalvProto.h"   // TTextLines, request records

// SPECTRUM after the monitor has been seen to: the panorama when a scan runs over a window wider
// than 1.05 times the sample rate and any hop holds data; otherwise the latest frame cropped to the
// window; "ERR no spectrum yet" when no frame was ever published.
void BuildSpectrumReply(TTextLines& reply, const TSpectrumRequest& request, const TTalvConfig& cfg,
                        bool scanning);

// The two SPECTRUM forms on their own (for the builder above and for tests).
bool BuildPanoramaReply(TTextLines& reply, const TSpectrumRequest& request, const TTalvConfig& cfg);
void BuildFrameReply(TTextLines& reply, const TSpecFrame& frame);

// ENVELOPE: the lanes newer than the request's After (at most Max per lane), with the live flag and
// the level rate of the request's AudioRate.
void BuildEnvelopeReply(TTextLines& reply, const TEnvelopeRequest& request, int32_t audioRate, bool live);

// DEVICES: one line per receiver, in the list's order.
void BuildDevicesReply(TTextLines& reply, const TSdrDeviceInfoArray& devices);
