#include "main/uninstall.h"

#include "common/later_calls.h"
#include "common/letters.h"
#include "common/paths.h"
#include "common/places.h"
#include "common/strings.h"
#include "files/sweeps.h"
#include "files/trust.h"
#include "files/walk.h"
#include "main/inuse.h"
#include "main/messages.h"
#include "main/process.h"
#include "main/program_directory.h"
#include "registry/cleanup.h"
#include "registry/shared_dlls.h"
#include "registry/values.h"
#include "text/texts.h"

namespace {

// Every working string of one run. All of them start empty; the directories
// and command lines stay empty when the program directory cannot be read.
struct RunStrings {
  char text[520];         // confirmation, then the directory value, then the restart notice
  char interpreter[260];  // <Windows>\COMMAND.COM
  char keyPath[256];
  char programDir[460];   // P: short form of the value and a backslash
  char productRoot[260];  // R
  char userDir[460];      // U
  char controlLibrary[460];
  char unloadCommand[460];     // QBPMNLDR, Windows 95
  char removeCommand[460];     // TAVCC, NT
  char faxSetupCommand[460];   // FXPSET, both
  char linkSetupCommand[460];  // LNKSETUP, NT
  char exchangeLibrary[520];
  char windowsDir[260];  // W
  char languageModule[520];
  char resolvedDir[460];  // the directory value made full, as checked
  // NT-family Windows: the calls later Windows have; P's places held from
  // their check to the end of the removal, but for the main uninstaller,
  // and what they were at the check; the Windows directory as it was before
  // the main uninstaller.
  LaterCalls calls;
  ProgramPlaces places;
  HeldDirectories checked;
  bool windowsTold;
  DirectoryIdentity windows;
};

void ClearDerivedStrings(RunStrings* run) {
  run->programDir[0] = '\0';
  run->userDir[0] = '\0';
  run->controlLibrary[0] = '\0';
  run->unloadCommand[0] = '\0';
  run->removeCommand[0] = '\0';
  run->faxSetupCommand[0] = '\0';
  run->linkSetupCommand[0] = '\0';
}

bool HasBlank(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text == ' ' || *text == '\t') return true;
  }
  return false;
}

// Appends directory+name (name may be null) as the program of a command line,
// in quotes when the directory holds a blank (8.3 names can be switched off):
// unquoted, CreateProcessA would try C:\Program.exe and the like first.
bool AppendProgram(char* line, size_t capacity, const char* directory, const char* name) {
  const char* const quote = HasBlank(directory) ? "\"" : "";
  return StrAppend(line, capacity, quote) && StrAppend(line, capacity, directory) &&
         StrAppend(line, capacity, name) && StrAppend(line, capacity, quote);
}

bool FormatCommand(char* line, size_t capacity, const char* directory, const char* program,
                   const char* arguments) {
  line[0] = '\0';
  return AppendProgram(line, capacity, directory, program) && StrAppend(line, capacity, arguments);
}

// Reads the directory value into run->text as a terminated string; false
// when there is none, it is no REG_SZ or it is too long. A read that fails
// although the value is there is made once more: one failing call would
// otherwise make the suite's place unknown to the check of its components.
bool ReadDirectoryValue(RunStrings* run) {
  DWORD type = REG_NONE;
  DWORD size = CountOf(run->text);
  BYTE* const data = reinterpret_cast<BYTE*>(run->text);
  bool read = RegReadValue(HKEY_LOCAL_MACHINE, run->keyPath, kDirectoryValueName, &type, data, &size) == 0;
  if (!read && RegValueExists(HKEY_LOCAL_MACHINE, run->keyPath, kDirectoryValueName)) {
    size = CountOf(run->text);
    read = RegReadValue(HKEY_LOCAL_MACHINE, run->keyPath, kDirectoryValueName, &type, data, &size) == 0;
  }
  if (!read || type != REG_SZ) return false;
  // A stored string need not end in a terminator; one that fills the whole
  // buffer without one is too long to use.
  if (size > 0 && run->text[size - 1] == '\0') return true;
  if (size >= CountOf(run->text)) return false;
  run->text[size] = '\0';
  return true;
}

