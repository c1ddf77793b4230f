#pragma once
// The command handlers of the service: START, STATUS, CHANNELS, DEVICES, SPECTRUM, ENVELOPE and LIVE
// turn a request into actions on the service's sessions, store and taps and fill the reply (status
// line first) with the protocol unit's line texts. PING, STOP, LIVESTOP, CLEAR and QUIT are one-liners
// of the dispatcher.
//
// They run on a connection thread under the command lock, after the dispatcher's prologue. Every
// handler that takes settings starts from the defaults and applies the request body. The receiver is
// owned by exactly one session at a time: START stops every other session first, LIVE stops live
// sessions and the monitor (and the scan unless it can play through it), SPECTRUM starts or feeds the
// monitor only while no scan or live session owns the receiver.
#include "uTalvProto.h"

class TEngineService;

// True when the scan was started ("OK").
bool CmdStart(TEngineService& service, const TTextLines& body, TTextLines& reply);
void CmdStatus(TEngineService& service, TTextLines& reply);
void CmdChannels(TEngineService& service, TTextLines& reply);
void CmdDevices(TTextLines& reply);
void CmdSpectrum(TEngineService& service, const TTextLines& body, TTextLines& reply);
void CmdEnvelope(TEngineService& service, const TTextLines& body, TTextLines& reply);
// True when audio plays ("OK").
bool CmdLive(TEngineService& service, const TTextLines& body, TTextLines& reply);
