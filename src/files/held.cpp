#include "files/held.h"

bool SameIdentity(const DirectoryIdentity& left, const DirectoryIdentity& right) {
  if (left.wide != right.wide || left.volume != right.volume) return false;
  for (int i = 0; i < 16; ++i) {
    if (left.id.Identifier[i] != right.id.Identifier[i]) return false;
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
  FILE_ID_INFO id = {};
  identity->wide = fileInformation != nullptr && fileInformation(handle, FileIdInfo, &id, sizeof(id));
  if (!identity->wide) {
    // Vista and 7 know no FileIdInfo, nor do volumes that keep no such ID;
    // any other failure tells nothing.
    const DWORD error = fileInformation != nullptr ? GetLastError() : ERROR_INVALID_PARAMETER;
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
      return false;
    }
    // The volume serial number and the 64-bit file index, where the wide
    // ID keeps them.
    id.VolumeSerialNumber = information.dwVolumeSerialNumber;
    const DWORD index[] = {information.nFileIndexLow, information.nFileIndexHigh};
    for (size_t i = 0; i < sizeof(index); ++i) id.FileId.Identifier[i] = reinterpret_cast<const BYTE*>(index)[i];
  }
  identity->volume = id.VolumeSerialNumber;
  identity->id = id.FileId;
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
  held->links[held->count] = false;
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
