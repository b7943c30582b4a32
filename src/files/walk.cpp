#include "files/walk.h"

#include <stddef.h>

#include "common/pattern.h"
#include "common/strings.h"
#include "text/texts.h"

namespace {

const NTSTATUS kSuccess = 0;
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);
const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a directory the walk works in is opened for: reading it and
// removing it. Sharing reading only, nobody renames or removes it meanwhile.
const ACCESS_MASK kWalkAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE;
// Deeper than any tree a MAX_PATH path reaches; each level takes a handle
// and a name on the stack.
const int kMaxDepth = 128;
// What the listing says of a name the walk did not find by a listing.
const DWORD kNotListed = 0;
// How much of a directory's listing is read at a time: much where nothing
// is entered meanwhile, little where each directory below keeps its own.
const size_t kWideListing = 4096;
const size_t kDeepListing = 1024;

// A fixed ASCII name of the suite as NT keeps it.
void AsciiName(const char* ascii, WideName* name) {
  name->length = 0;
  while (ascii[name->length] != '\0' && name->length < CountOf(name->text)) {
    name->text[name->length] = static_cast<WCHAR>(static_cast<unsigned char>(ascii[name->length]));
    ++name->length;
  }
}

// Whether a name the directory gave can be opened as itself: not the
// directory or its parent, nothing a path would read as a separator or a
// stream.
bool IsOwnName(const WideName& name) {
  if (name.length == 0 || (name.text[0] == '.' && (name.length == 1 || (name.length == 2 && name.text[1] == '.')))) {
    return false;
  }
  for (ULONG i = 0; i < name.length; ++i) {
    const WCHAR letter = name.text[i];
    if (letter == 0 || letter == '\\' || letter == '/' || letter == ':') return false;
  }
  return true;
}

