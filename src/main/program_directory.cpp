#include "main/program_directory.h"

#include "common/letters.h"
#include "common/places.h"
#include "common/strings.h"
#include "files/held.h"
#include "text/texts.h"

namespace {

// How long the top of a full path is: C:\ or \\server\share\ with the
// backslashes after it.
size_t RootLength(const char* path) {
  const char* rest = path + 2;  // after X: or the \\ of a share
  if (path[0] == '\\') {
    for (int part = 0; part < 2; ++part) {  // server, then share
      while (*rest == '\\') ++rest;
      while (*rest != '\0' && *rest != '\\') rest = CharNextA(rest);
    }
  }
  while (*rest == '\\') ++rest;
  return static_cast<size_t>(rest - path);
}

// The top of a full path as a directory of its own (C:\, \\server\share\).
bool RootOf(const char* path, char* root, size_t capacity) {
  const size_t length = RootLength(path);
  if (length + 2 > capacity) return false;
  for (size_t i = 0; i < length; ++i) root[i] = path[i];
  root[length] = '\0';
  TrimBackslashes(root, 0);
  return StrAppend(root, capacity, "\\");
}

// C:\ or \\server\share\: the top of a drive or of a share, where a sweep
// would reach every other program's data. path is a full path.
bool IsRoot(const char* path) { return path[RootLength(path)] == '\0'; }

// A full path as a directory of its own, in place: without trailing
// backslashes, but for a root, which keeps one (C:\, \\server\share\).
// Windows reports a link's own attributes only for a path without them.
bool TrimToDirectory(char* path, size_t capacity) {
  TrimBackslashes(path, 0);
  return !IsRoot(path) || StrAppend(path, capacity, "\\");
}

bool DirectoryPath(char* path, size_t capacity, const char* full) {
  return StrCopy(path, capacity, full) && TrimToDirectory(path, capacity);
}

// Climbs to the directory above, in place; false at a root.
bool ClimbOneDirectory(char* path, size_t capacity) {
  if (IsRoot(path)) return false;
  const size_t cut = BackslashBefore(path, StrLength(path));
  if (cut == kNoBackslash) return false;
  path[cut] = '\0';
  return TrimToDirectory(path, capacity);
}

// One directory as Windows knows it, whatever spelling led there. NT opens
// it and tells its volume and file index; Windows 95 opens no directory, so
// there it is its short form, resolved until resolving changes it no more.
struct PlaceIdentity {
  DirectoryIdentity index;
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

// A directory opened only to ask about it: no access, every sharing.
HANDLE OpenToAsk(const char* path) {
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

Told IdentifyDirectory(const char* path, int isNt, PlaceIdentity* identity) {
  identity->shortForm[0] = '\0';
  if (!isNt) return StableShortForm(path, identity->shortForm, CountOf(identity->shortForm));
  HANDLE directory = OpenToAsk(path);
  if (directory == INVALID_HANDLE_VALUE) return AfterFailure();
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(directory, &information) != 0;
  CloseHandle(directory);
  if (!known) return Told::kUnknown;
  identity->index.volume = information.dwVolumeSerialNumber;
  identity->index.indexHigh = information.nFileIndexHigh;
  identity->index.indexLow = information.nFileIndexLow;
  return Told::kKnown;
}

bool SameDirectory(const PlaceIdentity& left, const PlaceIdentity& right, int isNt) {
  if (!isNt) return lstrcmpiA(left.shortForm, right.shortForm) == 0;
  return SameIdentity(left.index, right.index);
}

// A call of KERNEL32 that older Windows lack, looked up at run time.
FARPROC KernelCall(const char* name) {
  const HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

// Through void(*)(void), the one function type every other converts to
// without a warning.
template <typename Call>
Call AsCall(FARPROC procedure) {
  return reinterpret_cast<Call>(reinterpret_cast<void (*)(void)>(procedure));
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
  // Windows before XP has no such call.
  typedef UINT(WINAPI * Wow64Directory)(LPSTR, UINT);
  const FARPROC lookup = isNt ? KernelCall("GetSystemWow64DirectoryA") : nullptr;
  if (lookup != nullptr) {
    char wow64Dir[260];
    const UINT length = AsCall<Wow64Directory>(lookup)(wow64Dir, CountOf(wow64Dir));
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
bool TouchesWindows(const char* directory, int isNt) {
  WindowsPlace places[kMaxWindowsPlaces];
  const int count = WindowsPlaces(places, isNt);
  if (count < 0) return true;
  PlaceIdentity place[kMaxWindowsPlaces];
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
  PlaceIdentity value;
  if (!DirectoryPath(at, CountOf(at), directory) || IdentifyDirectory(at, isNt, &value) != Told::kKnown) {
    return true;
  }
  // The directory and each one above it against Windows' places.
  PlaceIdentity step = value;
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

// ---- where a directory really is (NT-family Windows) ----

typedef DWORD(WINAPI* FinalPathName)(HANDLE, LPSTR, DWORD, DWORD);
typedef DWORD(WINAPI* DosDevice)(LPCSTR, LPSTR, DWORD);

// Where a path leads, as Windows tells it (Vista and later): the final path
// without its \\?\, a share as \\server\share\...
bool FinalPathOf(FinalPathName finalPath, const char* path, char* out, DWORD capacity) {
  HANDLE directory = OpenToAsk(path);
  if (directory == INVALID_HANDLE_VALUE) return false;
  char found[520];
  const DWORD length = finalPath(directory, found, CountOf(found), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(directory);
  if (length == 0 || length >= CountOf(found) || !AsciiEqualNoCase(found, "\\\\?\\", 4)) return false;
  // \\?\UNC\server\share becomes \\server\share.
  const bool share = AsciiEqualNoCase(found + 4, "UNC\\", 4);
  if (share) found[6] = '\\';
  return StrCopy(out, capacity, found + (share ? 6 : 4)) && TrimToDirectory(out, capacity);
}

// What a DOS device name stands for; a substituted drive (SUBST) gives
// \??\ and the directory it shows. False when Windows cannot say.
bool DosDeviceOf(DosDevice dosDevice, char letter, char* target, DWORD capacity) {
  const char device[3] = {letter, ':', '\0'};
  return dosDevice != nullptr && dosDevice(device, target, capacity) != 0;
}

// Whether drive (X:\), one of drives (GetLogicalDrives), is a fixed disk.
// Removable drives are not asked about: without a disk Windows would ask
// the user for one.
bool IsFixedDrive(DWORD drives, const char* drive) {
  if ((drives >> (drive[0] - 'A') & 1) == 0) return false;
  const UINT type = GetDriveTypeA(drive);
  return type == DRIVE_FIXED || type == DRIVE_RAMDISK;
}

// A share of one of this machine's drive roots (\\LOCALHOST\C$\) is that
// drive: path, in place, then starts with it (a substituted drive is
// resolved after). Any other share is no place of this machine, whatever it
// leads to; a network drive is none either.
bool ShareToDrive(char* path, DWORD capacity) {
  char root[260];
  PlaceIdentity share;
  if (!RootOf(path, root, CountOf(root)) || IdentifyDirectory(root, 1, &share) != Told::kKnown) return false;
  const DWORD drives = GetLogicalDrives();
  char drive[] = "A:\\";
  for (; drive[0] <= 'Z'; ++drive[0]) {
    PlaceIdentity identity;
    if (IsFixedDrive(drives, drive) && IdentifyDirectory(drive, 1, &identity) == Told::kKnown &&
        SameDirectory(identity, share, 1)) {
      return StrCopy(root, CountOf(root), drive) && StrAppend(root, CountOf(root), path + RootLength(path)) &&
             StrCopy(path, capacity, root);
    }
  }
  return false;
}

// A substituted drive stands for the directory it shows: path, in place,
// then starts with that directory. False when the drive cannot be told, or
// shows a share.
bool Unsubstitute(char* path, DWORD capacity, DosDevice dosDevice) {
  char target[300];
  if (path[0] == '\\') return true;
  if (!DosDeviceOf(dosDevice, path[0], target, CountOf(target))) return false;
  if (!AsciiEqualNoCase(target, "\\??\\", 4)) return true;
  // \??\C:\APP; a drive's root keeps no backslash before the rest.
  char* const shown = target + 4;
  TrimBackslashes(shown, 0);
  return shown[0] != '\\' && StrAppend(shown, CountOf(target) - 4, path + 2) && StrCopy(path, capacity, shown) &&
         TrimToDirectory(path, capacity);
}

// Where directory really is, as a drive path with no link on its way: a
// share of one of this machine's drive roots and a substituted drive are
// replaced by what they show, and every link is resolved where Windows can
// tell the final path (Vista and later); before, the links are left for
// HoldPath to refuse.
bool RealPlace(const char* directory, char* real, DWORD capacity, FinalPathName finalPath, DosDevice dosDevice) {
  if (!StrCopy(real, capacity, directory)) return false;
  for (int round = 0; round < 4; ++round) {
    if (real[0] == '\\' && !ShareToDrive(real, capacity)) return false;
    char next[260];
    if (finalPath != nullptr ? !FinalPathOf(finalPath, real, next, CountOf(next))
                             : !StrCopy(next, CountOf(next), real) || !Unsubstitute(next, CountOf(next), dosDevice)) {
      return false;
    }
    if (lstrcmpiA(next, real) == 0) return true;
    if (!StrCopy(real, capacity, next)) return false;
  }
  return false;
}

unsigned ByteAt(const BYTE* data, DWORD at) { return data[at]; }
unsigned WordAt(const BYTE* data, DWORD at) { return ByteAt(data, at) | ByteAt(data, at + 1) << 8; }
DWORD LongAt(const BYTE* data, DWORD at) { return WordAt(data, at) | static_cast<DWORD>(WordAt(data, at + 2)) << 16; }

// A link on the way may be followed only where it leads straight to a
// place that is no link itself: its target, as the link holds it, must be
// where it really leads. A link further on, which nothing here holds,
// could otherwise be turned elsewhere while the removal works.
bool LeadsStraight(const char* link, HANDLE held, FinalPathName finalPath) {
  // Read as WCHARs, so that the names in it are WCHAR text where they lie;
  // the header is read byte by byte.
  WCHAR data[550];
  const BYTE* const bytes = reinterpret_cast<const BYTE*>(data);
  DWORD got = 0;
  if (!DeviceIoControl(held, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof(data), &got, nullptr) ||
      got < 16 || got > sizeof(data)) {
    return false;
  }
  // REPARSE_DATA_BUFFER of a junction (the links Windows itself makes, such
  // as C:\Programme): the tag; then where the substitute name lies among
  // the names, which follow the header at 16. Any other kind of link (a
  // symbolic link may be relative) is not followed.
  if (LongAt(bytes, 0) != static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT)) return false;
  const DWORD offset = 16 + WordAt(bytes, 8);
  const DWORD length = WordAt(bytes, 10) / 2;
  if (length == 0 || offset % 2 != 0 || offset + length * 2 > got) return false;
  // A letter the ANSI code page lacks could make two names read alike.
  // (Windows refuses the question where the code page is UTF-8; a link is
  // then not followed.)
  char target[260];
  BOOL lossy = FALSE;
  const int converted = WideCharToMultiByte(CP_ACP, 0, data + offset / 2, static_cast<int>(length), target,
                                            static_cast<int>(CountOf(target)) - 1, nullptr, &lossy);
  if (converted <= 0 || lossy) return false;
  target[converted] = '\0';
  char where[260];
  return AsciiEqualNoCase(target, "\\??\\", 4) && TrimToDirectory(target + 4, CountOf(target) - 4) &&
         FinalPathOf(finalPath, link, where, CountOf(where)) && lstrcmpiA(target + 4, where) == 0;
}

// Holds each directory of directory's path below its root, from the top
// down. A link on the way is held itself, and only where links may be
// followed (finalPath: Vista and later) and it leads straight; the
// directory itself may be no link.
bool HoldPath(const char* directory, HeldDirectories* held, FinalPathName finalPath) {
  char at[260];
  if (!StrCopy(at, CountOf(at), directory)) return false;
  size_t end = RootLength(at);
  while (at[end] != '\0') {
    while (at[end] != '\0' && at[end] != '\\') end = static_cast<size_t>(CharNextA(at + end) - at);
    const char next = at[end];
    at[end] = '\0';
    HANDLE handle;
    DirectoryIdentity identity;
    const Holding holding = HoldDirectory(at, &handle, &identity);
    if (holding == Holding::kUnusable || !KeepHeld(held, handle, identity) ||
        (holding == Holding::kLink &&
         (next == '\0' || finalPath == nullptr || !LeadsStraight(at, handle, finalPath)))) {
      return false;
    }
    at[end] = next;
    if (next != '\0') ++end;
  }
  return true;
}

// Holds the directory and every directory above it, as spelt and where it
// really is (real), so that none can be renamed, deleted or made a link
// while the removal uses them. Both must end in the same directory.
bool HoldPlaces(const char* directory, HeldDirectories* held, char* real, DWORD capacity) {
  const FinalPathName finalPath = AsCall<FinalPathName>(KernelCall("GetFinalPathNameByHandleA"));
  const DosDevice dosDevice = AsCall<DosDevice>(KernelCall("QueryDosDeviceA"));
  if (!HoldPath(directory, held, finalPath)) return false;
  const int spelt = held->count;
  return spelt > 0 && RealPlace(directory, real, capacity, finalPath, dosDevice) &&
         HoldPath(real, held, nullptr) && held->count > spelt &&
         SameIdentity(held->identities[spelt - 1], held->identities[held->count - 1]);
}

// Windows 95 cannot say what a drive letter or a share shows, but a
// substituted drive and a share report the serial number of the volume
// they lie on: a directory whose drive or share has the serial number of
// another drive of this machine may be another spelling of any directory,
// Windows' own too, and is not used. So is one whose volume cannot be told.
bool OnSharedVolume(const char* directory) {
  char root[260];
  DWORD serial = 0;
  const DWORD drives = GetLogicalDrives();
  if (!RootOf(directory, root, CountOf(root)) || drives == 0 ||
      !GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    return true;
  }
  char drive[] = "A:\\";
  for (; drive[0] <= 'Z'; ++drive[0]) {
    // A substitute of a directory on a removable disk is no fixed drive
    // either, and is not told.
    DWORD other = 0;
    if (IsFixedDrive(drives, drive) && lstrcmpiA(drive, root) != 0 &&
        (!GetVolumeInformationA(drive, nullptr, 0, &other, nullptr, nullptr, nullptr, 0) || other == serial)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool NamesFullPath(const char* value) {
  const bool drivePath = value[0] != '\0' && value[1] == ':' && (value[2] == '\\' || value[2] == '/');
  const bool uncPath = value[0] == '\\' && value[1] == '\\' && value[2] != '.' && value[2] != '?';
  return drivePath || uncPath;
}

bool ResolveProgramDirectory(const char* value, char* resolved, DWORD capacity, int isNt, HeldDirectories* held) {
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
  char real[260];
  if (!DirectoryPath(directory, CountOf(directory), resolved)) return false;
  if (isNt != 0) {
    if (!HoldPlaces(directory, held, real, CountOf(real))) return false;
  } else {
    const DWORD attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || OnSharedVolume(directory) ||
        !StrCopy(real, CountOf(real), directory)) {
      return false;
    }
  }
  return HoldsSuiteProgram(directory) && !TouchesWindows(real, isNt);
}

bool HoldProgramDirectory(const char* resolved, HeldDirectories* held) {
  char directory[260];
  char real[260];
  return DirectoryPath(directory, CountOf(directory), resolved) && HoldPlaces(directory, held, real, CountOf(real));
}
