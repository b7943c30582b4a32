#include "files/schedule.h"

#include "common/places.h"
#include "common/strings.h"

namespace {

// The byte after the "]" of the first header [section], letters compared
// without regard to case; null when there is none. Read by letters: in the
// double-byte code pages "[" and "]" may be the second byte of a letter,
// and no bracket. The search stops at the first zero byte, and after a "["
// that is not the header it goes on right after that "[", not after its
// "]". Each "[" up to a "]" finds that same "]", so it is looked for once,
// and when none follows a "[" none follows a later one: linear in the text,
// whatever anyone wrote into the file.
const char* FindSectionHeader(const char* text, const char* section) {
  const size_t length = StrLength(section);
  const char* cursor = text;
  const char* close = text;  // the first "]" at or after the last name searched
  for (;;) {
    while (*cursor != '\0' && *cursor != '[') cursor = CharNextA(cursor);
    if (*cursor == '\0') return nullptr;
    const char* name = cursor + 1;
    if (close < name) {
      close = name;
      while (*close != '\0' && *close != ']') close = CharNextA(close);
    }
    if (*close != ']') return nullptr;
    if (static_cast<size_t>(close - name) == length &&
        (length == 0 || AsciiEqualNoCase(name, section, length))) {
      return close + 1;
    }
    cursor = name;
  }
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

bool WriteAll(HANDLE file, const char* bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

}  // namespace

bool PlanIniEntry(const char* text, DWORD size, const char* section, const char* key, const char* value,
                  char* entry, size_t capacity, DWORD* insertAt) {
  const char* header = FindSectionHeader(text, section);
  if (header != nullptr) {
    DWORD at = static_cast<DWORD>(header - text);
    // Text after the bracket (blanks, a comment) stays on the header's line
    // instead of ending up in the new entry's value.
    while (at < size && !IsLineBreak(text[at])) ++at;
    *insertAt = at;
    return StrFormat(entry, capacity, "\r\n%s=%s", key, value);
  }
  *insertAt = size;
  // A header glued to the end of the last line would not be found by
  // Windows 95, and the file would never be deleted.
  if (size > 0 && !IsLineBreak(text[size - 1])) {
    return StrFormat(entry, capacity, "\r\n[%s]\r\n%s=%s", section, key, value);
  }
  return StrFormat(entry, capacity, "[%s]\r\n%s=%s", section, key, value);
}

// Room for the entry text behind the file's bytes in the one buffer.
const DWORD kEntryCapacity = 520;

void IniAddEntry(const char* section, const char* key, const char* value, const char* file) {
  // The profile functions keep a cached copy; flush it before editing.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
  HANDLE handle = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  const DWORD size = GetFileSize(handle, nullptr);
  char* text = size != INVALID_FILE_SIZE && size <= INVALID_FILE_SIZE - kEntryCapacity - 1
                   ? static_cast<char*>(LocalAlloc(LMEM_FIXED, size + kEntryCapacity + 1))
                   : nullptr;
  DWORD read = 0;
  // A short read would leave part of the buffer unknown, to be written back.
  if (text != nullptr && ReadFile(handle, text, size, &read, nullptr) && read == size) {
    text[size] = '\0';
    char entry[kEntryCapacity];
    DWORD insertAt = 0;
    if (PlanIniEntry(text, size, section, key, value, entry, CountOf(entry), &insertAt)) {
      // The entry and the bytes after it go out in one write: a run cut off
      // between two writes would leave the entry over old bytes, lost.
      const DWORD length = static_cast<DWORD>(StrLength(entry));
      const DWORD moved = size - insertAt;
      for (DWORD i = moved; i > 0; --i) text[insertAt + length + i - 1] = text[insertAt + i - 1];
      for (DWORD i = 0; i < length; ++i) text[insertAt + i] = entry[i];
      const bool written =
          SetFilePointer(handle, static_cast<LONG>(insertAt), nullptr, FILE_BEGIN) == insertAt &&
          WriteAll(handle, text + insertAt, length + moved) && SetEndOfFile(handle);
      if (!written) {
        // Put back what was there: the moved bytes, and the old length. Never
        // write where the position is not known.
        if (SetFilePointer(handle, static_cast<LONG>(insertAt), nullptr, FILE_BEGIN) == insertAt) {
          WriteAll(handle, text + insertAt + length, moved);
        }
        if (SetFilePointer(handle, static_cast<LONG>(size), nullptr, FILE_BEGIN) == size)
          SetEndOfFile(handle);
      }
    }
  }
  if (text != nullptr) LocalFree(text);
  CloseHandle(handle);
}

void DeleteOrScheduleFile(const char* path) {
  if (DeleteFileA(path)) return;
  if (MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return;
  // Windows 95 has no delayed delete of its own; it carries out WININIT.INI.
  char iniPath[460];
  if (!WindowsDirectoryWith(iniPath, CountOf(iniPath), "\\WININIT.INI")) return;
  char shortPath[260];
  const DWORD shortLength = GetShortPathNameA(path, shortPath, CountOf(shortPath));
  // No short path, no entry: NUL= with a wrong name could delete another file.
  if (shortLength == 0 || shortLength >= CountOf(shortPath)) return;
  IniAddEntry("Rename", "NUL", shortPath, iniPath);
}
