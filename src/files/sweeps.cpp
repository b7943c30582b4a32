#include "files/sweeps.h"

#include "common/letters.h"
#include "common/paths.h"
#include "common/pattern.h"
#include "common/places.h"
#include "common/platform.h"
#include "common/strings.h"
#include "files/schedule.h"
#include "registry/shared_dlls.h"
#include "text/texts.h"

namespace {

bool Join(char* path, size_t capacity, const char* directory, const char* name) {
  return StrCopy(path, capacity, directory) && StrAppend(path, capacity, name);
}

// Whether a directory may be searched: no link, which is removed itself and
// never entered. Asked without its trailing backslash: with one, Windows
// may report what the link leads to instead of the link. One whose
// attributes cannot be had counts as a link.
bool IsPlainDirectory(const char* directory) {
  char path[460];
  if (!StrCopy(path, CountOf(path), directory)) return false;
  TrimBackslashes(path, 3);
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Whether a found name can be used as the name it is. Win32 paths drop
// trailing dots and blanks of a name: "..." and " " in DIR name DIR itself
// again, and "NAME." names NAME; "." and ".." are no files to delete or
// trees to enter. And a search gives each name in the ANSI code page, where
// NT's best fit turns the fullwidth forms into the ASCII letters they stand
// for: a directory named with a fullwidth solidus comes back as
// "../../OTHER", which joined to its directory would lead elsewhere. No
// Windows name holds a separator, a wildcard, a colon, a quote, an angle
// bracket, a bar or a control character, so no such name is the file's own.
bool IsReachableName(const char* name) {
  // Read by letters: the second byte of a letter of two (表 is 0x95 0x5C in
  // code page 932) is no backslash and no bar. A dot and a blank are never
  // second bytes, so the last byte tells.
  const size_t length = StrLength(name);
  if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return false;
  for (const char* at = name; *at != '\0';) {
    const char* const next = CharNextA(at);
    const unsigned char c = static_cast<unsigned char>(*at);
    if (next == at + 1 && (c < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
                           c == '<' || c == '>' || c == '|')) {
      return false;
    }
    at = next;
  }
  return true;
}

typedef void (*MatchAction)(const char* directory, const WIN32_FIND_DATAA& found, const char* path);

// Runs action on every match of pattern in a directory, each before the
// next one is looked for.
void SearchEntered(const char* directory, const char* pattern, MatchAction action) {
  char search[460];
  if (!Join(search, CountOf(search), directory, pattern)) return;
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(search, &found);
  if (handle == INVALID_HANDLE_VALUE) return;
  do {
    char path[520];
    if (IsReachableName(found.cFileName) &&
        MatchesPattern(pattern, found.cFileName, StrLength(found.cFileName), 1) &&
        Join(path, CountOf(path), directory, found.cFileName)) {
      action(directory, found, path);
    }
  } while (FindNextFileA(handle, &found));
  FindClose(handle);
}

// Runs action on every match of pattern in directory. A directory that is
// a link is not searched: following one would delete files outside the
// product.
void ForEachMatch(const char* directory, const char* pattern, MatchAction action) {
  if (IsPlainDirectory(directory)) SearchEntered(directory, pattern, action);
}

// Directories among the matches are refused by DeleteFileA.
void DeleteMatch(const char*, const WIN32_FIND_DATAA&, const char* path) { DeleteFileA(path); }

void DeleteSharedMatch(const char* directory, const WIN32_FIND_DATAA& found, const char* path) {
  // Dropped also when the file can only be scheduled, or not even that; and
  // before the file goes, so that a run cut off in between leaves the file
  // for the next run to find, not a count for a file that is gone.
  SharedDllForget(directory, found.cFileName);
  DeleteOrScheduleFile(path);
}

void RemoveSubdirectory(const char* directory, const WIN32_FIND_DATAA& found, const char*) {
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;  // files went with DeleteFiles
  char subdirectory[460];
  if (!Join(subdirectory, CountOf(subdirectory), directory, found.cFileName) ||
      !StrAppend(subdirectory, CountOf(subdirectory), "\\")) {
    return;
  }
  RemoveDirectoryTree(subdirectory);
}

// RemoveDirectoryA takes a junction away even when its target is full; one
// on the way to the product (C:\Apps for C:\Programme\APP) belongs to the
// user.
void RemoveEmptyDirectory(const char* directory) {
  if (IsPlainDirectory(directory)) RemoveDirectoryA(directory);
}

}  // namespace

void DeleteFiles(const char* directory, const char* pattern) { ForEachMatch(directory, pattern, DeleteMatch); }

void DeleteSharedFiles(const char* directory, const char* pattern) {
  ForEachMatch(directory, pattern, DeleteSharedMatch);
}

void RemoveDirectoryTree(const char* directory) {
  // A link is not entered, only removed itself.
  if (IsPlainDirectory(directory)) {
    SearchEntered(directory, "*.*", DeleteMatch);
    SearchEntered(directory, "*.*", RemoveSubdirectory);
  }
  RemoveDirectoryA(directory);
}

int CleanProductFiles(const char* productRoot, char* programDir, const char* userDir) {
  for (const FileSweep& sweep : kFileSweeps) {
    const char* base = sweep.base == SweepBase::kRoot   ? productRoot
                       : sweep.base == SweepBase::kUser ? userDir
                                                        : programDir;
    char directory[520];
    if (Join(directory, CountOf(directory), base, sweep.subdirectory) &&
        (sweep.subdirectory == nullptr || StrAppend(directory, CountOf(directory), "\\"))) {
      DeleteFiles(directory, sweep.pattern);
    }
  }
  for (const char* name : kDataDirectories) {
    char directory[520];
    if (Join(directory, CountOf(directory), programDir, name) && StrAppend(directory, CountOf(directory), "\\")) {
      RemoveDirectoryTree(directory);
    }
  }
  // The program directory, then the directory above it, each only when it
  // is empty by now. With P ending in two backslashes the first strip takes
  // only the doubled one, so the program directory is tried twice.
  RemoveEmptyDirectory(programDir);
  StripLastDirectory(programDir);
  RemoveEmptyDirectory(programDir);
  StripLastDirectory(programDir);
  RemoveEmptyDirectory(programDir);

  char windowsDir[520];
  if (WindowsDirectoryWith(windowsDir, CountOf(windowsDir), "\\")) DeleteFiles(windowsDir, "TAVFAXDV.INI");
  return 0;
}
