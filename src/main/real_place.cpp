#include "main/real_place.h"

#include "common/bytes.h"
#include "common/letters.h"
#include "common/paths.h"
#include "common/strings.h"
#include "files/walk.h"

namespace {

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

// Where a path leads, as Windows tells it (Vista and later): the final path
// without its \\?\, a share as \\server\share\...
bool FinalPathOf(FinalPathNameCall finalPath, const char* path, char* out, DWORD capacity) {
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
bool ShareToDrive(char* path, DWORD capacity, const LaterCalls& calls) {
  char root[260];
  PlaceIdentity share;
  if (!RootOf(path, root, CountOf(root)) || IdentifyDirectory(root, 1, calls, &share) != Told::kKnown) return false;
  const DWORD drives = GetLogicalDrives();
  char drive[] = "A:\\";
  for (; drive[0] <= 'Z'; ++drive[0]) {
    PlaceIdentity identity;
    if (IsFixedDrive(drives, drive) && IdentifyDirectory(drive, 1, calls, &identity) == Told::kKnown &&
        SameIdentity(identity.index, share.index)) {
      return StrCopy(root, CountOf(root), drive) && StrAppend(root, CountOf(root), path + RootLength(path)) &&
             StrCopy(path, capacity, root);
    }
  }
  return false;
}

// A substituted drive stands for the directory it shows: path, in place,
// then starts with that directory. False when the drive cannot be told, or
// shows a share.
bool Unsubstitute(char* path, DWORD capacity, DosDeviceCall dosDevice) {
  char target[300];
  if (path[0] == '\\') return true;
  const char device[3] = {path[0], ':', '\0'};
  if (dosDevice == nullptr || dosDevice(device, target, CountOf(target)) == 0) return false;
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
bool RealPlace(const char* directory, char* real, DWORD capacity, const LaterCalls& calls) {
  if (!StrCopy(real, capacity, directory)) return false;
  for (int round = 0; round < 4; ++round) {
    if (real[0] == '\\' && !ShareToDrive(real, capacity, calls)) return false;
    char next[260];
    if (calls.finalPathName != nullptr ? !FinalPathOf(calls.finalPathName, real, next, CountOf(next))
                                       : !StrCopy(next, CountOf(next), real) ||
                                             !Unsubstitute(next, CountOf(next), calls.dosDevice)) {
      return false;
    }
    if (lstrcmpiA(next, real) == 0) return true;
    if (!StrCopy(real, capacity, next)) return false;
  }
  return false;
}

// A link on the way may be followed only where it leads straight to a
// place that is no link itself: its target, as the link holds it, must be
// where it really leads. A link further on, which nothing here holds,
// could otherwise be turned elsewhere while the removal works.
bool LeadsStraight(const char* link, HANDLE held, FinalPathNameCall finalPath) {
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

// Opens the link named name in parent itself, asking only for its
// descriptor and attributes: the junctions Windows keeps for older programs
// (C:\Programme) refuse everyone listing and SYNCHRONIZE, and every
// CreateFile asks for SYNCHRONIZE. Such a handle keeps nobody from renaming
// the link; whether anyone but administrators could change it is for the
// trust check to say (files/trust.h), and where it leads is held.
Holding AskLink(const char* name, size_t length, HANDLE parent, FileInformationCall fileInformation, HANDLE* handle,
                DirectoryIdentity* identity) {
  FARPROC create;
  WideName wide;
  if (!FindSystemCalls("NTDLL.DLL", "NtCreateFile\0", &create) || !WidenName(name, length, "", &wide)) {
    return Holding::kUnusable;
  }
  if (OpenNameIn(AsCall<CreateFileCall>(create), parent, wide.text, wide.length, READ_CONTROL | FILE_READ_ATTRIBUTES,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN_REPARSE_POINT, handle) != 0) {
    return Holding::kUnusable;
  }
  DWORD found = 0;
  const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (TellIdentity(*handle, fileInformation, identity, &found) && (found & link) == link) return Holding::kLink;
  CloseHandle(*handle);
  return Holding::kUnusable;
}

// Holds each directory of directory's path below its root, from the top
// down. A link on the way is held itself, and only where links may be
// followed (finalPath: Vista and later) and it leads straight; one that
// refuses to be held is opened only to be asked about (AskLink). The
// directory itself may be no link.
bool HoldPath(const char* directory, HeldDirectories* held, FinalPathNameCall finalPath,
              FileInformationCall fileInformation) {
  char at[260];
  if (!StrCopy(at, CountOf(at), directory)) return false;
  const int first = held->count;
  size_t end = RootLength(at);
  while (at[end] != '\0') {
    const size_t start = end;
    while (at[end] != '\0' && at[end] != '\\') end = static_cast<size_t>(CharNextA(at + end) - at);
    const char next = at[end];
    at[end] = '\0';
    HANDLE handle;
    DirectoryIdentity identity;
    Holding holding = HoldDirectory(at, fileInformation, &handle, &identity);
    if (holding == Holding::kUnusable && GetLastError() == ERROR_ACCESS_DENIED && finalPath != nullptr &&
        next != '\0') {
      // (Relative to a link opened itself, nothing is found.)
      const bool below = held->count > first;
      const HANDLE parent = below ? held->handles[held->count - 1] : OpenDriveRoot(at);
      if (parent != INVALID_HANDLE_VALUE) {
        holding = AskLink(at + start, end - start, parent, fileInformation, &handle, &identity);
        if (!below) CloseHandle(parent);
      }
    }
    if (holding == Holding::kUnusable || !KeepHeld(held, handle, identity) ||
        (holding == Holding::kLink &&
         (next == '\0' || finalPath == nullptr || !LeadsStraight(at, handle, finalPath)))) {
      return false;
    }
    held->links[held->count - 1] = holding == Holding::kLink;
    at[end] = next;
    if (next != '\0') ++end;
  }
  return true;
}

}  // namespace

Told IdentifyDirectory(const char* path, int isNt, const LaterCalls& calls, PlaceIdentity* identity) {
  identity->shortForm[0] = '\0';
  if (!isNt) return StableShortForm(path, identity->shortForm, CountOf(identity->shortForm));
  HANDLE directory = OpenToAsk(path);
  if (directory == INVALID_HANDLE_VALUE) return AfterFailure();
  DWORD attributes = 0;
  const bool known = TellIdentity(directory, calls.fileInformation, &identity->index, &attributes);
  CloseHandle(directory);
  return known ? Told::kKnown : Told::kUnknown;
}

bool MayBeSamePlace(const PlaceIdentity& left, const PlaceIdentity& right, int isNt) {
  if (!isNt) return lstrcmpiA(left.shortForm, right.shortForm) == 0;
  return MayBeSameDirectory(left.index, right.index);
}

bool HoldPlaces(const char* directory, const LaterCalls& calls, ProgramPlaces* places) {
  HeldDirectories* const held = &places->held;
  if (!HoldPath(directory, held, calls.finalPathName, calls.fileInformation)) return false;
  const int spelt = held->count;
  places->realFrom = spelt;
  return spelt > 0 && RealPlace(directory, places->real, CountOf(places->real), calls) &&
         HoldPath(places->real, held, nullptr, calls.fileInformation) && held->count > spelt &&
         SameIdentity(held->identities[spelt - 1], held->identities[held->count - 1]);
}

HANDLE OpenDriveRoot(const char* path) {
  char root[260];
  if (!RootOf(path, root, CountOf(root))) return INVALID_HANDLE_VALUE;
  return CreateFileA(root, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool HoldPathWithoutLinks(const char* directory, const LaterCalls& calls, HeldDirectories* held) {
  return HoldPath(directory, held, nullptr, calls.fileInformation);
}

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
