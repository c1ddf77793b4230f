#include <windows.h>

#include "pCopyFile.h"
#include "wText.h"

namespace plat {

namespace {

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER,
                                   LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
  const auto* progress = static_cast<const TCopyProgress*>(data);
  if (!progress || !*progress) return PROGRESS_CONTINUE;
  return (*progress)(total.QuadPart, transferred.QuadPart) ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

}  // namespace

TCopyResult CopyFileWithProgress(const std::string& source, const std::string& target, bool overwrite,
                                 const TCopyProgress& progress) {
  BOOL cancel = FALSE;
  if (CopyFileExW(ToWide(source).c_str(), ToWide(target).c_str(), CopyProgressRoutine,
                  const_cast<TCopyProgress*>(&progress), &cancel, overwrite ? 0 : COPY_FILE_FAIL_IF_EXISTS))
    return TCopyResult::Ok;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return TCopyResult::SourceNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return TCopyResult::TargetExists;
    case ERROR_REQUEST_ABORTED:
      return TCopyResult::Aborted;
    default:
      return TCopyResult::Failed;
  }
}

}  // namespace plat
