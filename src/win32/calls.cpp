// Every Win32 call the program makes: counted, and made to fail or to end
// the process where machine.ini's [fail calls] says, so that a test can try
// each failure a run can meet.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>

#include "win32/internal.h"

namespace hostwin {
namespace {

// Each call and the error Windows most often gives when it fails; 0 for a
// call that cannot fail (only "exit" applies to it).
struct CallFailure {
  const char* name;
  DWORD error;
};

const CallFailure kCalls[] = {
    {"CharNextA", 0},
    {"CharPrevA", 0},
    {"CloseHandle", ERROR_INVALID_HANDLE},
    {"CreateDirectoryA", ERROR_ACCESS_DENIED},
    {"CreateFileA", ERROR_ACCESS_DENIED},
    {"CreateProcessA", ERROR_FILE_NOT_FOUND},
    {"CreateSymbolicLinkA", ERROR_ACCESS_DENIED},
    {"DeleteFileA", ERROR_ACCESS_DENIED},
    {"DeviceIoControl", ERROR_NOT_A_REPARSE_POINT},
    {"ExitProcess", 0},
    {"FindClose", ERROR_INVALID_HANDLE},
    {"FindFirstFileA", ERROR_FILE_NOT_FOUND},
    {"FindNextFileA", ERROR_NO_MORE_FILES},
    {"FreeLibrary", ERROR_INVALID_HANDLE},
    {"GetCommandLineA", 0},
    {"GetCurrentProcess", 0},
    {"GetDriveTypeA", ERROR_PATH_NOT_FOUND},
    {"GetExitCodeProcess", ERROR_INVALID_HANDLE},
    {"GetFileAttributesA", ERROR_FILE_NOT_FOUND},
    {"GetFileInformationByHandle", ERROR_ACCESS_DENIED},
    {"GetFileInformationByHandleEx", ERROR_ACCESS_DENIED},
    {"GetFileSize", ERROR_INVALID_HANDLE},
    {"GetFinalPathNameByHandleA", ERROR_PATH_NOT_FOUND},
    {"GetFullPathNameA", ERROR_INVALID_NAME},
    {"GetLastError", 0},
    {"GetLogicalDrives", ERROR_NOT_ENOUGH_MEMORY},
    {"GetModuleHandleA", ERROR_MOD_NOT_FOUND},
    {"GetProcAddress", ERROR_PROC_NOT_FOUND},
    {"GetSecurityInfo", ERROR_ACCESS_DENIED},
    {"GetShortPathNameA", ERROR_FILE_NOT_FOUND},
    {"GetStartupInfoA", 0},
    {"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
    {"GetSystemWow64DirectoryA", ERROR_CALL_NOT_IMPLEMENTED},
    {"GetTokenInformation", ERROR_ACCESS_DENIED},
    {"GetVersion", 0},
    {"GetVersionExA", ERROR_INVALID_PARAMETER},
    {"GetVolumeInformationA", ERROR_NOT_READY},
    {"GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
    {"IsDBCSLeadByte", 0},
    {"LoadLibraryA", ERROR_MOD_NOT_FOUND},
    {"LoadLibraryExA", ERROR_MOD_NOT_FOUND},
    {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY},
    {"LocalFree", ERROR_INVALID_HANDLE},
    {"LookupAccountSidW", ERROR_NONE_MAPPED},
    {"MessageBoxA", ERROR_NOT_ENOUGH_MEMORY},
    {"MessageBoxW", ERROR_NOT_ENOUGH_MEMORY},
    {"MoveFileExA", ERROR_ACCESS_DENIED},
    {"MultiByteToWideChar", ERROR_INVALID_PARAMETER},
    // NETAPI32's calls return their error.
    {"NetApiBufferFree", ERROR_INVALID_PARAMETER},
    {"NetLocalGroupGetMembers", ERROR_ACCESS_DENIED},
    // The native calls return an NTSTATUS.
    {"NtClose", kStatusInvalidHandle},
    {"NtCreateFile", kStatusAccessDenied},
    {"NtQueryDirectoryFile", kStatusNoMoreFiles},
    {"NtSetInformationFile", kStatusAccessDenied},
    {"OpenProcessToken", ERROR_ACCESS_DENIED},
    {"QueryDosDeviceA", ERROR_FILE_NOT_FOUND},
    {"ReadFile", ERROR_READ_FAULT},
    {"RegCloseKey", ERROR_INVALID_HANDLE},
    {"RegCreateKeyA", ERROR_ACCESS_DENIED},
    {"RegDeleteKeyA", ERROR_ACCESS_DENIED},
    {"RegDeleteValueA", ERROR_ACCESS_DENIED},
    {"RegEnumKeyExA", ERROR_NO_MORE_ITEMS},
    {"RegEnumValueA", ERROR_NO_MORE_ITEMS},
    {"RegOpenKeyExA", ERROR_ACCESS_DENIED},
    {"RegQueryValueExA", ERROR_FILE_NOT_FOUND},
    {"RegSetValueExA", ERROR_ACCESS_DENIED},
    {"RemoveDirectoryA", ERROR_ACCESS_DENIED},
    {"SetEndOfFile", ERROR_DISK_FULL},
    {"SetEnvironmentVariableA", ERROR_NOT_ENOUGH_MEMORY},
    {"SetFileAttributesA", ERROR_ACCESS_DENIED},
    {"SetFilePointer", ERROR_INVALID_PARAMETER},
    {"Sleep", 0},
    {"WaitForSingleObject", ERROR_INVALID_HANDLE},
    {"WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER},
    {"WriteFile", ERROR_DISK_FULL},
    {"WritePrivateProfileStringA", ERROR_ACCESS_DENIED},
    {"lstrcatA", 0},
    {"lstrcmpiA", 0},
    {"lstrlenA", 0},
};

const int kExitStatus = 255;  // what a killed process reports

bool g_counting = false;  // only the program under test, not the programs it starts
unsigned long g_callIndex = 0;
FILE* g_trace = nullptr;
thread_local int g_depth = 0;
std::map<std::string, unsigned long> g_counts;
std::set<int> g_children;

const CallFailure* FindCall(const std::string& name) {
  for (const CallFailure& call : kCalls) {
    if (name == call.name) return &call;
  }
  return nullptr;
}

void WaitForChildren() {
  for (int child : g_children) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  g_children.clear();
}

void WriteCounts() {
  const Machine* machine = CurrentMachine();
  if (machine == nullptr || !machine->settings.callCounts) return;
  const std::string file = JoinHost(machine->directory, "calls.txt");
  FILE* out = fopen(file.c_str(), "w");
  if (out == nullptr) return;
  for (const auto& count : g_counts) fprintf(out, "%s %lu\n", count.first.c_str(), count.second);
  fclose(out);
}

void EndRun(bool cut) {
  WaitForChildren();
  UnloadLibraries(cut);
  WriteCounts();
  CloseObjectsAtEnd(cut);
  FreeKeptMemory();
}

void AtEnd() { EndRun(false); }

// As a power cut or a killed process: nothing after this call runs. What
// the calls before it wrote stays, the registry included; the programs it
// started run to their end, as they would on Windows.
[[noreturn]] void EndNow() {
  std::string error;
  SaveRegistry(&error);
  EndRun(true);
  fflush(nullptr);
  _exit(kExitStatus);
}

}  // namespace

bool ParseFailCall(const std::string& line, FailCall* call, std::string* error) {
  char name[64] = "";
  char how[32] = "";
  unsigned long nth = 0;
  char rest = '\0';
  const int fields = sscanf(line.c_str(), "%63s %lu %31s %c", name, &nth, how, &rest);
  const CallFailure* known = FindCall(name);
  if (fields < 2 || fields > 3 || nth == 0 || known == nullptr) {
    *error = known == nullptr && fields >= 1 ? std::string("no Win32 call ") + name
                                             : "expected NAME N [ERROR|exit], N from 1";
    return false;
  }
  call->name = name;
  call->nth = nth;
  call->exit = fields == 3 && strcmp(how, "exit") == 0;
  call->error = known->error;
  if (fields == 3 && !call->exit) {
    char* end = nullptr;
    call->error = static_cast<DWORD>(strtoul(how, &end, 0));
    if (*end != '\0' || how[0] == '-') {
      *error = "the error must be a number or exit";
      return false;
    }
  }
  return true;
}

bool ParseRace(const std::string& line, Race* race, std::string* error) {
  const char* const form = "expected NAME N = swap|link|rename|hollow PATH = TARGET, N from 1";
  const size_t first = line.find('=');
  const size_t second = first == std::string::npos ? first : line.find('=', first + 1);
  char name[64] = "";
  unsigned long nth = 0;
  char rest = '\0';
  if (second == std::string::npos ||
      sscanf(line.substr(0, first).c_str(), "%63s %lu %c", name, &nth, &rest) != 2 || nth == 0) {
    *error = form;
    return false;
  }
  if (FindCall(name) == nullptr) {
    *error = std::string("no Win32 call ") + name;
    return false;
  }
  const auto trim = [](const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
  };
  const std::string action = trim(line.substr(first + 1, second - first - 1));
  const size_t blank = action.find_first_of(" \t");
  race->line = line;
  race->name = name;
  race->nth = nth;
  race->action = action.substr(0, blank);
  race->path = blank == std::string::npos ? "" : trim(action.substr(blank));
  race->target = trim(line.substr(second + 1));
  if ((race->action != "swap" && race->action != "link" && race->action != "rename" && race->action != "hollow") ||
      race->path.empty() ||
      race->target.empty()) {
    *error = form;
    return false;
  }
  return true;
}

void StartCounting() {
  static bool registered = false;
  if (!registered) {
    registered = true;
    atexit(AtEnd);
  }
  g_counting = true;
  g_counts.clear();
  g_callIndex = 0;
  // One line per counted call, in order: index, name, its number, subject.
  const char* trace = getenv("PREUNINST_CALL_TRACE");
  if (g_trace == nullptr && trace != nullptr && trace[0] != '\0') g_trace = fopen(trace, "w");
}

void StopCounting() { g_counting = false; }

void NoteChild(int child, bool running) {
  if (running) {
    g_children.insert(child);
  } else {
    g_children.erase(child);
  }
}

ApiCall::ApiCall(const char* name, const std::string& subject) {
  Machine* machine = CurrentMachine();
  if (g_depth++ > 0 || !g_counting || machine == nullptr) return;
  const unsigned long nth = ++g_counts[name];
  if (g_trace != nullptr) {
    fprintf(g_trace, "%lu %s %lu %s\n", ++g_callIndex, name, nth, subject.c_str());
    fflush(g_trace);
  }
  for (const Race& race : machine->settings.races) {
    if (race.nth != nth || race.name != name) continue;
    const DWORD refused = CarryOutRace(race);
    FILE* out = fopen(JoinHost(machine->directory, "races.txt").c_str(), "a");
    if (out != nullptr) {
      if (refused == 0) {
        fprintf(out, "%s done\n", race.line.c_str());
      } else {
        fprintf(out, "%s refused %lu\n", race.line.c_str(), static_cast<unsigned long>(refused));
      }
      fclose(out);
    }
  }
  for (const FailCall& call : machine->settings.failCalls) {
    if (call.nth != nth || call.name != name) continue;
    if (call.exit) EndNow();
    fails_ = FindCall(name)->error != 0;
    error_ = call.error;
    if (fails_) SetLastError(error_);
  }
}

ApiCall::~ApiCall() { --g_depth; }

}  // namespace hostwin

using namespace hostwin;

HostUncountedCalls::HostUncountedCalls() { ++g_depth; }

HostUncountedCalls::~HostUncountedCalls() { --g_depth; }

void HostFailCall(const char* name, unsigned long after, unsigned long error) {
  Machine* machine = CurrentMachine();
  const CallFailure* known = FindCall(name);
  if (machine == nullptr || known == nullptr) return;
  FailCall call;
  call.name = name;
  call.nth = g_counts[name] + after + 1;
  call.error = error != 0 ? static_cast<DWORD>(error) : known->error;
  machine->settings.failCalls.push_back(call);
}

void HostClearFaults() {
  Machine* machine = CurrentMachine();
  if (machine != nullptr) machine->settings.failCalls.clear();
}