// Fills P, U, the control library path and this platform's command lines from
// the directory value in run->text. All or nothing: when the value is no
// usable directory, its short form cannot be had, or anything built from it
// does not fit, everything stays empty, so that no remover is started and
// nothing is swept from a place the product does not own.
void DeriveFromDirectoryValue(RunStrings* run, int isNt) {
  char* const longDir = run->resolvedDir;
  char shortDir[460];
  if (!ResolveProgramDirectory(run->text, longDir, CountOf(run->resolvedDir), isNt, run->calls, &run->places)) {
    ReleaseAllHeld(&run->places.held);
    return;
  }
  run->checked = run->places.held;
  const DWORD length = GetShortPathNameA(longDir, shortDir, CountOf(shortDir));
  if (length == 0 || length >= CountOf(shortDir)) {
    ReleaseAllHeld(&run->places.held);
    return;
  }

  char* const p = run->programDir;
  bool fits = StrCopy(p, CountOf(run->programDir), shortDir) &&
              StrAppend(p, CountOf(run->programDir), "\\") &&
              StrFormat(run->controlLibrary, CountOf(run->controlLibrary), "%sTAVMDM.OCX", p);
  if (isNt == 1) {
    fits = fits &&
           FormatCommand(run->removeCommand, CountOf(run->removeCommand), p, "TAVCC.EXE", " /REMOVE") &&
           FormatCommand(run->faxSetupCommand, CountOf(run->faxSetupCommand), p, "FXPSET.EXE", " -r -d") &&
           FormatCommand(run->linkSetupCommand, CountOf(run->linkSetupCommand), p, "LNKSETUP.EXE", " -r");
  } else if (isNt == 0) {
    // FXPSET runs through the interpreter. Without the Windows directory,
    // or room for the interpreter's name, that command cannot be built like
    // one too long: all or nothing, so that a failing call never lets a run
    // do what it would not do when the call works.
    char* const fax = run->faxSetupCommand;
    fits = fits && FormatCommand(run->unloadCommand, CountOf(run->unloadCommand), p, "QBPMNLDR.EXE", " /U") &&
           run->interpreter[0] != '\0' &&
           FormatCommand(fax, CountOf(run->faxSetupCommand), run->interpreter, nullptr, " /C ") &&
           AppendProgram(fax, CountOf(run->faxSetupCommand), p, "FXPSET.EXE") &&
           StrAppend(fax, CountOf(run->faxSetupCommand), " -r");
  }
  // U comes from the long form: its parent directory and USER\.
  fits = fits && StrCopy(run->userDir, CountOf(run->userDir), longDir);
  if (fits) {
    StripLastDirectory(run->userDir);
    fits = StrAppend(run->userDir, CountOf(run->userDir), "USER\\");
  }
  if (!fits) {
    ClearDerivedStrings(run);
    ReleaseAllHeld(&run->places.held);
  }
}

// The main uninstaller may remove the program directory itself: it runs
// with nothing held.
void LetGoOfPlaces(void* context) { ReleaseAllHeld(static_cast<HeldDirectories*>(context)); }

// After the main uninstaller the program directory's places are held
// again; they must be the very directories the check held, or another
// program has swapped one of them meanwhile and nothing is swept.
bool HoldPlacesAgain(RunStrings* run) {
  if (HoldProgramDirectory(run->resolvedDir, run->calls, &run->places) && SameHeld(run->places.held, run->checked)) {
    return true;
  }
  ReleaseAllHeld(&run->places.held);
  return false;
}

// The Windows directory held with each directory of its path, no link on
// the way (NT-family Windows), and what it is.
bool HoldWindowsDirectory(const LaterCalls& calls, HeldDirectories* held, DirectoryIdentity* identity) {
  char windowsDir[260];
  if (!WindowsDirectoryWith(windowsDir, CountOf(windowsDir), "") || !HoldPathWithoutLinks(windowsDir, calls, held) ||
      held->count == 0) {
    return false;
  }
  *identity = held->identities[held->count - 1];
  return true;
}

