// Programs and libraries: a started program is the host file its command line
// names; a library is a shared object opened with dlopen.
#include <dlfcn.h>
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "win32/internal.h"

extern char** environ;

using namespace hostwin;

namespace {

struct ProcessObject : Object {
  explicit ProcessObject(pid_t p) : Object(Kind::kProcess), pid(p) {}
  pid_t pid;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
};

struct ThreadObject : Object {
  ThreadObject() : Object(Kind::kThread) {}
};

struct ModuleObject : Object {
  explicit ModuleObject(void* h) : Object(Kind::kModule), handle(h) {}
  void* handle;
};

std::set<ModuleObject*> g_loaded;
std::string g_commandLine;
bool g_commandLineSet = false;
std::string g_startupTitle;
// The module handle of the program itself.
char g_selfModule;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Splits the arguments after the program token as the C runtime of Windows
// does: 2n backslashes and a quote give n backslashes and toggle quoting,
// 2n+1 give n and a literal quote, other backslashes stay as they are.
std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> arguments;
  size_t at = 0;
  for (;;) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at >= text.size()) break;
    std::string argument;
    bool quoted = false;
    while (at < text.size() && (quoted || (text[at] != ' ' && text[at] != '\t'))) {
      size_t backslashes = 0;
      while (at < text.size() && text[at] == '\\') {
        ++backslashes;
        ++at;
      }
      if (at < text.size() && text[at] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument.push_back('"');
        } else {
          quoted = !quoted;
        }
        ++at;
      } else {
        argument.append(backslashes, '\\');
        if (at < text.size() && (quoted || (text[at] != ' ' && text[at] != '\t'))) {
          // A letter of two bytes whole: its second byte is no backslash.
          const size_t size = LetterSize(text, at);
          argument.append(text, at, size);
          at += size;
        }
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

bool HasExtension(const std::string& path) {
  size_t slash = LastSeparator(path);
  const size_t colon = path.find(':');  // never the second byte of a letter
  if (colon != std::string::npos && (slash == std::string::npos || colon > slash)) slash = colon;
  const size_t dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Finds the program of a command line as CreateProcessA does without an
// application name: a quoted first token is the program; an unquoted line is
// tried run by run, each ending before a blank, shortest first, with .EXE
// added where a run has no extension, and the first that names a file wins.
// program gets the run as written, end where the arguments start.
DWORD FindProgram(const std::string& line, Resolved* found, std::string* program, size_t* end) {
  size_t at = 0;
  while (at < line.size() && IsBlank(line[at])) ++at;
  std::vector<size_t> ends;
  if (at < line.size() && line[at] == '"') {
    ++at;
    const size_t close = line.find('"', at);
    ends.push_back(close == std::string::npos ? line.size() : close);
  } else {
    for (size_t i = at; i < line.size(); ++i) {
      if (IsBlank(line[i]) && i > at) ends.push_back(i);
    }
    ends.push_back(line.size());
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  for (size_t stop : ends) {
    const std::string name = line.substr(at, stop - at);
    if (name.empty()) continue;
    *found = ResolvePath((HasExtension(name) ? name : name + ".EXE").c_str());
    struct stat info;
    if (found->error == 0 && found->exists && stat(found->host.c_str(), &info) == 0 &&
        !S_ISDIR(info.st_mode)) {
      *program = name;
      *end = stop < line.size() && line[stop] == '"' ? stop + 1 : stop;
      return 0;
    }
    // The longest run, the whole token, tells why nothing could start.
    error = found->error != 0 ? found->error : found->exists ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  }
  return error;
}

void SetOrDrop(std::vector<std::string>* environment, const std::string& name, const std::string* value) {
  const std::string prefix = name + "=";
  for (auto it = environment->begin(); it != environment->end();) {
    if (it->compare(0, prefix.size(), prefix) == 0) {
      it = environment->erase(it);
    } else {
      ++it;
    }
  }
  if (value != nullptr) environment->push_back(prefix + *value);
}

void Reap(ProcessObject* process, bool block) {
  if (process->ended) return;
  int status = 0;
  pid_t result;
  do {
    result = waitpid(process->pid, &status, block ? 0 : WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result != process->pid) return;
  NoteChild(process->pid, false);
  process->ended = true;
  if (WIFEXITED(status)) {
    process->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
  } else {
    process->exitCode = 128 + static_cast<DWORD>(WTERMSIG(status));
  }
  // A program may have changed the registry through the same machine.
  RefreshRegistryFromDisk();
}

}  // namespace

extern "C" BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID environment,
                                      LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  const ApiCall call("CreateProcessA", commandLine != nullptr ? commandLine : "");
  if (call.Fails()) return FALSE;
  if (application != nullptr || environment != nullptr || directory != nullptr) {
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);  // not used by the program
  }
  if (commandLine == nullptr || startup == nullptr || info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
  const std::string line(commandLine);
  Resolved resolved;
  std::string program;
  size_t tokenEnd = 0;
  const DWORD notFound = FindProgram(line, &resolved, &program, &tokenEnd);
  if (notFound != 0) return Fail(notFound);

  std::string error;
  if (!SaveRegistry(&error)) fprintf(stderr, "preuninst: %s\n", error.c_str());

  std::vector<std::string> argumentText = SplitArguments(line.substr(tokenEnd));
  argumentText.insert(argumentText.begin(), program);
  std::vector<char*> argv;
  for (std::string& argument : argumentText) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  std::vector<std::string> environmentText;
  for (char** entry = environ; *entry != nullptr; ++entry) environmentText.push_back(*entry);
  const std::string flags = std::to_string(startup->dwFlags);
  const std::string show = std::to_string(startup->wShowWindow);
  const std::string title = startup->lpTitle != nullptr ? startup->lpTitle : "";
  SetOrDrop(&environmentText, "WIN32_CMDLINE", &line);
  SetOrDrop(&environmentText, "WIN32_STARTUP_FLAGS", &flags);
  SetOrDrop(&environmentText, "WIN32_SHOW_WINDOW", &show);
  SetOrDrop(&environmentText, "WIN32_TITLE", startup->lpTitle != nullptr ? &title : nullptr);
  SetOrDrop(&environmentText, "PREUNINST_MACHINE", &machine->directory);
  std::vector<char*> envp;
  for (std::string& entry : environmentText) envp.push_back(&entry[0]);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const Resolved current = ResolvePath(".");
  if (current.error == 0 && current.exists) {
    posix_spawn_file_actions_addchdir_np(&actions, current.host.c_str());
  }
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, resolved.host.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    // Not a program this machine can run.
    return Fail(spawned == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED);
  }
  NoteChild(pid, true);
  info->hProcess = AddObject(new ProcessObject(pid), line);
  info->hThread = AddObject(new ThreadObject);
  info->dwProcessId = static_cast<DWORD>(pid);
  info->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  const ApiCall call("WaitForSingleObject", SubjectOf(object));
  if (call.Fails()) return WAIT_FAILED;
  ProcessObject* process = static_cast<ProcessObject*>(LookUp(object, Object::Kind::kProcess));
  if (process == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (milliseconds == INFINITE) {
    Reap(process, true);
  } else {
    for (DWORD waited = 0;; waited += 10) {
      Reap(process, false);
      if (process->ended || waited >= milliseconds) break;
      usleep(10000);
    }
  }
  return process->ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE object, LPDWORD exitCode) {
  const ApiCall call("GetExitCodeProcess", SubjectOf(object));
  if (call.Fails()) return FALSE;
  ProcessObject* process = static_cast<ProcessObject*>(LookUp(object, Object::Kind::kProcess));
  if (process == nullptr || exitCode == nullptr) return Fail(ERROR_INVALID_HANDLE);
  Reap(process, false);
  *exitCode = process->exitCode;
  return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
  const ApiCall call("CloseHandle", SubjectOf(object));
  if (call.Fails()) {
    KeepOpen(object);
    return FALSE;
  }
  // Searches end with FindClose, libraries with FreeLibrary, keys with
  // RegCloseKey; CloseHandle takes none of them.
  if (LookUp(object, Object::Kind::kFile) == nullptr && LookUp(object, Object::Kind::kProcess) == nullptr &&
      LookUp(object, Object::Kind::kThread) == nullptr && LookUp(object, Object::Kind::kToken) == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  RemoveObject(object);
  return TRUE;
}

extern "C" LPSTR WINAPI GetCommandLineA(void) {
  const ApiCall call("GetCommandLineA");
  if (!g_commandLineSet) {
    g_commandLineSet = true;
    const char* given = getenv("WIN32_CMDLINE");
    if (given != nullptr) {
      g_commandLine = given;
    } else if (FILE* file = fopen("/proc/self/cmdline", "rb")) {
      // Started by hand: the host arguments, joined with blanks.
      int c;
      while ((c = fgetc(file)) != EOF) g_commandLine.push_back(c == '\0' ? ' ' : static_cast<char>(c));
      fclose(file);
      while (!g_commandLine.empty() && g_commandLine.back() == ' ') g_commandLine.pop_back();
    }
  }
  return &g_commandLine[0];
}

extern "C" void WINAPI GetStartupInfoA(LPSTARTUPINFOA startup) {
  const ApiCall call("GetStartupInfoA");
  memset(startup, 0, sizeof(*startup));
  startup->cb = sizeof(*startup);
  if (const char* flags = getenv("WIN32_STARTUP_FLAGS"))
    startup->dwFlags = static_cast<DWORD>(strtoul(flags, nullptr, 10));
  if (const char* show = getenv("WIN32_SHOW_WINDOW"))
    startup->wShowWindow = static_cast<WORD>(strtoul(show, nullptr, 10));
  if (const char* title = getenv("WIN32_TITLE")) {
    g_startupTitle = title;
    startup->lpTitle = &g_startupTitle[0];
  }
}

namespace {

// KERNEL32 and ADVAPI32 (which the program imports) and, on NT, NTDLL,
// always loaded, and NETAPI32, loaded on NT when asked for: their handles
// find the calls a program looks up at run time because older Windows lack
// them.
enum class System { kKernel, kNative, kAdvapi, kNetapi };

const char* const kSystemNames[] = {"KERNEL32", "NTDLL", "ADVAPI32", "NETAPI32"};

ModuleObject* SystemModule(System which) {
  static ModuleObject* modules[4] = {};
  const size_t index = static_cast<size_t>(which);
  if (modules[index] == nullptr) {
    const std::string name = std::string(kSystemNames[index]) + ".DLL";
    modules[index] =
        static_cast<ModuleObject*>(LookUp(AddObject(new ModuleObject(nullptr), name), Object::Kind::kModule));
  }
  return modules[index];
}

bool IsSystemModule(const ModuleObject* module) {
  for (System which : {System::kKernel, System::kNative, System::kAdvapi, System::kNetapi}) {
    if (module == SystemModule(which)) return true;
  }
  return false;
}

// A system library by its name, with or without .DLL; false for any other.
bool SystemModuleNamed(const char* name, System* which) {
  for (size_t i = 0; i < 4; ++i) {
    const std::string plain = kSystemNames[i];
    if (EqualNoCase(name, plain) || EqualNoCase(name, plain + ".DLL")) {
      *which = static_cast<System>(i);
      return true;
    }
  }
  return false;
}

bool g_netapiLoaded = false;

FARPROC AsProcedure(void (*function)(void)) { return reinterpret_cast<FARPROC>(function); }

template <typename Function>
FARPROC ProcedureOf(Function* function) {
  return AsProcedure(reinterpret_cast<void (*)(void)>(function));
}

// The calls found by name, each from the Windows version that has it on
// (100 * major + minor); Windows 95 has none of them.
struct Export {
  System module;
  const char* name;
  FARPROC procedure;
  unsigned since;
};

const Export* FindExport(System module, const char* name) {
  static const Export exports[] = {
      {System::kKernel, "GetSystemWow64DirectoryA", ProcedureOf(&GetSystemWow64DirectoryA), 501},
      {System::kKernel, "GetFinalPathNameByHandleA", ProcedureOf(&GetFinalPathNameByHandleA), 600},
      {System::kKernel, "GetFileInformationByHandleEx", ProcedureOf(&GetFileInformationByHandleEx), 600},
      {System::kKernel, "QueryDosDeviceA", ProcedureOf(&QueryDosDeviceA), 400},
      {System::kNative, "NtCreateFile", ProcedureOf(&NtCreateFile), 400},
      {System::kNative, "NtQueryDirectoryFile", ProcedureOf(&NtQueryDirectoryFile), 400},
      {System::kNative, "NtSetInformationFile", ProcedureOf(&NtSetInformationFile), 400},
      {System::kNative, "NtClose", ProcedureOf(&NtClose), 400},
      {System::kAdvapi, "GetSecurityInfo", ProcedureOf(&GetSecurityInfo), 400},
      {System::kAdvapi, "OpenProcessToken", ProcedureOf(&OpenProcessToken), 400},
      {System::kAdvapi, "GetTokenInformation", ProcedureOf(&GetTokenInformation), 400},
      {System::kAdvapi, "LookupAccountSidW", ProcedureOf(&LookupAccountSidW), 400},
      {System::kNetapi, "NetLocalGroupGetMembers", ProcedureOf(&NetLocalGroupGetMembers), 400},
      {System::kNetapi, "NetApiBufferFree", ProcedureOf(&NetApiBufferFree), 400},
  };
  for (const Export& known : exports) {
    if (known.module == module && strcmp(known.name, name) == 0) return &known;
  }
  return nullptr;
}

}  // namespace

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  const ApiCall call("GetModuleHandleA", name != nullptr ? name : "");
  if (call.Fails()) return nullptr;
  if (name == nullptr) return reinterpret_cast<HMODULE>(&g_selfModule);
  const Machine* machine = CurrentMachine();
  const bool nt = machine == nullptr || machine->settings.nt;
  // Windows 95 has no NTDLL; NETAPI32 is there once it was loaded.
  System which = System::kKernel;
  if (SystemModuleNamed(name, &which) && (nt || which != System::kNative) &&
      (which != System::kNetapi || (nt && g_netapiLoaded))) {
    Object* module = SystemModule(which);
    return static_cast<HMODULE>(static_cast<HANDLE>(module));
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

extern "C" void WINAPI ExitProcess(UINT code) {
  const ApiCall call("ExitProcess");
  std::string error;
  if (!SaveRegistry(&error)) fprintf(stderr, "preuninst: %s\n", error.c_str());
  exit(static_cast<int>(code));
}

extern "C" BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  const ApiCall call("SetEnvironmentVariableA");
  if (call.Fails()) return FALSE;
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const int result = value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  return result == 0 ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

extern "C" void WINAPI Sleep(DWORD milliseconds) {
  const ApiCall call("Sleep");
  usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

namespace {

HMODULE LoadModule(LPCSTR name) {
  Machine* machine = CurrentMachine();
  if (name == nullptr || name[0] == '\0' || machine == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // ADVAPI32 is loaded already; NETAPI32 is NT's (the layer gives no
  // Windows 95 one). Either is found by its bare name or by its full path
  // in the system directory, as Windows keeps it there. The directory is
  // compared whole: a name is never cut at a byte that may be the second
  // of a letter.
  const std::string systemPrefix = SystemDirectory(machine->settings) + "\\";
  const std::string given(name);
  const bool inSystem =
      given.size() > systemPrefix.size() && EqualNoCase(given.substr(0, systemPrefix.size()), systemPrefix);
  const std::string plainName = inSystem ? given.substr(systemPrefix.size()) : given;
  System which = System::kKernel;
  if (SystemModuleNamed(plainName.c_str(), &which) &&
      (which == System::kAdvapi || which == System::kNetapi)) {
    if (which == System::kNetapi && !machine->settings.nt) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    if (which == System::kNetapi) g_netapiLoaded = true;
    return static_cast<HMODULE>(static_cast<HANDLE>(SystemModule(which)));
  }
  std::string file(name);
  // A name without an extension means a .DLL, as on Windows.
  if (!HasExtension(file)) file += ".DLL";
  std::vector<std::string> candidates;
  if (file.find_first_of("\\/:") != std::string::npos) {
    candidates.push_back(file);
  } else {
    candidates.push_back(SystemDirectory(machine->settings) + "\\" + file);
    candidates.push_back(machine->settings.windows + "\\" + file);
    candidates.push_back(file);
  }
  for (const std::string& candidate : candidates) {
    const Resolved resolved = ResolvePath(candidate.c_str());
    if (resolved.error != 0 || !resolved.exists) continue;
    void* handle = dlopen(resolved.host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return nullptr;
    }
    ModuleObject* module = new ModuleObject(handle);
    g_loaded.insert(module);
    return static_cast<HMODULE>(AddObject(module, name));
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // namespace

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  const ApiCall call("LoadLibraryA", name != nullptr ? name : "");
  if (call.Fails()) return nullptr;
  return LoadModule(name);
}

extern "C" HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  const ApiCall call("LoadLibraryExA", name != nullptr ? name : "");
  if (call.Fails()) return nullptr;
  // With LOAD_WITH_ALTERED_SEARCH_PATH Windows looks for the library's own
  // imports beside it; a shared object finds its imports by itself.
  if (file != nullptr || (flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadModule(name);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  const ApiCall call("GetProcAddress", name != nullptr ? name : "");
  if (call.Fails()) return nullptr;
  ModuleObject* object = static_cast<ModuleObject*>(LookUp(module, Object::Kind::kModule));
  if (object == nullptr || name == nullptr) {
    SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (IsSystemModule(object)) {
    // Calls of later NT-family Windows, each from its version on.
    const Machine* machine = CurrentMachine();
    System which = System::kKernel;
    SystemModuleNamed(object->subject.c_str(), &which);
    const Export* found = FindExport(which, name);
    if (found != nullptr && machine != nullptr && machine->settings.nt && WindowsVersion() >= found->since) {
      return found->procedure;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(object->handle, name);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC procedure;
  static_assert(sizeof(procedure) == sizeof(symbol), "function and data pointers differ");
  memcpy(&procedure, &symbol, sizeof(procedure));
  return procedure;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE module) {
  const ApiCall call("FreeLibrary", SubjectOf(module));
  if (call.Fails()) {
    KeepOpen(module);
    return FALSE;
  }
  ModuleObject* object = static_cast<ModuleObject*>(LookUp(module, Object::Kind::kModule));
  if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (IsSystemModule(object)) {
    // The ones always loaded stay; NETAPI32 goes (the layer keeps no count
    // of its loads).
    if (object == SystemModule(System::kNetapi)) g_netapiLoaded = false;
    return TRUE;
  }
  g_loaded.erase(object);
  dlclose(object->handle);
  RemoveObject(module);
  return TRUE;
}

void hostwin::UnloadLibraries(bool all) {
  for (auto it = g_loaded.begin(); it != g_loaded.end();) {
    ModuleObject* module = *it;
    if (!all && !module->kept) {
      ++it;
      continue;
    }
    dlclose(module->handle);
    RemoveObject(module);
    it = g_loaded.erase(it);
  }
}

void HostSetCommandLine(const char* commandLine) {
  g_commandLine = commandLine != nullptr ? commandLine : "";
  g_commandLineSet = true;
}
