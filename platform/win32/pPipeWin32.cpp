// The engine's named pipe on Windows. The server's instances are overlapped so that Stop can end a
// wait for a client and Abort a blocked read; the client's handle is a plain blocking one.
#include <windows.h>

#include "pPipe.h"
#include "wText.h"

namespace plat {
namespace {

constexpr DWORD kPipeBuffer = 65536;
// Every server instance: a byte stream that only clients on this machine may open; the engine serves
// the plug-in beside it, never a caller from the network (\\host\pipe\...).
constexpr DWORD kServerPipeMode =
    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;

HANDLE H(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}
intptr_t I(HANDLE h) {
  return reinterpret_cast<intptr_t>(h);
}
bool Valid(intptr_t h) {
  return H(h) != INVALID_HANDLE_VALUE && h != 0 && h != -1;
}

// Runs one overlapped transfer to its end. Abort sets its flag before it cancels the handle's I/O, so
// a transfer issued just before the flag was set is cancelled by Abort, and one issued after it is
// cancelled here: no polling is needed, and a waiting connection costs no processor time. With a wait
// limit (waitLeft gives the milliseconds still allowed, -1: none) the transfer is cancelled once it
// runs out and *timedOut is set.
template <class TWaitLeft>
bool FinishOverlapped(HANDLE h, OVERLAPPED& ov, BOOL started, DWORD& count, const std::atomic<bool>& aborted,
                      const TWaitLeft& waitLeft, bool* timedOut) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  bool cancelled = false;
  if (aborted.load()) {
    CancelIoEx(h, &ov);
    cancelled = true;
  }
  for (;;) {
    const int64_t left = cancelled ? -1 : waitLeft();
    const DWORD wait = left < 0 ? INFINITE : static_cast<DWORD>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left);
    if (WaitForSingleObject(ov.hEvent, wait) != WAIT_TIMEOUT) break;
    if (waitLeft() == 0) {
      CancelIoEx(h, &ov);
      cancelled = true;
      if (timedOut) *timedOut = true;
    }
  }
  return GetOverlappedResult(h, &ov, &count, TRUE) != 0;
}

int64_t NoLimit() {
  return -1;
}

std::string ErrorText(const char* what, DWORD code) {
  return std::string(what) + " failed (" + std::to_string(code) + ")";
}

}  // namespace

std::string PipePath(const std::string& name) {
  return "\\\\.\\pipe\\" + name;
}

// ---- connection ----