// The product's tree, walked through the handles of the places held again.
void CleanProgramTree(RunStrings* run) {
  NativeCalls calls;
  ProductTree tree;
  tree.driveRoot = INVALID_HANDLE_VALUE;
  if (FindNativeCalls(run->calls, &calls) && OpenProductTree(run->places, run->resolvedDir, &tree)) {
    CleanProductTree(calls, tree, &run->places.held);
  }
  CloseProductTree(&tree);
}

// Loads a library, calls one export that takes no arguments, and lets it go.
// The library's own imports are looked for beside it first, not beside this
// program or in the current directory.
void CallLibraryExport(const char* path, const char* exportName) {
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return;
  FARPROC procedure = GetProcAddress(library, exportName);
  if (procedure != nullptr) {
    typedef LONG(WINAPI * NoArgumentExport)(void);
    // Through void(*)(void), the one function type every other converts to
    // without a warning.
    reinterpret_cast<NoArgumentExport>(reinterpret_cast<void (*)(void)>(procedure))();
  }
  FreeLibrary(library);
}

// The programs and libraries of P that run elevated, in the order they run.
const char* const kCodeOfP[] = {"TAVMDM.OCX", "TAVCC.EXE", "FXPSET.EXE", "LNKSETUP.EXE", "mxhook32.dll"};
const int kCodeCount = sizeof(kCodeOfP) / sizeof(kCodeOfP[0]);

// NT: holds P's programs and libraries against change until they have run
// and judges them together with P, every directory above it and every link
// on its way. One of them open to others says that the installation lets
// others write P's code, and the removers load the suite's own libraries
// from P, which no list here names: then nothing of P runs. The main
// uninstaller, the sweeps and the registry clean-up go on.
bool MayRunCodeOfP(const RunStrings& run, HANDLE* files) {
  char path[520];
  const HANDLE root = OpenDriveRoot(run.places.real);
  for (int i = 0; i < kCodeCount; ++i) {
    files[i] = StrFormat(path, CountOf(path), "%s%s", run.programDir, kCodeOfP[i])
                   ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                   : nullptr;
    // Only a file that is not there is passed over; one that cannot be
    // opened otherwise cannot be judged.
    if (files[i] == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) files[i] = nullptr;
  }
  const bool may = MayRunCodeFrom(root, run.places.held, files, kCodeCount);
  if (root != INVALID_HANDLE_VALUE) CloseHandle(root);
  return may;
}

// On an unknown platform every command line is empty: nothing runs.
void RunComponentRemovers(RunStrings* run, int isNt) {
  char noTitle[] = "";
  if (isNt != 0) {
    RunProgram(run->removeCommand, 0, noTitle);
    RunProgram(run->faxSetupCommand, 1, noTitle);
    RunProgram(run->linkSetupCommand, 1, noTitle);
  } else {
    RunProgram(run->unloadCommand, 0, noTitle);
    RunProgram(run->faxSetupCommand, 0, noTitle);
  }
}

// What is left after the main uninstaller succeeded. On NT-family Windows
// the Windows directory's own files go only where it is the very directory
// it was before the main uninstaller, its path held to the end.
void RemoveLeftovers(RunStrings* run, int isNt) {
  const bool nt = isNt != 0;
  HeldDirectories windows;
  windows.count = 0;
  DirectoryIdentity windowsNow;
  const bool windowsSure = (!nt || (run->windowsTold && HoldWindowsDirectory(run->calls, &windows, &windowsNow) &&
                                    SameIdentity(windowsNow, run->windows))) &&
                           WindowsDirectoryWith(run->windowsDir, CountOf(run->windowsDir), "\\");
  // With no program directory, or a root too long for its buffer, every name
  // of the file clean-up would be taken relative to the current directory.
  if (run->programDir[0] != '\0' && StrCopy(run->productRoot, CountOf(run->productRoot), run->programDir)) {
    if (!nt) {
      StripLastDirectory(run->productRoot);
      CleanProductFiles(run->productRoot, run->programDir, run->userDir);
    } else if (HoldPlacesAgain(run)) {
      CleanProgramTree(run);
      if (windowsSure) DeleteFiles(run->windowsDir, "TAVFAXDV.INI");
    }
  }
  ReleaseAllHeld(&run->places.held);
  CleanRegistry(run->keyPath);

  if (windowsSure && StrFormat(run->languageModule, CountOf(run->languageModule), "TAV%s.EXE", "GER")) {
    DeleteSharedFiles(run->windowsDir, run->languageModule);
    DeleteSharedFiles(run->windowsDir, "TAVUNINS.EXE");
  }
  ReleaseAllHeld(&windows);

  StrCopy(run->text, CountOf(run->text), kRestartNotice);
  ShowMessage(run->text, nullptr, MB_OK | MB_ICONWARNING);
}

}  // namespace

