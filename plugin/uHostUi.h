#pragma once
// The host's dialogs as the plug-in's units see them: the input dialog (`AskText`), the message box
// (`ShowMessageBox`) and the copy progress report (`HostProgress`).
//
// The export layer installs one IHostUi when the library loads; it turns these calls into the host's
// request and progress callbacks and the system's message box. Tests install their own recorder.
// Without an installed host, or without the host's callbacks, a dialog counts as cancelled, a message
// is dropped and a progress report answers "go on".
//
// Threads: any host thread may call in; the installed object must be safe to call from several
// threads at once (the export layer's is: it keeps no state of its own beyond what the host gave).
#include <cstdint>
#include <string>

// Message box styles the plug-in uses (the system's values).
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconWarning = 0x30;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr uint32_t kMbSetForeground = 0x10000;

// The caption of every message box and the start of every dialog title.
extern const char* const kPluginCaption;  // "wfx_talvoran"

// Longest text the input dialog returns.
constexpr int kAskTextMaxLen = 1023;

class IHostUi {
 public:
  virtual ~IHostUi() = default;
  // The host's input dialog. True with `text` replaced by the answer when the user confirmed;
  // false (text unchanged) when cancelled or when there is no dialog.
  virtual bool Ask(const std::string& title, const std::string& prompt, std::string& text) = 0;
  // One message with an OK button, owned by `owner` (a host window or 0).
  virtual void Message(uintptr_t owner, const std::string& text, const std::string& caption,
                       uint32_t style) = 0;
  // Copy progress; true when the user cancelled.
  virtual bool Progress(const std::string& source, const std::string& target, int percent) = 0;
};

// Installs the host (nullptr removes it). The object stays owned by the caller.
void SetHostUi(IHostUi* ui);
IHostUi* HostUi();

// The input dialog: at most kAskTextMaxLen characters of `text` are offered; see IHostUi::Ask.
bool AskText(const std::string& title, const std::string& prompt, std::string& text);
// A message box; the style is ORed with kMbSetForeground.
void ShowMessageBox(uintptr_t owner, const std::string& text, const std::string& caption, uint32_t style);
// Copy progress; true when the user cancelled.
bool HostProgress(const std::string& source, const std::string& target, int percent);
