#include "files/held.h"

bool SameIdentity(const DirectoryIdentity& left, const DirectoryIdentity& right) {
  return left.volume == right.volume && left.indexHigh == right.indexHigh && left.indexLow == right.indexLow;
}

Holding HoldDirectory(const char* directory, HANDLE* handle, DirectoryIdentity* identity) {
  // NT 4 has no reparse points and may refuse the flag it does not know:
  // then it is asked without.
  const DWORD tries[] = {FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, FILE_FLAG_BACKUP_SEMANTICS};
  for (const DWORD flags : tries) {
    *handle = CreateFileA(directory, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    if (*handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) break;
  }
  if (*handle == INVALID_HANDLE_VALUE) return Holding::kUnusable;
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(*handle, &information) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    // Asked by name too, now that the name cannot change: Wine 8 opens
    // where a link leads even when asked for the link itself, and only its
    // attributes tell.
    const DWORD attributes = GetFileAttributesA(directory);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return ((information.dwFileAttributes | attributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Holding::kLink
                                                                                              : Holding::kDirectory;
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