// Both ends are overlapped: the server's so that Stop and Abort can end a wait, the client's so that a
// read can be bounded in time.
TPipeConn::TPipeConn(intptr_t handle, bool serverSide) : FHandle(handle), FServerSide(serverSide) {
  FEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TPipeConn::~TPipeConn() {
  Close();
  if (FEvent) CloseHandle(FEvent);
}

size_t TPipeConn::Read(void* buffer, size_t size) {
  if (FAborted.load() || !Valid(FHandle) || size == 0 || !FEvent) return 0;
  DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  OVERLAPPED ov{};
  ov.hEvent = FEvent;
  ResetEvent(FEvent);
  BOOL started = ReadFile(H(FHandle), buffer, want, nullptr, &ov);
  bool timedOut = false;
  const bool ok = FinishOverlapped(
      H(FHandle), ov, started, got, FAborted, [this] { return ReadWaitLeft(); }, &timedOut);
  if (timedOut) FTimedOut = true;
  return ok ? got : 0;
}

bool TPipeConn::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (FAborted.load() || !Valid(FHandle)) return false;
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!FEvent) return false;
    OVERLAPPED ov{};
    ov.hEvent = FEvent;
    ResetEvent(FEvent);
    BOOL started = WriteFile(H(FHandle), p, chunk, nullptr, &ov);
    if (!FinishOverlapped(H(FHandle), ov, started, done, FAborted, NoLimit, nullptr)) return false;
    if (done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

void TPipeConn::Flush() {
  if (Valid(FHandle) && !FAborted.load()) FlushFileBuffers(H(FHandle));
}

void TPipeConn::Abort() {
  FAborted = true;
  std::lock_guard<std::mutex> lock(FHandleLock);
  if (Valid(FHandle)) CancelIoEx(H(FHandle), nullptr);
}

void TPipeConn::Close() {
  if (!Valid(FHandle)) return;
  // A server-side instance is never disconnected: that throws away what the client has not read yet,
  // and FlushFileBuffers on an overlapped instance need not wait for the client (under Wine it returns
  // at once), so a slow client lost its reply now and then. A closed instance still lets the client
  // read everything written before it sees the end. Each instance serves one connection only.
  if (FServerSide) Flush();
  std::lock_guard<std::mutex> lock(FHandleLock);
  CloseHandle(H(FHandle));
  FHandle = -1;
}

std::unique_ptr<TPipeConn> PipeConnect(const std::string& name, uint32_t timeoutMs, IClock& clock,
                                       int* error) {
  std::wstring path = ToWide(PipePath(name));
  uint64_t deadline = clock.NowMs() + timeoutMs;
  for (;;) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_BYTE;
      SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
      if (error) *error = 0;
      return std::unique_ptr<TPipeConn>(new TPipeConn(I(h), false));
    }
    DWORD err = GetLastError();
    bool retry = err == ERROR_PIPE_BUSY || err == ERROR_FILE_NOT_FOUND;
    if (!retry || clock.NowMs() >= deadline) {
      if (error) *error = retry ? 0 : static_cast<int>(err);
      return nullptr;
    }
    if (err == ERROR_PIPE_BUSY)
      WaitNamedPipeW(path.c_str(), 50);  // wakes as soon as an instance is free
    else
      clock.SleepMs(10);
  }
}

bool PipeExists(const std::string& name, uint32_t waitMs) {
  std::wstring path = ToWide(PipePath(name));
  if (WaitNamedPipeW(path.c_str(), waitMs)) return true;
  return GetLastError() == ERROR_SEM_TIMEOUT;  // there, but every instance is busy
}

// ---- busy pipe (tests) ----

TBusyPipe::TBusyPipe(std::string name) : FName(std::move(name)) {}

TBusyPipe::~TBusyPipe() {
  for (auto it = FHandles.rbegin(); it != FHandles.rend(); ++it) CloseHandle(H(*it));
}

bool TBusyPipe::Open() {
  std::wstring path = ToWide(PipePath(FName));
  // One instance at most, taken by a client of our own: every other client finds the pipe busy.
  HANDLE server = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   kServerPipeMode, 1, kPipeBuffer, kPipeBuffer, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE) return false;
  FHandles.push_back(I(server));
  HANDLE client =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (client == INVALID_HANDLE_VALUE) return false;
  FHandles.push_back(I(client));
  return true;
}

// ---- server ----

namespace {
HANDLE CreateInstance(const std::wstring& path, bool first) {
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  if (first) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  return CreateNamedPipeW(path.c_str(), openMode, kServerPipeMode, PIPE_UNLIMITED_INSTANCES, kPipeBuffer,
                          kPipeBuffer, 0, nullptr);
}
}  // namespace

