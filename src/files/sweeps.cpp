#include "files/sweeps.h"

#include "common/strings.h"

void StripLastDirectory(char* path) {
  const size_t length = StrLength(path);
  if (length == 0 || path[length - 1] != '\\') return;
  // Walk back from the character before the trailing backslash; a path with
  // no other backslash (C:\ or \) has no directory to cut.
  for (size_t i = length - 1; i > 0; --i) {
    if (path[i - 1] == '\\') {
      path[i] = '\0';
      return;
    }
  }
}

void DeleteSharedFiles(const char* directory, const char* pattern) {
  // Still missing: deleting the matches now or at the next start of Windows
  // and dropping their SharedDLLs counts.
  (void)directory;
  (void)pattern;
}

int CleanProductFiles(const char* productRoot, char* programDir, const char* userDir) {
  // Still missing: the fixed list of file and directory removals.
  (void)productRoot;
  (void)programDir;
  (void)userDir;
  return 0;
}
