#include "uSessionThread.h"

#include "uExceptText.h"
#include "uLog.h"
#include "uRecorder.h"

TSessionThread::~TSessionThread() {
  StopAndWait();
}

bool TSessionThread::Start() {
  if (FThread.Started()) return false;
  FFinished = false;
  if (!FThread.Start([this] { Run(); })) {
    FFinished = true;
    SetLastError("cannot start the session thread");
    return false;
  }
  return true;
}

void TSessionThread::WaitFor() {
  FThread.Join();
}

void TSessionThread::StopAndWait() {
  Terminate();
  WaitFor();
}

std::string TSessionThread::LastError() const {
  std::lock_guard<std::mutex> guard(FErrorLock);
  return FLastError;
}

void TSessionThread::SetLastError(const std::string& text) {
  std::lock_guard<std::mutex> guard(FErrorLock);
  FLastError = text;
}

void TSessionThread::RecordingFailed(const std::string& text) {
  SetLastError("recording: " + text);
}

void TSessionThread::ReportRecordingFailure(TChannelRecorder& recorder) {
  const std::string error = recorder.TakeError();
  if (!error.empty()) RecordingFailed(error);
}

void TSessionThread::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    SetLastError(ExceptionText(e));
    LogFmt("session: thread ended by %s", ExceptionText(e).c_str());
  } catch (...) {
    SetLastError("unknown exception");
    LogFmt("session: thread ended by an unknown exception");
  }
  FFinished = true;
}
