#include "registry/shared_dlls.h"

#include "common/places.h"
#include "common/strings.h"
#include "registry/values.h"

namespace {

const char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Value name or path: the directory, then the file name when there is one.
bool JoinName(char* joined, size_t capacity, const char* directory, const char* fileName) {
  return StrCopy(joined, capacity, directory) && StrAppend(joined, capacity, fileName);
}

// A count that reached the top is no longer exact: it is neither raised nor
// lowered, so that no run can ever bring it down to "unused".
const DWORD kFullCount = 0xFFFFFFFF;

enum class Stored { kNothing, kCount, kSomethingElse };

// Only a REG_DWORD of four bytes is a count the counters may change. Anything
// else under the name (another type, another length) was written by somebody
// with other ideas and is left exactly as it is.
Stored ReadCount(HKEY root, const char* keyPath, const char* valueName, DWORD* count) {
  DWORD type = REG_DWORD;
  DWORD size = sizeof(*count);
  *count = 0;
  if (RegReadValue(root, keyPath, valueName, &type, reinterpret_cast<BYTE*>(count), &size) == 0) {
    return type == REG_DWORD && size == sizeof(*count) ? Stored::kCount : Stored::kSomethingElse;
  }
  // The read also fails for a value too long for a count.
  *count = 0;
  return RegValueExists(root, keyPath, valueName) ? Stored::kSomethingElse : Stored::kNothing;
}

int WriteCount(HKEY root, const char* keyPath, const char* valueName, DWORD count) {
  return RegWriteValue(root, keyPath, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                       sizeof(count));
}

int ChangeReadOnly(const char* directory, const char* fileName, bool readOnly) {
  char path[520];
  if (!JoinName(path, CountOf(path), directory, fileName)) return kAttributeChangeFailed;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kAttributeChangeFailed;
  const DWORD wanted =
      readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
  return SetFileAttributesA(path, wanted) ? 0 : kAttributeChangeFailed;
}

const char* const kGuardedRuntimes[] = {"MSVCRT40.DLL", "MFC40.DLL"};
const char kCountedLibrary[] = "AWLHUT32.DLL";

}  // namespace

void DecrementDwordValue(HKEY root, const char* keyPath, const char* valueName, DWORD* newCount) {
  DWORD count = 0;
  if (ReadCount(root, keyPath, valueName, &count) != Stored::kCount) {
    *newCount = 0;
    return;
  }
  // Counts are unsigned: 0 stays 0, and a full count stays full.
  if (count != 0 && count != kFullCount) --count;
  WriteCount(root, keyPath, valueName, count);
  *newCount = count;
}

int IncrementDwordValue(HKEY root, const char* keyPath, const char* valueName) {
  DWORD count = 0;
  switch (ReadCount(root, keyPath, valueName, &count)) {
    case Stored::kNothing:
      return WriteCount(root, keyPath, valueName, 1);
    case Stored::kCount:
      // Wrapping to 0 would tell every other uninstaller that the shared
      // file is no longer used.
      if (count != kFullCount) ++count;
      return WriteCount(root, keyPath, valueName, count);
    case Stored::kSomethingElse:
      break;
  }
  return 1;
}

DWORD SharedDllGetCount(const char* directory, const char* fileName) {
  char name[520];
  DWORD count = 0;
  if (!JoinName(name, CountOf(name), directory, fileName) ||
      ReadCount(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, &count) != Stored::kCount) {
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

int ProtectSharedRuntimes(void) {
  char systemDir[261];
  if (!SystemDirectoryWith(systemDir, CountOf(systemDir), "\\")) return 0;
  // A count of exactly 1 means this suite alone uses the runtime, and its
  // removal may take it; otherwise the main uninstaller must leave it alone.
  for (const char* runtime : kGuardedRuntimes) {
    if (SharedDllGetCount(systemDir, runtime) != 1) SetReadOnly(systemDir, runtime);
  }
  // Two more users keep the main uninstaller from taking this library.
  int added = 0;
  for (int reference = 0; reference < 2; ++reference) {
    if (SharedDllAddRef(systemDir, kCountedLibrary) == 0) ++added;
  }
  return added;
}

void UnprotectSharedRuntimes(int added) {
  char systemDir[261];
  if (!SystemDirectoryWith(systemDir, CountOf(systemDir), "\\")) return;
  for (const char* runtime : kGuardedRuntimes) ClearReadOnly(systemDir, runtime);
  for (; added > 0; --added) SharedDllReleaseOrForget(systemDir, kCountedLibrary, 0);
}
