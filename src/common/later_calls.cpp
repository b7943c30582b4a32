#include "common/later_calls.h"

FARPROC SystemCall(const char* library, const char* name) {
  const HMODULE module = GetModuleHandleA(library);
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

void FindLaterCalls(LaterCalls* calls) {
  const HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  const auto find = [kernel](const char* name) { return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr; };
  calls->wow64Directory = AsCall<Wow64DirectoryCall>(find("GetSystemWow64DirectoryA"));
  calls->finalPathName = AsCall<FinalPathNameCall>(find("GetFinalPathNameByHandleA"));
  calls->dosDevice = AsCall<DosDeviceCall>(find("QueryDosDeviceA"));
  calls->fileInformation = AsCall<FileInformationCall>(find("GetFileInformationByHandleEx"));
}
