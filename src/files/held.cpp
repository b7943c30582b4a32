#include "files/held.h"

bool SameIdentity(const DirectoryIdentity& left, const DirectoryIdentity& right) {
  if (left.wide != right.wide || left.volume != right.volume) return false;
  for (int i = 0; i < 16; ++i) {
    if (left.id[i] != right.id[i]) return false;
  }
  return true;
}

bool MayBeSameDirectory(const DirectoryIdentity& left, const DirectoryIdentity& right) {
  if (left.wide == right.wide) return SameIdentity(left, right);
  // The low half of a volume's 64-bit serial number is its 32-bit one.
  return static_cast<DWORD>(left.volume) == static_cast<DWORD>(right.volume);
}

bool TellIdentity(HANDLE handle, FileInformationCall fileInformation, DirectoryIdentity* identity,
                  DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) return false;
  *attributes = information.dwFileAttributes;
  DirectoryIdentity told = {};
  FILE_ID_INFO id;
  if (fileInformation != nullptr && fileInformation(handle, FileIdInfo, &id, sizeof(id))) {
    told.wide = true;
    told.volume = id.VolumeSerialNumber;
    for (int i = 0; i < 16; ++i) told.id[i] = id.FileId.Identifier[i];
    *identity = told;
    return true;
  }
  // Vista and 7 know no FileIdInfo, nor do volumes that keep no such ID;
  // any other failure tells nothing.
  if (fileInformation != nullptr) {
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
      return false;
    }
  }
  told.volume = information.dwVolumeSerialNumber;
  const DWORD parts[] = {information.nFileIndexLow, information.nFileIndexHigh};
  for (int i = 0; i < 8; ++i) told.id[i] = static_cast<BYTE>(parts[i / 4] >> (8 * (i % 4)));
  *identity = told;
  return true;
}

Holding HoldDirectory(const char* directory, FileInformationCall fileInformation, HANDLE* handle,
                      DirectoryIdentity* identity) {
  // NT 4 has no reparse points and may refuse the flag it does not know:
  // then it is asked without.
  const DWORD tries[] = {FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, FILE_FLAG_BACKUP_SEMANTICS};
  for (const DWORD flags : tries) {
    *handle = CreateFileA(directory, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    if (*handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) break;
  }
  if (*handle == INVALID_HANDLE_VALUE) return Holding::kUnusable;
  DWORD attributes = 0;
  if (TellIdentity(*handle, fileInformation, identity, &attributes) &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // Asked by name too, now that the name cannot change: Wine 8 opens
    // where a link leads even when asked for the link itself, and only its
    // attributes tell.
    const DWORD named = GetFileAttributesA(directory);
    if (named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return ((attributes | named) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Holding::kLink : Holding::kDirectory;
    }
  }
  CloseHandle(*handle);
  *handle = INVALID_HANDLE_VALUE;
  return Holding::kUnusable;
}

bool KeepHeld(HeldDirectories* held, HANDLE handle, const DirectoryIdentity& identity) {
  if (held->count >= kMaxHeld) {
    CloseHandle(handle);
    return false;
  }
  held->handles[held->count] = handle;
  held->identities[held->count] = identity;
  ++held->count;
  return true;
}

bool SameHeld(const HeldDirectories& left, const HeldDirectories& right) {
  if (left.count != right.count) return false;
  for (int i = 0; i < left.count; ++i) {
    if (!SameIdentity(left.identities[i], right.identities[i])) return false;
  }
  return true;
}

void ReleaseHeldOn(HeldDirectories* held, const DirectoryIdentity& identity) {
  for (int i = 0; i < held->count; ++i) {
    if (held->handles[i] != INVALID_HANDLE_VALUE && SameIdentity(held->identities[i], identity)) {
      CloseHandle(held->handles[i]);
      held->handles[i] = INVALID_HANDLE_VALUE;
    }
  }
}

void ReleaseAllHeld(HeldDirectories* held) {
  for (int i = 0; i < held->count; ++i) {
    if (held->handles[i] != INVALID_HANDLE_VALUE) CloseHandle(held->handles[i]);
  }
  held->count = 0;
}