bool TPipeServer::Open() {
  if (FOpen) return true;
  FAlreadyRunning = false;
  std::wstring path = ToWide(PipePath(FName));
  if (!FStopEvent) FStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!FConnectEvent) FConnectEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!FStopEvent || !FConnectEvent) {
    SetError(ErrorText("CreateEvent", GetLastError()), static_cast<int>(GetLastError()));
    return false;
  }
  // A named mutex held for the server's life backs the first-instance flag, which not every system
  // honours (Wine ignores it). The system drops the mutex with a process that dies.
  if (!Valid(FLock)) {
    std::wstring mutexName = ToWide("talvoran-pipe-server." + FName);
    HANDLE m = CreateMutexW(nullptr, FALSE, mutexName.c_str());
    DWORD err = GetLastError();
    if (!m || err == ERROR_ALREADY_EXISTS) {
      if (m) CloseHandle(m);
      FAlreadyRunning = m != nullptr || err == ERROR_ACCESS_DENIED;
      SetError(ErrorText("CreateNamedPipe", ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
      return false;
    }
    FLock = I(m);
  }
  HANDLE h = CreateInstance(path, true);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    CloseHandle(H(FLock));
    FLock = -1;
    // Another process owns the name: access is denied to a "first" instance, or all are taken.
    FAlreadyRunning = err == ERROR_ACCESS_DENIED || err == ERROR_PIPE_BUSY;
    SetError(ErrorText("CreateNamedPipe", err), static_cast<int>(err));
    return false;
  }
  FListen = I(h);
  FOpen = true;
  return true;
}

std::unique_ptr<TPipeConn> TPipeServer::Accept() {
  if (!FOpen) {
    SetError("pipe not open", ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (FStop.load()) return nullptr;
  std::wstring path = ToWide(PipePath(FName));
  if (!Valid(FListen)) {
    HANDLE h = CreateInstance(path, false);
    if (h == INVALID_HANDLE_VALUE) {
      SetError(ErrorText("CreateNamedPipe", GetLastError()), static_cast<int>(GetLastError()));
      return nullptr;
    }
    FListen = I(h);
  }

  OVERLAPPED ov{};
  ov.hEvent = FConnectEvent;
  ResetEvent(FConnectEvent);
  bool connected = false;
  DWORD err = 0;
  if (ConnectNamedPipe(H(FListen), &ov)) {
    connected = true;
  } else {
    err = GetLastError();
    if (err == ERROR_PIPE_CONNECTED || err == ERROR_NO_DATA) {
      // The client came between create and connect, or came, wrote and closed already (QUIT sent
      // without reading the reply): what it wrote is still there to be read.
      connected = true;
    } else if (err == ERROR_IO_PENDING) {
      HANDLE events[2] = {FConnectEvent, FStopEvent};
      DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
      DWORD unused = 0;
      if (which != WAIT_OBJECT_0) {
        CancelIoEx(H(FListen), &ov);
        GetOverlappedResult(H(FListen), &ov, &unused, TRUE);
        return nullptr;  // stopped; the instance is closed with the server
      }
      connected = GetOverlappedResult(H(FListen), &ov, &unused, FALSE) != 0;
      if (!connected) err = GetLastError();
      if (err == ERROR_NO_DATA) connected = true;
    }
  }

  // The next instance is made before this one is handed out or dropped, so the name never lapses
  // and no second server can slip in as "first".
  HANDLE next = CreateInstance(path, false);
  DWORD nextErr = next == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  intptr_t current = FListen;
  FListen = I(next);
  if (!connected) {
    DisconnectNamedPipe(H(current));
    CloseHandle(H(current));
    SetError(ErrorText("ConnectNamedPipe", err), static_cast<int>(err));
    return nullptr;
  }
  if (nextErr) SetError(ErrorText("CreateNamedPipe", nextErr), static_cast<int>(nextErr));
  return std::unique_ptr<TPipeConn>(new TPipeConn(current, true));
}

void TPipeServer::Wake() {
  if (FStopEvent) SetEvent(FStopEvent);
}

void TPipeServer::CloseListener() {
  if (Valid(FListen)) CloseHandle(H(FListen));
  FListen = -1;
  if (FConnectEvent) CloseHandle(FConnectEvent);
  if (FStopEvent) CloseHandle(FStopEvent);
  FConnectEvent = FStopEvent = nullptr;
  if (Valid(FLock)) CloseHandle(H(FLock));
  FLock = -1;
  FOpen = false;
}

}  // namespace plat
