#include "registry/shared_dlls.h"

#include "common/strings.h"
#include "registry/values.h"

namespace {

const char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Value name or path: the directory, then the file name when there is one.
bool JoinName(char* joined, size_t capacity, const char* directory, const char* fileName) {
  return StrCopy(joined, capacity, directory) && StrAppend(joined, capacity, fileName);
}

// The largest count a REG_DWORD of this many bytes holds.
DWORD LargestCount(DWORD size) { return size >= 4 ? 0xFFFFFFFF : (DWORD{1} << (8 * size)) - 1; }

int ChangeReadOnly(const char* directory, const char* fileName, bool readOnly) {
  char path[520];
  if (!JoinName(path, CountOf(path), directory, fileName)) return kAttributeChangeFailed;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kAttributeChangeFailed;
  const DWORD wanted =
      readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
  return SetFileAttributesA(path, wanted) ? 0 : kAttributeChangeFailed;
}

// The system directory with a backslash, or false when it cannot be had.
bool SystemDirectoryWithBackslash(char* directory, UINT capacity) {
  const UINT length = GetSystemDirectoryA(directory, capacity);
  return length != 0 && length < capacity && StrAppend(directory, capacity, "\\");
}

const char* const kGuardedRuntimes[] = {"MSVCRT40.DLL", "MFC40.DLL"};
const char kCountedLibrary[] = "AWLHUT32.DLL";

}  // namespace

void DecrementDwordValue(HKEY root, const char* keyPath, const char* valueName, DWORD* newCount) {
  DWORD count = 0;
  DWORD type = REG_DWORD;
  DWORD size = sizeof(count);
  if (RegReadValue(root, keyPath, valueName, &type, reinterpret_cast<BYTE*>(&count), &size) != 0 ||
      type != REG_DWORD) {
    *newCount = 0;
    return;
  }
  // Counted as a signed number: anything at or below 0 stays at 0.
  const LONG signedCount = static_cast<LONG>(count);
  count = signedCount <= 0 ? 0 : static_cast<DWORD>(signedCount - 1);
  RegWriteValue(root, keyPath, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&count), size);
  *newCount = count;
}

int IncrementDwordValue(HKEY root, const char* keyPath, const char* valueName) {
  DWORD count = 1;
  DWORD type = REG_DWORD;
  DWORD size = sizeof(count);
  if (RegReadValue(root, keyPath, valueName, &type, reinterpret_cast<BYTE*>(&count), &size) != 0) {
    const DWORD one = 1;
    return RegWriteValue(root, keyPath, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                         sizeof(one));
  }
  if (type == REG_DWORD) {
    // A full count stays full: wrapping to 0 would tell every other
    // uninstaller that the shared file is no longer used.
    if (count < LargestCount(size)) ++count;
    return RegWriteValue(root, keyPath, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&count), size);
  }
  // Another type: the number 1 over the bytes the value had, in its type.
  const DWORD one = 1;
  return RegWriteValue(root, keyPath, valueName, type, reinterpret_cast<const BYTE*>(&one), size);
}

DWORD SharedDllGetCount(const char* directory, const char* fileName) {
  char name[520];
  if (!JoinName(name, CountOf(name), directory, fileName)) return 0;
  DWORD count = 0;
  DWORD type = REG_DWORD;
  DWORD size = sizeof(count);
  if (RegReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, &type, reinterpret_cast<BYTE*>(&count), &size) !=
          0 ||
      type != REG_DWORD) {
    return 0;
  }
  return count;
}

int SharedDllAddRef(const char* directory, const char* fileName) {
  char name[520];
  if (!JoinName(name, CountOf(name), directory, fileName)) return 1;
  return IncrementDwordValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
}

DWORD SharedDllRelease(const char* directory, const char* fileName) {
  char name[520];
  DWORD count = 0;
  if (JoinName(name, CountOf(name), directory, fileName)) {
    DecrementDwordValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, &count);
  }
  return count;
}

int SharedDllForget(const char* directory, const char* fileName) {
  char name[520];
  if (!JoinName(name, CountOf(name), directory, fileName)) return 1;
  return RegRemoveValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
}

DWORD SharedDllReleaseOrForget(const char* directory, const char* fileName, int mode) {
  if (mode == 1) {
    SharedDllForget(directory, fileName);
    return 0;
  }
  return SharedDllRelease(directory, fileName);
}

int SetReadOnly(const char* directory, const char* fileName) {
  return ChangeReadOnly(directory, fileName, true);
}

int ClearReadOnly(const char* directory, const char* fileName) {
  return ChangeReadOnly(directory, fileName, false);
}

void ProtectSharedRuntimes(void) {
  char systemDir[261];
  if (!SystemDirectoryWithBackslash(systemDir, CountOf(systemDir))) return;
  // A count of exactly 1 means this suite alone uses the runtime, and its
  // removal may take it; otherwise the main uninstaller must leave it alone.
  for (const char* runtime : kGuardedRuntimes) {
    if (SharedDllGetCount(systemDir, runtime) != 1) SetReadOnly(systemDir, runtime);
  }
  // Two more users keep the main uninstaller from taking this library.
  SharedDllAddRef(systemDir, kCountedLibrary);
  SharedDllAddRef(systemDir, kCountedLibrary);
}

void UnprotectSharedRuntimes(void) {
  char systemDir[261];
  if (!SystemDirectoryWithBackslash(systemDir, CountOf(systemDir))) return;
  for (const char* runtime : kGuardedRuntimes) ClearReadOnly(systemDir, runtime);
  SharedDllReleaseOrForget(systemDir, kCountedLibrary, 0);
  SharedDllReleaseOrForget(systemDir, kCountedLibrary, 0);
}
