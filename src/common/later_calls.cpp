#include "common/later_calls.h"

#include "common/strings.h"

bool FindSystemCalls(const char* library, const char* names, FARPROC* found) {
  const HMODULE module = GetModuleHandleA(library);
  bool all = module != nullptr;
  for (; *names != '\0'; names += StrLength(names) + 1, ++found) {
    *found = module != nullptr ? GetProcAddress(module, names) : nullptr;
    all = all && *found != nullptr;
  }
  return all;
}

void FindLaterCalls(LaterCalls* calls) {
  FARPROC found[4];
  FindSystemCalls("KERNEL32.DLL",
                  "GetSystemWow64DirectoryA\0GetFinalPathNameByHandleA\0QueryDosDeviceA\0"
                  "GetFileInformationByHandleEx\0",
                  found);
  calls->wow64Directory = AsCall<Wow64DirectoryCall>(found[0]);
  calls->finalPathName = AsCall<FinalPathNameCall>(found[1]);
  calls->dosDevice = AsCall<DosDeviceCall>(found[2]);
  calls->fileInformation = AsCall<FileInformationCall>(found[3]);
}
