#include "common/paths.h"

#include "common/letters.h"
#include "common/platform.h"
#include "common/strings.h"

bool NamesFullPath(const char* value) {
  // The drive is an ASCII letter: in a double-byte code page a first byte
  // and the colon after it are one letter, and no drive at all.
  const char drive = value[0];
  const bool drivePath = ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) && value[1] == ':' &&
                         (value[2] == '\\' || value[2] == '/');
  const bool uncPath = value[0] == '\\' && value[1] == '\\' && value[2] != '.' && value[2] != '?';
  return drivePath || uncPath;
}

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

bool RootOf(const char* path, char* root, size_t capacity) {
  // The backslashes after the root are counted in length, but go: what
  // fits is told by the append.
  const size_t length = RootLength(path);
  if (length >= capacity) return false;
  for (size_t i = 0; i < length; ++i) root[i] = path[i];
  root[length] = '\0';
  TrimBackslashes(root, 0);
  return StrAppend(root, capacity, "\\");
}

bool IsRoot(const char* path) { return path[RootLength(path)] == '\0'; }

bool TrimToDirectory(char* path, size_t capacity) {
  TrimBackslashes(path, 0);
  return !IsRoot(path) || StrAppend(path, capacity, "\\");
}

bool DirectoryPath(char* path, size_t capacity, const char* full) {
  return StrCopy(path, capacity, full) && TrimToDirectory(path, capacity);
}

bool ClimbOneDirectory(char* path, size_t capacity) {
  if (IsRoot(path)) return false;
  const size_t cut = BackslashBefore(path, StrLength(path));
  if (cut == kNoBackslash) return false;
  path[cut] = '\0';
  return TrimToDirectory(path, capacity);
}

void StripLastDirectory(char* path) {
  if (!EndsInBackslash(path)) return;
  // The backslash before the trailing one; a path with no other backslash
  // (C:\ or \) has no directory to cut.
  const size_t before = BackslashBefore(path, StrLength(path) - 1);
  if (before != kNoBackslash) path[before + 1] = '\0';
}
