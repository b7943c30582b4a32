#include "main/inuse.h"

#include "common/places.h"
#include "common/platform.h"
#include "common/strings.h"
#include "main/messages.h"
#include "text/texts.h"

int IsFileLocked(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return 0;
  }
  // Only a file that is not there is free: an open refused for any other
  // reason (in use, read-only, or a failure) keeps the removal from going on.
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return 0;
    default:
      return 1;
  }
}

int CheckComponentFree(const char* directory, const char* name) {
  char path[460];
  // A path too long to name cannot be tested; it is passed over like a file
  // that is not there.
  if (!StrCopy(path, CountOf(path), directory) || !StrAppend(path, CountOf(path), name)) return 1;
  if (!IsFileLocked(path)) return 1;
  char named[464];
  StrFormat(named, CountOf(named), "(%s)", path);
  ShowMessage(kComponentInUseWarning, named, MB_OK | MB_ICONWARNING);
  return 0;
}

int CheckAllComponentsFree(const char* programDir) {
  for (const char* name : kProgramComponents) {
    if (!CheckComponentFree(programDir, name)) return 0;
  }
  char systemDir[262];
  // Without the system directory there is nothing to test there.
  if (!SystemDirectoryWith(systemDir, CountOf(systemDir), "\\")) return 1;
  for (const char* name : kSystemComponents) {
    if (!CheckComponentFree(systemDir, name)) return 0;
  }
  return 1;
}
