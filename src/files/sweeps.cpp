#include "files/sweeps.h"

#include "common/letters.h"
#include "common/places.h"
#include "common/platform.h"
#include "common/strings.h"
#include "files/held.h"
#include "files/schedule.h"
#include "registry/shared_dlls.h"

namespace {

// Where a step of the clean-up list works.
enum class Base { kRoot, kProgram, kUser };

struct FileStep {
  Base base;
  const char* subdirectory;  // below the base, with its backslash; null for the base itself
  const char* pattern;
};

const FileStep kFileSteps[] = {
    {Base::kRoot, nullptr, "TAVUPD.INF"},   {Base::kProgram, nullptr, "TAVUPD.EXE"},
    {Base::kProgram, "APP\\", "DLG.XBH"},   {Base::kUser, nullptr, "*.VID"},
    {Base::kUser, nullptr, "XFRLOGS*.TXT"}, {Base::kProgram, nullptr, "XFRLOGS*.TXT"},
    {Base::kUser, nullptr, "SESLOGS*.TXT"}, {Base::kProgram, nullptr, "SESLOGS*.TXT"},
    {Base::kProgram, nullptr, "*.GID"},     {Base::kProgram, nullptr, "*.FTS"},
    {Base::kProgram, "MAIL\\", "*.*"},      {Base::kProgram, nullptr, "USER.PW"},
};

const char* const kDataDirectories[] = {"MAIL\\", "INFO\\", "SRV\\",      "TMP\\",
                                        "PORT\\", "WTEL\\", "FRONTPGS\\", "NETQUEUE\\"};

bool Join(char* path, size_t capacity, const char* directory, const char* name) {
  return StrCopy(path, capacity, directory) && StrAppend(path, capacity, name);
}

// A directory as a sweep finds it: to be entered, a link (removed itself,
// never entered), or not to be used at all.
enum class Entry { kEnter, kLink, kSkip };

// On NT-family Windows the directory is held open first and told by that
// handle, so that it stays what it was found to be while the sweep works in
// it; the caller lets go of *held. Windows 95 opens no directory: there its
// attributes tell, and one whose attributes cannot be had counts as a link.
// Asked without its trailing backslash: with one, Windows may report what
// the link leads to instead of the link.
Entry EnterDirectory(const char* directory, bool hold, HANDLE* held, DirectoryIdentity* identity) {
  *held = INVALID_HANDLE_VALUE;
  char path[460];
  if (!StrCopy(path, CountOf(path), directory)) return hold ? Entry::kSkip : Entry::kLink;
  TrimBackslashes(path, 3);
  if (hold) {
    switch (HoldDirectory(path, held, identity)) {
      case Holding::kDirectory:
        return Entry::kEnter;
      case Holding::kLink:
        return Entry::kLink;
      default:
        return Entry::kSkip;
    }
  }
  const DWORD attributes = GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Entry::kLink
                                                                                                  : Entry::kEnter;
}

void LetGo(HANDLE held) {
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
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

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether a long name matches a pattern: * any run of characters, ? one,
// letters without regard to case, *.* every name. Windows also matches the
// pattern against each file's 8.3 name, so *.GID finds Index.gidx through
// INDEX~1.GID; such a file is no match of the pattern. Compared by bytes,
// which is safe for the suite's patterns in every code page: each fixed
// part starts the name or starts with a dot, and neither the start of a
// name nor a dot is ever the second byte of a letter.
bool MatchesPattern(const char* pattern, const char* name) {
  if (StrEqual(pattern, "*.*")) return true;
  const char* star = nullptr;  // the last * seen, and where in name it stands
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = ++pattern;
      resume = name;
    } else if (*pattern != '\0' && (*pattern == '?' || UpperAscii(*pattern) == UpperAscii(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

typedef void (*MatchAction)(const char* directory, const WIN32_FIND_DATAA& found, const char* path, bool hold);

// Runs action on every match of pattern in a directory already entered,
// each before the next one is looked for.
void SearchEntered(const char* directory, const char* pattern, bool hold, MatchAction action) {
  char search[460];
  if (!Join(search, CountOf(search), directory, pattern)) return;
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(search, &found);
  if (handle == INVALID_HANDLE_VALUE) return;
  do {
    char path[520];
    if (IsReachableName(found.cFileName) && MatchesPattern(pattern, found.cFileName) &&
        Join(path, CountOf(path), directory, found.cFileName)) {
      action(directory, found, path, hold);
    }
  } while (FindNextFileA(handle, &found));
  FindClose(handle);
}

// Runs action on every match of pattern in directory. A directory that is
// a link (a junction, a symbolic link) is not searched: Windows 95 and NT 4
// have none, and on later Windows following one would delete files outside
// the product with the uninstaller's rights.
void ForEachMatch(const char* directory, const char* pattern, bool hold, MatchAction action) {
  HANDLE held;
  DirectoryIdentity identity;
  if (EnterDirectory(directory, hold, &held, &identity) == Entry::kEnter) {
    SearchEntered(directory, pattern, hold, action);
  }
  LetGo(held);
}

// Directories among the matches are refused by DeleteFileA.
void DeleteMatch(const char*, const WIN32_FIND_DATAA&, const char* path, bool) { DeleteFileA(path); }

void DeleteSharedMatch(const char* directory, const WIN32_FIND_DATAA& found, const char* path, bool) {
  // Dropped also when the file can only be scheduled, or not even that; and
  // before the file goes, so that a run cut off in between leaves the file
  // for the next run to find, not a count for a file that is gone.
  SharedDllForget(directory, found.cFileName);
  DeleteOrScheduleFile(path);
}

void RemoveSubdirectory(const char* directory, const WIN32_FIND_DATAA& found, const char*, bool hold) {
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;  // files went with DeleteFiles
  char subdirectory[460];
  if (!Join(subdirectory, CountOf(subdirectory), directory, found.cFileName) ||
      !StrAppend(subdirectory, CountOf(subdirectory), "\\")) {
    return;
  }
  RemoveDirectoryTree(subdirectory, hold);
}

// RemoveDirectoryA takes a junction away even when its target is full; one
// on the way to the product (C:\Apps for C:\Programme\APP) belongs to the
// user. Every hold on the directory goes just before, those on the
// directories above it stay: under a held parent a name swapped meanwhile
// can only be a link, and RemoveDirectoryA removes just the link.
void RemoveEmptyDirectory(const char* directory, HeldDirectories* held) {
  HANDLE own;
  DirectoryIdentity identity;
  const Entry entry = EnterDirectory(directory, held != nullptr, &own, &identity);
  LetGo(own);
  if (entry != Entry::kEnter) return;
  if (held != nullptr) ReleaseHeldOn(held, identity);
  RemoveDirectoryA(directory);
}

}  // namespace

void DeleteFiles(const char* directory, const char* pattern, bool hold) {
  ForEachMatch(directory, pattern, hold, DeleteMatch);
}

void DeleteSharedFiles(const char* directory, const char* pattern, bool hold) {
  ForEachMatch(directory, pattern, hold, DeleteSharedMatch);
}

void StripLastDirectory(char* path) {
  if (!EndsInBackslash(path)) return;
  // The backslash before the trailing one; a path with no other backslash
  // (C:\ or \) has no directory to cut.
  const size_t before = BackslashBefore(path, StrLength(path) - 1);
  if (before != kNoBackslash) path[before + 1] = '\0';
}

void RemoveDirectoryTree(const char* directory, bool hold) {
  // A link is not entered, only removed itself; a directory that cannot be
  // held is left alone. The directory is let go just before it goes.
  HANDLE held;
  DirectoryIdentity identity;
  const Entry entry = EnterDirectory(directory, hold, &held, &identity);
  if (entry == Entry::kEnter) {
    SearchEntered(directory, "*.*", hold, DeleteMatch);
    SearchEntered(directory, "*.*", hold, RemoveSubdirectory);
  }
  LetGo(held);
  if (entry != Entry::kSkip) RemoveDirectoryA(directory);
}

int CleanProductFiles(const char* productRoot, char* programDir, const char* userDir, HeldDirectories* held) {
  const bool hold = held != nullptr;
  for (const FileStep& step : kFileSteps) {
    const char* base = step.base == Base::kRoot   ? productRoot
                       : step.base == Base::kUser ? userDir
                                                  : programDir;
    char directory[520];
    if (Join(directory, CountOf(directory), base, step.subdirectory)) DeleteFiles(directory, step.pattern, hold);
  }
  for (const char* name : kDataDirectories) {
    char directory[520];
    if (Join(directory, CountOf(directory), programDir, name)) RemoveDirectoryTree(directory, hold);
  }
  // The program directory, then the directory above it, each only when it
  // is empty by now. With P ending in two backslashes the first strip takes
  // only the doubled one, so the program directory is tried twice.
  RemoveEmptyDirectory(programDir, held);
  StripLastDirectory(programDir);
  RemoveEmptyDirectory(programDir, held);
  StripLastDirectory(programDir);
  RemoveEmptyDirectory(programDir, held);

  char windowsDir[520];
  if (WindowsDirectoryWith(windowsDir, CountOf(windowsDir), "\\")) DeleteFiles(windowsDir, "TAVFAXDV.INI", hold);
  return 0;
}
