#include "main/program_directory.h"

#include "common/letters.h"
#include "common/paths.h"
#include "common/places.h"
#include "common/strings.h"
#include "text/texts.h"

namespace {

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
int WindowsPlaces(WindowsPlace* places, const LaterCalls& calls) {
  int count = 0;
  char windowsDir[260];
  char systemDir[260];
  if (!WindowsDirectoryWith(windowsDir, CountOf(windowsDir), "") ||
      !SystemDirectoryWith(systemDir, CountOf(systemDir), "") ||
      !AddPlace(places, &count, windowsDir, "", false) || !AddPlace(places, &count, systemDir, "", false)) {
    return -1;
  }
  // Windows before XP has no such call.
  if (calls.wow64Directory != nullptr) {
    char wow64Dir[260];
    const UINT length = calls.wow64Directory(wow64Dir, CountOf(wow64Dir));
    if (length != 0 && length < CountOf(wow64Dir)) AddPlace(places, &count, wow64Dir, "", false);
  }
  AddPlace(places, &count, windowsDir, "\\SysWOW64", true);
  AddPlace(places, &count, windowsDir, "\\Sysnative", true);
  return count;
}

// Whether removing things in and around directory could hit Windows: it is
// one of Windows' places, lies inside one, or is above one. directory is
// where it really is (no link on its way). When one of them, or any
// directory on the way, cannot be told, nothing can be ruled out.
bool TouchesWindows(const char* directory, int isNt, const LaterCalls& calls) {
  WindowsPlace places[kMaxWindowsPlaces];
  const int count = WindowsPlaces(places, calls);
  if (count < 0) return true;
  PlaceIdentity place[kMaxWindowsPlaces];
  int known = 0;
  for (int i = 0; i < count; ++i) {
    const Told told = IdentifyDirectory(places[i].path, isNt, calls, &place[known]);
    if (told == Told::kKnown) {
      if (known != i) places[known] = places[i];
      ++known;
    } else if (told == Told::kUnknown || !places[i].optional) {
      return true;
    }
  }
  char at[260];
  PlaceIdentity value;
  if (!DirectoryPath(at, CountOf(at), directory) || IdentifyDirectory(at, isNt, calls, &value) != Told::kKnown) {
    return true;
  }
  // The directory and each one above it against Windows' places.
  PlaceIdentity step = value;
  for (;;) {
    for (int i = 0; i < known; ++i) {
      if (MayBeSamePlace(step, place[i], isNt)) return true;
    }
    if (!ClimbOneDirectory(at, CountOf(at))) break;
    if (IdentifyDirectory(at, isNt, calls, &step) != Told::kKnown) return true;
  }
  // The directories above each of Windows' places against it.
  for (int i = 0; i < known; ++i) {
    if (!DirectoryPath(at, CountOf(at), places[i].path)) return true;
    while (ClimbOneDirectory(at, CountOf(at))) {
      if (IdentifyDirectory(at, isNt, calls, &step) != Told::kKnown) return true;
      if (MayBeSamePlace(step, value, isNt)) return true;
    }
  }
  return false;
}

// A directory that holds none of the suite's programs is not the suite's,
// whatever the registry says. directory is no root and has no trailing
// backslash.
bool HoldsSuiteProgram(const char* directory) {
  for (const char* name : kSuiteProgramFiles) {
    char path[520];
    if (!StrFormat(path, CountOf(path), "%s\\%s", directory, name)) return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
  }
  return false;
}

// The name that runs from after the backslash at cut to end, and suffix.
bool NameBetween(const char* path, size_t cut, size_t end, const char* suffix, WideName* name) {
  return cut != kNoBackslash && WidenName(path + cut + 1, end - cut - 1, suffix, name);
}

}  // namespace

bool ResolveProgramDirectory(const char* value, char* resolved, DWORD capacity, int isNt, const LaterCalls& calls,
                             ProgramPlaces* places) {
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
  // fine where it leads straight to its place (German Windows has
  // C:\Programme for C:\Program Files).
  char directory[260];
  const char* real = directory;
  if (!DirectoryPath(directory, CountOf(directory), resolved)) return false;
  if (isNt != 0) {
    if (!HoldPlaces(directory, calls, places)) return false;
    real = places->real;
  } else {
    const DWORD attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || OnSharedVolume(directory)) {
      return false;
    }
  }
  return HoldsSuiteProgram(directory) && !TouchesWindows(real, isNt, calls);
}

bool HoldProgramDirectory(const char* resolved, const LaterCalls& calls, ProgramPlaces* places) {
  char directory[260];
  return DirectoryPath(directory, CountOf(directory), resolved) && HoldPlaces(directory, calls, places);
}

bool OpenProductTree(const ProgramPlaces& places, const char* resolved, ProductTree* tree) {
  const HeldDirectories& held = places.held;
  const int real = held.count - places.realFrom;  // the real path's directories below its root
  tree->driveRoot = INVALID_HANDLE_VALUE;
  // P's name ends the real path, the name above it comes before; U is
  // named from the value as spelt: USER beside P, or P's name and USER.
  const size_t end = StrLength(places.real);
  const size_t last = BackslashBefore(places.real, end);
  tree->rootIsProgram = EndsInBackslash(resolved);
  const size_t valueEnd = StrLength(resolved) - (tree->rootIsProgram ? 1 : 0);
  const size_t valueCut = BackslashBefore(resolved, valueEnd);
  const bool userNamed = tree->rootIsProgram ? WidenName("", 0, "USER", &tree->userName)
                                             : NameBetween(resolved, valueCut, valueEnd, "USER", &tree->userName);
  if (places.realFrom < 1 || real < 1 || !userNamed || !NameBetween(places.real, last, end, "", &tree->programName)) {
    return false;
  }
  tree->program = held.handles[held.count - 1];
  tree->programIdentity = held.identities[held.count - 1];
  // The directory above P, and the one above that, where they are held;
  // where one is a drive's root, that root.
  if (real >= 2) {
    tree->above = held.handles[held.count - 2];
    tree->aboveIdentity = held.identities[held.count - 2];
  }
  if (real <= 2) {
    tree->driveRoot = OpenDriveRoot(places.real);
    if (tree->driveRoot == INVALID_HANDLE_VALUE) return false;
  }
  if (real == 1) tree->above = tree->driveRoot;
  tree->aboveParent = real >= 3 ? held.handles[held.count - 3] : real == 2 ? tree->driveRoot : INVALID_HANDLE_VALUE;
  // Above P as spelt must be the directory above it where it really is: not
  // a link of the user's, and not a drive's root.
  tree->aboveMayGo = real >= 2 && places.realFrom >= 2 &&
                     SameIdentity(held.identities[places.realFrom - 2], tree->aboveIdentity) &&
                     NameBetween(places.real, BackslashBefore(places.real, last), last, "", &tree->aboveName);
  return true;
}

void CloseProductTree(ProductTree* tree) {
  if (tree->driveRoot != INVALID_HANDLE_VALUE) CloseHandle(tree->driveRoot);
  tree->driveRoot = INVALID_HANDLE_VALUE;
}
