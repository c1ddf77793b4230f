#pragma once
// The host's side of the file-system and lister plug-in interface, declared here from its published
// description: the callback shapes the host hands over, the records it passes, its result constants,
// and the calling convention of the exports.
//
// Two ABIs, one source:
// - Windows: the exports are stdcall (undecorated through the .def file), text is wchar_t UTF-16 or
//   ANSI in the system code page, the find-data records are the system's WIN32_FIND_DATAW/A.
// - Linux (hosts that load these plug-ins as shared objects): plain C calling convention and C
//   linkage, UTF-16 as char16_t (wchar_t is 32-bit there), the find-data records laid out as on
//   Windows (FILETIME as two 32-bit halves, no padding), BOOL as int, an invalid handle of -1.
//
// Only the export layer (wfxExports.cpp) and the test host include this header; nothing here keeps
// state.
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#define WFX_CALL __stdcall
using TWfxChar = wchar_t;
using TWfxFindDataW = WIN32_FIND_DATAW;
using TWfxFindDataA = WIN32_FIND_DATAA;
using TWfxWindow = HWND;
using TWfxIcon = HICON;
using TWfxBitmap = HBITMAP;
using TWfxHandle = HANDLE;
using TWfxBool = BOOL;
#else
#define WFX_CALL
using TWfxChar = char16_t;
using TWfxWindow = void*;
using TWfxIcon = void*;
using TWfxBitmap = void*;
using TWfxHandle = void*;
using TWfxBool = int;

#pragma pack(push, 1)
struct TWfxFileTime {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};
struct TWfxFindDataW {
  uint32_t dwFileAttributes;
  TWfxFileTime ftCreationTime;
  TWfxFileTime ftLastAccessTime;
  TWfxFileTime ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char16_t cFileName[260];
  char16_t cAlternateFileName[14];
};
struct TWfxFindDataA {
  uint32_t dwFileAttributes;
  TWfxFileTime ftCreationTime;
  TWfxFileTime ftLastAccessTime;
  TWfxFileTime ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char cFileName[260];
  char cAlternateFileName[14];
};
#pragma pack(pop)
static_assert(sizeof(TWfxFindDataW) == 592 && offsetof(TWfxFindDataW, nFileSizeHigh) == 28 &&
                  offsetof(TWfxFindDataW, cFileName) == 44,
              "the find-data record has the Windows layout");
#endif

// The listing handle that means "none".
inline TWfxHandle WfxInvalidHandle() {
  return reinterpret_cast<TWfxHandle>(intptr_t(-1));
}

// Callbacks the host hands to the initialisation exports.
extern "C" {
typedef int(WFX_CALL* TWfxProgressProcW)(int pluginNr, const TWfxChar* sourceName, const TWfxChar* targetName,
                                         int percentDone);
typedef void(WFX_CALL* TWfxLogProcW)(int pluginNr, int msgType, const TWfxChar* logString);
typedef TWfxBool(WFX_CALL* TWfxRequestProcW)(int pluginNr, int requestType, const TWfxChar* customTitle,
                                             const TWfxChar* customText, TWfxChar* returnedText, int maxlen);
typedef int(WFX_CALL* TWfxProgressProcA)(int pluginNr, const char* sourceName, const char* targetName,
                                         int percentDone);
typedef void(WFX_CALL* TWfxLogProcA)(int pluginNr, int msgType, const char* logString);
typedef TWfxBool(WFX_CALL* TWfxRequestProcA)(int pluginNr, int requestType, const char* customTitle,
                                             const char* customText, char* returnedText, int maxlen);
}

// The block FsSetDefaultParams receives (not used by this plug-in).
struct TWfxDefaultParams {
  int32_t size;
  uint32_t PluginInterfaceVersionLow;
  uint32_t PluginInterfaceVersionHi;
  char DefaultIniName[260];
};

// Request types of the request callback.
constexpr int kWfxRtOther = 0;
constexpr int kWfxRtMsgOk = 8;  // a message with an OK button (used where no message box exists)

// Buffers the host owns: characters unless the host passes a length.
constexpr int kWfxMaxPath = 260;
