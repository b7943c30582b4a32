// Calls that Windows 95 or NT 4 lack, looked up by name at run time, so
// that the program still starts there. Those of KERNEL32 are looked up once
// a run, so that every place the run tells is told the same way.
#ifndef PREUNINST_COMMON_LATER_CALLS_H
#define PREUNINST_COMMON_LATER_CALLS_H

#include "common/platform.h"

typedef UINT(WINAPI* Wow64DirectoryCall)(LPSTR, UINT);                                         // XP
typedef DWORD(WINAPI* FinalPathNameCall)(HANDLE, LPSTR, DWORD, DWORD);                         // Vista
typedef DWORD(WINAPI* DosDeviceCall)(LPCSTR, LPSTR, DWORD);                                    // NT
typedef BOOL(WINAPI* FileInformationCall)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);  // Vista

// Each null where this Windows lacks it.
struct LaterCalls {
  Wow64DirectoryCall wow64Directory;
  FinalPathNameCall finalPathName;
  DosDeviceCall dosDevice;
  FileInformationCall fileInformation;
};

void FindLaterCalls(LaterCalls* calls);

// The calls of a system library the process has loaded, by their names
// (each ended by a zero byte, the last by two), into found, a call not
// there null; false where the library or a call is not there.
bool FindSystemCalls(const char* library, const char* names, FARPROC* found);

// Through void(*)(void), the one function type every other converts to
// without a warning.
template <typename Call>
Call AsCall(FARPROC procedure) {
  return reinterpret_cast<Call>(reinterpret_cast<void (*)(void)>(procedure));
}

#endif
