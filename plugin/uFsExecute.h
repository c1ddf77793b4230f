#pragma once
// Opening an entry of the plug-in's panel (the host's execute call with the verb "open"): a setting or
// a Spectrum entry is edited through the host's input dialog and saved to the settings file; the four
// command files start and stop a scan or live audio through the engine; Status.txt is left to the host
// to fetch and open. Every failure is one message box (caption "wfx_talvoran") and a result that
// leaves the panel as it was.
//
// An edit works on a snapshot of the settings loaded at the start of the call and is saved before the
// host is told to re-list the folder, so the listing shows the new value. Nothing is saved on a
// cancel, a refused value or an engine failure; a save that fails is said so and counts as refused.
//
// Threads: the host's thread that called; the dialogs are modal in the host and the engine requests
// block that thread (the client bounds every wait). Text is UTF-8; paths use "\".
#include <cstdint>
#include <string>
#include <string_view>

#include "uTalvConfig.h"

// The body of FsExecuteFile. remoteName is rewritten ("\", "\Config" or "\Spectrum") only with the
// result kFsExecSymlink; verb is null when the host passed none.
int ExecuteFile(uintptr_t mainWin, std::string& remoteName, const std::string* verb);

// The receiver chooser (DEVICES, then the id or index typed); kFsExecOk or kFsExecSymlink.
int ChooseDevice(uintptr_t owner, TTalvConfig& cfg, std::string& remoteName);
// The live audio dialog (frequency, then modulation, then LIVE); kFsExecOk or kFsExecSymlink.
int RunLiveAudioDialog(uintptr_t owner, TTalvConfig& cfg, std::string& remoteName);

// StartHz, StopHz and SampleRate.
bool IsFrequencyKey(std::string_view key);
// A bare number below this many megahertz counts as megahertz: 201 for SampleRate, 9001 for the others.
int64_t FrequencyKeyMhzLimit(std::string_view key);
// The range rules of a typed frequency against the present settings; false after showing the message.
bool CheckFrequencyValue(uintptr_t owner, const TTalvConfig& cfg, std::string_view key,
                         std::string_view text);
// True when the settings rules read text as a value of key: for number keys the text must be a
// number in range, for the receiver kind and the modulation one of their names in any letter case (a
// text that ConfigSetKey would refuse or silently ignore is not); free text and switches take any text.
bool SettingTextReadable(std::string_view key, std::string_view text);