int IsWindowsNT(void) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version)) return kUnknownPlatform;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

int UninstallMain(HINSTANCE instance, char* commandLine, int showState) {
  (void)instance;
  (void)showState;
  RunStrings run = {};
  const int isNt = IsWindowsNT();

  StrCopy(run.text, CountOf(run.text), kConfirmationPrefix);
  StrAppend(run.text, CountOf(run.text), kProductTitle);
  if (ShowMessage(run.text, nullptr, MB_YESNO | MB_ICONQUESTION) != IDYES) return 1;

  // A Windows directory that does not fit leaves the interpreter empty rather
  // than \COMMAND.COM on the current drive.
  WindowsDirectoryWith(run.interpreter, CountOf(run.interpreter), "\\COMMAND.COM");

  const int guardReferences = ProtectSharedRuntimes();

  BuildDirectoriesKeyPath(run.keyPath, CountOf(run.keyPath));
  if (isNt != 0) FindLaterCalls(&run.calls);
  const bool haveValue = ReadDirectoryValue(&run);
  if (haveValue) DeriveFromDirectoryValue(&run, isNt);

  // The components are looked for where the value says, also when the
  // removal may not work there or a check of the place failed: a failing
  // call must not make a component in use look free.
  char componentDir[460];
  const char* checkDir = run.programDir;
  if (checkDir[0] == '\0' && haveValue && NamesFullPath(run.text) &&
      StrCopy(componentDir, CountOf(componentDir), run.text) &&
      (EndsInBackslash(run.text) || StrAppend(componentDir, CountOf(componentDir), "\\"))) {
    checkDir = componentDir;
  }
  if (CheckAllComponentsFree(checkDir)) {
    // A library is loaded by its full path in P only: a bare name would be
    // looked for along the search path, the current directory included.
    const bool haveProgramDir = run.programDir[0] != '\0';
    HANDLE code[kCodeCount];
    // An unknown platform is judged as NT: a failing call must not let
    // code run that would not run otherwise.
    const bool judge = haveProgramDir && isNt != 0;
    if (!judge || MayRunCodeOfP(run, code)) {
      if (haveProgramDir) CallLibraryExport(run.controlLibrary, "DllUnregisterServer");
      RunComponentRemovers(&run, isNt);
      if (haveProgramDir &&
          StrFormat(run.exchangeLibrary, CountOf(run.exchangeLibrary), "%smxhook32.dll", run.programDir)) {
        CallLibraryExport(run.exchangeLibrary, "RemoveMailHook");
      }
    }
    for (int i = 0; judge && i < kCodeCount; ++i) {
      if (code[i] != nullptr && code[i] != INVALID_HANDLE_VALUE) CloseHandle(code[i]);
    }
    // What the Windows directory is before the main uninstaller runs.
    if (isNt != 0) {
      HeldDirectories told;
      told.count = 0;
      run.windowsTold = HoldWindowsDirectory(run.calls, &told, &run.windows);
      ReleaseAllHeld(&told);
    }
    if (RunProgramThen(commandLine, 1, "Uninstall", LetGoOfPlaces, &run.places.held)) RemoveLeftovers(&run, isNt);
  }
  ReleaseAllHeld(&run.places.held);

  UnprotectSharedRuntimes(guardReferences);
  return 0;
}