// Opens name in directory, relative to its handle, as a directory or as a
// file: a link is opened itself, never followed.
NTSTATUS OpenBelow(const NativeCalls& calls, HANDLE directory, const WideName& name, bool wantDirectory,
                   ACCESS_MASK access, ULONG share, HANDLE* opened) {
  UNICODE_STRING text;
  text.Length = static_cast<USHORT>(name.length * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  text.Buffer = const_cast<WCHAR*>(name.text);
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = directory;
  attributes.ObjectName = &text;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK io;
  const ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT |
                        (wantDirectory ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
  NTSTATUS status = calls.createFile(opened, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, share, FILE_OPEN,
                                     options, nullptr, 0);
  // NT 4 has no links, and may refuse the option that opens one itself.
  if (status == kInvalidParameter) {
    status = calls.createFile(opened, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, share, FILE_OPEN,
                              options & ~static_cast<ULONG>(FILE_OPEN_REPARSE_POINT), nullptr, 0);
  }
  return status;
}

// The attributes of what a handle holds; 0 when they cannot be had.
DWORD AttributesOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformationByHandle(handle, &information) ? information.dwFileAttributes : 0;
}

// Whether the link the listing found is what was opened. Wine 8 opens where
// a link leads even when asked for the link itself: there only the listing
// tells, and such an entry is left alone.
bool OpenedAsListed(HANDLE handle, DWORD listed) {
  return (listed & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || (AttributesOf(handle) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Marks what handle holds deleted; it goes when the handle is closed. A
// file in use, a read-only one or a directory not yet empty stays.
bool MarkDeleted(const NativeCalls& calls, HANDLE handle) {
  FILE_DISPOSITION_INFORMATION disposition;
  disposition.DoDeleteFile = TRUE;
  IO_STATUS_BLOCK io;
  return calls.setInformation(handle, &io, &disposition, sizeof(disposition), FileDispositionInformation) == kSuccess;
}

unsigned ByteAt(const BYTE* data, size_t at) { return data[at]; }
unsigned WordAt(const BYTE* data, size_t at) { return ByteAt(data, at) | ByteAt(data, at + 1) << 8; }
DWORD LongAt(const BYTE* data, size_t at) { return WordAt(data, at) | static_cast<DWORD>(WordAt(data, at + 2)) << 16; }

// One entry of a directory, read from its handle: its attributes and name.
struct Entry {
  DWORD attributes;
  WideName name;
};

// The entry at offset at of a listing's bytes (end of them valid); false
// where it does not lie whole within them.
bool ReadEntry(const BYTE* bytes, size_t at, size_t end, Entry* entry) {
  const size_t nameAt = at + offsetof(FILE_DIRECTORY_INFORMATION, FileName);
  if (nameAt > end) return false;
  const DWORD nameBytes = LongAt(bytes, at + offsetof(FILE_DIRECTORY_INFORMATION, FileNameLength));
  if (nameBytes % sizeof(WCHAR) != 0 || nameBytes > sizeof(entry->name.text) || nameBytes > end - nameAt) return false;
  entry->attributes = LongAt(bytes, at + offsetof(FILE_DIRECTORY_INFORMATION, FileAttributes));
  entry->name.length = nameBytes / sizeof(WCHAR);
  for (ULONG i = 0; i < entry->name.length; ++i) {
    entry->name.text[i] = static_cast<WCHAR>(WordAt(bytes, nameAt + i * sizeof(WCHAR)));
  }
  return true;
}

// Reads a directory from its handle, from its first entry, as many entries
// at a time as Size bytes hold (at least one of the longest name), and
// calls visit on each. Where the directory cannot be read further, or gives
// what is not a listing, the rest stays.
template <size_t Size, typename Visit>
void ForEachEntry(const NativeCalls& calls, HANDLE directory, Visit visit) {
  static_assert(Size >= offsetof(FILE_DIRECTORY_INFORMATION, FileName) + sizeof(WideName::text), "one entry fits");
  ULONGLONG raw[Size / sizeof(ULONGLONG)];
  // Read byte by byte: the buffer is the call's, its layout the one NT
  // documents.
  const BYTE* const bytes = reinterpret_cast<const BYTE*>(raw);
  IO_STATUS_BLOCK io;
  for (BOOLEAN restart = TRUE; calls.queryDirectory(directory, nullptr, nullptr, nullptr, &io, raw, sizeof(raw),
                                                    FileDirectoryInformation, FALSE, nullptr, restart) == kSuccess;
       restart = FALSE) {
    const size_t end = io.Information < sizeof(raw) ? io.Information : sizeof(raw);
    for (size_t at = 0;;) {
      Entry entry;
      if (!ReadEntry(bytes, at, end, &entry)) return;
      visit(entry);
      const DWORD next = LongAt(bytes, at);  // NextEntryOffset; 0 for the last
      if (next == 0) break;
      if (next > end - at) return;
      at += next;
    }
  }
}

void RemoveChild(const NativeCalls& calls, HANDLE parent, const WideName& name, DWORD listed, int depth);

// Empties the directory handle holds, with every directory below it, then
// marks it deleted.
void EmptyAndRemove(const NativeCalls& calls, HANDLE directory, int depth) {
  DeleteMatchesIn(calls, directory, "*.*");
  if (depth < kMaxDepth) {
    // Little of the listing at a time: each level below keeps its own.
    ForEachEntry<kDeepListing>(calls, directory, [&calls, directory, depth](const Entry& entry) {
      if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && IsOwnName(entry.name)) {
        RemoveChild(calls, directory, entry.name, entry.attributes, depth + 1);
      }
    });
  }
  MarkDeleted(calls, directory);
}

// A directory below parent, held while it is emptied; a link there is
// removed itself.
void RemoveChild(const NativeCalls& calls, HANDLE parent, const WideName& name, DWORD listed, int depth) {
  HANDLE directory;
  if (OpenBelow(calls, parent, name, true, kWalkAccess, FILE_SHARE_READ, &directory) != kSuccess) return;
  if (OpenedAsListed(directory, listed)) {
    if ((AttributesOf(directory) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      MarkDeleted(calls, directory);
    } else {
      EmptyAndRemove(calls, directory, depth);
    }
  }
  calls.close(directory);
}

// A directory below parent to search, held while it is: false for a link,
// which is not entered.
bool OpenToSearch(const NativeCalls& calls, HANDLE parent, const WideName& name, HANDLE* directory) {
  if (OpenBelow(calls, parent, name, true, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                directory) != kSuccess) {
    return false;
  }
  if ((AttributesOf(*directory) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
      FILE_ATTRIBUTE_DIRECTORY) {
    return true;
  }
  calls.close(*directory);
  return false;
}

// Removes the directory name in parent when it has become empty, the very
// one told by identity and no link; the holds on it go first.
void RemoveEmptyHeld(const NativeCalls& calls, HANDLE parent, const WideName& name,
                     const DirectoryIdentity& identity, HeldDirectories* held) {
  ReleaseHeldOn(held, identity);
  HANDLE directory;
  if (OpenBelow(calls, parent, name, true, DELETE | FILE_READ_ATTRIBUTES, kShareAll, &directory) != kSuccess) return;
  DirectoryIdentity found;
  DWORD attributes = 0;
  if (TellIdentity(directory, calls.fileInformation, &found, &attributes) &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && SameIdentity(found, identity)) {
    MarkDeleted(calls, directory);
  }
  calls.close(directory);
}

}  // namespace

bool FindNativeCalls(const LaterCalls& later, NativeCalls* calls) {
  calls->createFile = AsCall<CreateFileCall>(SystemCall("NTDLL.DLL", "NtCreateFile"));
  calls->queryDirectory = AsCall<QueryDirectoryCall>(SystemCall("NTDLL.DLL", "NtQueryDirectoryFile"));
  calls->setInformation = AsCall<SetInformationCall>(SystemCall("NTDLL.DLL", "NtSetInformationFile"));
  calls->close = AsCall<CloseCall>(SystemCall("NTDLL.DLL", "NtClose"));
  calls->fileInformation = later.fileInformation;
  return calls->createFile != nullptr && calls->queryDirectory != nullptr && calls->setInformation != nullptr &&
         calls->close != nullptr;
}

bool WidenName(const char* name, WideName* wide) {
  // The terminator too, so that a name that does not fit fails whole.
  WCHAR text[kMaxNameLength + 1];
  const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, text, static_cast<int>(CountOf(text)));
  if (length <= 1) return false;
  wide->length = static_cast<ULONG>(length - 1);
  for (ULONG i = 0; i < wide->length; ++i) wide->text[i] = text[i];
  return true;
}

void DeleteMatchesIn(const NativeCalls& calls, HANDLE directory, const char* pattern) {
  ForEachEntry<kWideListing>(calls, directory, [&calls, directory, pattern](const Entry& entry) {
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsOwnName(entry.name) ||
        !MatchesPattern(pattern, entry.name.text, entry.name.length)) {
      return;
    }
    HANDLE file;
    if (OpenBelow(calls, directory, entry.name, false, DELETE | FILE_READ_ATTRIBUTES, kShareAll, &file) != kSuccess) {
      return;
    }
    if (OpenedAsListed(file, entry.attributes)) MarkDeleted(calls, file);
    calls.close(file);
  });
}

void RemoveTreeBelow(const NativeCalls& calls, HANDLE parent, const WideName& name) {
  RemoveChild(calls, parent, name, kNotListed, 0);
}

void CleanProductTree(const NativeCalls& calls, const ProductTree& tree, HeldDirectories* held) {
  HANDLE user = INVALID_HANDLE_VALUE;
  if (!OpenToSearch(calls, tree.above, tree.userName, &user)) user = INVALID_HANDLE_VALUE;
  const HANDLE root = tree.rootIsProgram ? tree.program : tree.above;
  for (const FileSweep& sweep : kFileSweeps) {
    const HANDLE base = sweep.base == SweepBase::kRoot ? root : sweep.base == SweepBase::kUser ? user : tree.program;
    if (base == INVALID_HANDLE_VALUE) continue;
    if (sweep.subdirectory == nullptr) {
      DeleteMatchesIn(calls, base, sweep.pattern);
      continue;
    }
    WideName name;
    AsciiName(sweep.subdirectory, &name);
    HANDLE subdirectory;
    if (OpenToSearch(calls, base, name, &subdirectory)) {
      DeleteMatchesIn(calls, subdirectory, sweep.pattern);
      calls.close(subdirectory);
    }
  }
  if (user != INVALID_HANDLE_VALUE) calls.close(user);
  for (const char* data : kDataDirectories) {
    WideName name;
    AsciiName(data, &name);
    RemoveTreeBelow(calls, tree.program, name);
  }
  // The program directory, then the directory above it, when they are
  // empty by now; a link above the product (C:\Apps for C:\Programme\APP)
  // is the user's and stays.
  RemoveEmptyHeld(calls, tree.above, tree.programName, tree.programIdentity, held);
  if (tree.aboveMayGo) RemoveEmptyHeld(calls, tree.aboveParent, tree.aboveName, tree.aboveIdentity, held);
}
