#pragma once
// Catches the engine log's lines for the length of a test: switches the log on into a temporary file
// and hands back the messages without their time stamps. Header-only: only test programs that link
// the engine log include it. One capture at a time; the log is switched off again on destruction.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "uLog.h"

class TLogCapture {
 public:
  TLogCapture() {
    SetLogPathForTest(FDir.File("capture.log"));
    SetLogEnabled(true);
  }
  ~TLogCapture() {
    SetLogEnabled(false);
    SetLogPathForTest("");
  }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  // The messages written so far, in order ("HH:MM:SS.mmm [tid=    N] " removed).
  std::vector<std::string> Messages() {
    CloseLog();
    std::vector<std::string> out;
    for (const std::string& line :
         testsupport::SplitLines(testsupport::ReadWholeFile(FDir.File("capture.log")))) {
      size_t at = line.find("] ");
      if (!line.empty()) out.push_back(at == std::string::npos ? line : line.substr(at + 2));
    }
    return out;
  }
  // The messages that contain `text`.
  std::vector<std::string> MessagesContaining(const std::string& text) {
    std::vector<std::string> out;
    for (const std::string& m : Messages())
      if (m.find(text) != std::string::npos) out.push_back(m);
    return out;
  }
  // How many messages contain `text`.
  size_t Count(const std::string& text) { return MessagesContaining(text).size(); }
  // The messages that begin with `prefix`.
  std::vector<std::string> MessagesStarting(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& m : Messages())
      if (m.rfind(prefix, 0) == 0) out.push_back(m);
    return out;
  }

 private:
  testsupport::TTempDir FDir;
};
