#include "main/program_directory.h"

#include "common/places.h"
#include "common/strings.h"
#include "text/texts.h"

namespace {

// C:\ or \\server\share\: the top of a drive or of a share, where a sweep
// would reach every other program's data. path is a full path.
bool IsRoot(const char* path) {
  const char* rest = path + 2;  // after X: or the \\ of a share
  if (path[0] == '\\') {
    for (int part = 0; part < 2; ++part) {  // server, then share
      while (*rest == '\\') ++rest;
      while (*rest != '\0' && *rest != '\\') ++rest;
    }
  }
  while (*rest == '\\') ++rest;
  return *rest == '\0';
}

// A full path as a directory of its own, in place: without trailing
// backslashes, but for a root, which keeps one (C:\, \\server\share\).
// Windows reports a link's own attributes only for a path without them.
bool TrimToDirectory(char* path, size_t capacity) {
  size_t length = StrLength(path);
  while (length > 0 && path[length - 1] == '\\') path[--length] = '\0';
  return !IsRoot(path) || StrAppend(path, capacity, "\\");
}

bool DirectoryPath(char* path, size_t capacity, const char* full) {
  return StrCopy(path, capacity, full) && TrimToDirectory(path, capacity);
}

// Climbs to the directory above, in place; false at a root.
bool ClimbOneDirectory(char* path, size_t capacity) {
  if (IsRoot(path)) return false;
  size_t cut = StrLength(path);
  while (cut > 0 && path[cut - 1] != '\\') --cut;
  if (cut == 0) return false;
  path[cut - 1] = '\0';
  return TrimToDirectory(path, capacity);
}

// One directory as Windows knows it, whatever spelling led there. NT opens
// it and tells its volume and file index; Windows 95 opens no directory, so
// there it is its short form, resolved until resolving changes it no more.
struct DirectoryIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
  char shortForm[260];
};

// How well a directory could be told: only a directory that is not there at
// all may be passed over; one that cannot be told otherwise rules out nothing.
enum class Told { kKnown, kAbsent, kUnknown };

Told AfterFailure() {
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Told::kAbsent : Told::kUnknown;
}

Told StableShortForm(const char* path, char* shortForm, DWORD capacity) {
  char current[260];
  if (!StrCopy(current, CountOf(current), path)) return Told::kUnknown;
  for (int round = 0; round < 8; ++round) {
    char shortPath[260];
    const DWORD shortLength = GetShortPathNameA(current, shortPath, CountOf(shortPath));
    if (shortLength == 0) return AfterFailure();
    if (shortLength >= CountOf(shortPath)) return Told::kUnknown;
    const DWORD length = GetFullPathNameA(shortPath, capacity, shortForm, nullptr);
    if (length == 0 || length >= capacity) return Told::kUnknown;
    if (lstrcmpiA(shortForm, current) == 0) return Told::kKnown;
    if (!StrCopy(current, CountOf(current), shortForm)) return Told::kUnknown;
  }
  return Told::kUnknown;
}

Told IdentifyDirectory(const char* path, int isNt, DirectoryIdentity* identity) {
  identity->shortForm[0] = '\0';
  if (!isNt) return StableShortForm(path, identity->shortForm, CountOf(identity->shortForm));
  HANDLE directory = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return AfterFailure();
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(directory, &information) != 0;
  CloseHandle(directory);
  if (!known) return Told::kUnknown;
  identity->volume = information.dwVolumeSerialNumber;
  identity->indexHigh = information.nFileIndexHigh;
  identity->indexLow = information.nFileIndexLow;
  return Told::kKnown;
}

bool SameDirectory(const DirectoryIdentity& left, const DirectoryIdentity& right, int isNt) {
  if (!isNt) return lstrcmpiA(left.shortForm, right.shortForm) == 0;
  return left.volume == right.volume && left.indexHigh == right.indexHigh && left.indexLow == right.indexLow;
}

// Windows' own places: the Windows and the system directory, and on 64-bit
// Windows the 32-bit system directory and the real one a 32-bit program
// sees as Sysnative. The 32-bit one is known twice, by the call that names
// it and by its place in the Windows directory, so that one failing call
// cannot hide it.
struct WindowsPlace {
  char path[260];
  bool optional;  // passed over where it is not there
};

const int kMaxWindowsPlaces = 5;

bool AddPlace(WindowsPlace* places, int* count, const char* directory, const char* name, bool optional) {
  WindowsPlace& place = places[*count];
  place.optional = optional;
  if (!StrCopy(place.path, CountOf(place.path), directory) ||
      !StrAppend(place.path, CountOf(place.path), name)) {
    return false;
  }
  ++*count;
  return true;
}

