#include "uHostUi.h"

#include <atomic>

const char* const kPluginCaption = "wfx_talvoran";

namespace {
std::atomic<IHostUi*> gHostUi{nullptr};
}  // namespace

void SetHostUi(IHostUi* ui) {
  gHostUi.store(ui);
}

IHostUi* HostUi() {
  return gHostUi.load();
}

bool AskText(const std::string& title, const std::string& prompt, std::string& text) {
  IHostUi* ui = HostUi();
  return ui != nullptr && ui->Ask(title, prompt, text);
}

void ShowMessageBox(uintptr_t owner, const std::string& text, const std::string& caption, uint32_t style) {
  if (IHostUi* ui = HostUi()) ui->Message(owner, text, caption, style | kMbSetForeground);
}

bool HostProgress(const std::string& source, const std::string& target, int percent) {
  IHostUi* ui = HostUi();
  return ui != nullptr && ui->Progress(source, target, percent);
}