// How many places, or -1 when one that must be there cannot be had.
int WindowsPlaces(WindowsPlace* places, int isNt) {
  int count = 0;
  char windowsDir[260];
  char systemDir[260];
  if (!WindowsDirectoryWith(windowsDir, CountOf(windowsDir), "") ||
      !SystemDirectoryWith(systemDir, CountOf(systemDir), "") ||
      !AddPlace(places, &count, windowsDir, "", false) || !AddPlace(places, &count, systemDir, "", false)) {
    return -1;
  }
  // Looked up at run time: Windows before XP has no such call.
  typedef UINT(WINAPI * Wow64Directory)(LPSTR, UINT);
  const HMODULE kernel = isNt ? GetModuleHandleA("KERNEL32.DLL") : nullptr;
  const FARPROC lookup = kernel != nullptr ? GetProcAddress(kernel, "GetSystemWow64DirectoryA") : nullptr;
  if (lookup != nullptr) {
    char wow64Dir[260];
    const Wow64Directory wow64 = reinterpret_cast<Wow64Directory>(reinterpret_cast<void (*)(void)>(lookup));
    const UINT length = wow64(wow64Dir, CountOf(wow64Dir));
    if (length != 0 && length < CountOf(wow64Dir)) AddPlace(places, &count, wow64Dir, "", false);
  }
  AddPlace(places, &count, windowsDir, "\\SysWOW64", true);
  AddPlace(places, &count, windowsDir, "\\Sysnative", true);
  return count;
}

// Whether removing things in and around directory could hit Windows: it is
// one of Windows' places, lies inside one, or is above one. When one of
// them, or any directory on the way, cannot be told, nothing can be ruled
// out.
bool TouchesWindows(const char* directory, int isNt) {
  WindowsPlace places[kMaxWindowsPlaces];
  const int count = WindowsPlaces(places, isNt);
  if (count < 0) return true;
  DirectoryIdentity place[kMaxWindowsPlaces];
  int known = 0;
  for (int i = 0; i < count; ++i) {
    const Told told = IdentifyDirectory(places[i].path, isNt, &place[known]);
    if (told == Told::kKnown) {
      if (known != i) places[known] = places[i];
      ++known;
    } else if (told == Told::kUnknown || !places[i].optional) {
      return true;
    }
  }
  char at[260];
  DirectoryIdentity value;
  if (!DirectoryPath(at, CountOf(at), directory) || IdentifyDirectory(at, isNt, &value) != Told::kKnown) {
    return true;
  }
  // The directory and each one above it against Windows' places.
  DirectoryIdentity step = value;
  for (;;) {
    for (int i = 0; i < known; ++i) {
      if (SameDirectory(step, place[i], isNt)) return true;
    }
    if (!ClimbOneDirectory(at, CountOf(at))) break;
    if (IdentifyDirectory(at, isNt, &step) != Told::kKnown) return true;
  }
  // The directories above each of Windows' places against it.
  for (int i = 0; i < known; ++i) {
    if (!DirectoryPath(at, CountOf(at), places[i].path)) return true;
    while (ClimbOneDirectory(at, CountOf(at))) {
      if (IdentifyDirectory(at, isNt, &step) != Told::kKnown) return true;
      if (SameDirectory(step, value, isNt)) return true;
    }
  }
  return false;
}

// A directory that holds none of the suite's programs is not the suite's,
// whatever the registry says.
bool HoldsSuiteProgram(const char* directory) {
  for (const char* name : kSuiteProgramFiles) {
    char path[520];
    if (!DirectoryPath(path, CountOf(path), directory) ||
        (!IsRoot(path) && !StrAppend(path, CountOf(path), "\\")) || !StrAppend(path, CountOf(path), name)) {
      return false;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
  }
  return false;
}

}  // namespace

bool NamesFullPath(const char* value) {
  const bool drivePath = value[0] != '\0' && value[1] == ':' && (value[2] == '\\' || value[2] == '/');
  const bool uncPath = value[0] == '\\' && value[1] == '\\' && value[2] != '.' && value[2] != '?';
  return drivePath || uncPath;
}

bool ResolveProgramDirectory(const char* value, char* resolved, DWORD capacity, int isNt) {
  // A relative directory would make every program and file of the removal
  // depend on the current directory.
  if (!NamesFullPath(value)) return false;
  const DWORD length = GetFullPathNameA(value, capacity, resolved, nullptr);
  if (length == 0 || length >= capacity || IsRoot(resolved)) return false;
  // C:\WINDOWS..\ resolves to C:\WINDOWS.\ and only then to C:\WINDOWS\:
  // every later call would resolve it once more.
  char again[260];
  const DWORD againLength = GetFullPathNameA(resolved, CountOf(again), again, nullptr);
  if (againLength == 0 || againLength >= CountOf(again) || !StrEqual(again, resolved)) return false;
  // The directory itself may not be a junction, a symbolic link or a mount
  // point: the removal would sweep wherever it leads. A link further up is
  // fine (German Windows has C:\Programme for C:\Program Files).
  char directory[260];
  if (!DirectoryPath(directory, CountOf(directory), resolved)) return false;
  const DWORD attributes = GetFileAttributesA(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  return HoldsSuiteProgram(directory) && !TouchesWindows(directory, isNt);
}
