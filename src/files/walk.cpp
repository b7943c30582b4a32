#include "files/walk.h"

#include <stddef.h>

#include "common/bytes.h"
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

// Appends ASCII letters to a name; false when they do not fit.
bool AppendAscii(WideName* name, const char* ascii) {
  for (; *ascii != '\0'; ++ascii) {
    if (name->length >= kMaxNameLength) return false;
    name->text[name->length++] = static_cast<WCHAR>(static_cast<unsigned char>(*ascii));
  }
  return true;
}

// A fixed ASCII name of the suite as NT keeps it.
void AsciiName(const char* ascii, WideName* name) {
  name->length = 0;
  AppendAscii(name, ascii);
}

// A name as NT keeps it, where it lies: in a listing, or a WideName.
struct Name {
  const WCHAR* text;
  ULONG length;
};

Name NameOf(const WideName& name) { return Name{name.text, name.length}; }

// Whether a name the directory gave can be opened as itself: not the
// directory or its parent, nothing a path would read as a separator or a
// stream.
bool IsOwnName(const Name& name) {
  ULONG dots = 0;
  for (ULONG i = 0; i < name.length; ++i) {
    const WCHAR letter = name.text[i];
    if (letter == 0 || letter == '\\' || letter == '/' || letter == ':') return false;
    dots += letter == '.';
  }
  // Not empty, "." or "..": "..." is a name of its own on NT.
  return name.length > dots || name.length > 2;
}

// Opens name in directory, relative to its handle, as a directory or as a
// file: a link is opened itself, never followed.
NTSTATUS OpenBelow(const NativeCalls& calls, HANDLE directory, const Name& name, bool wantDirectory,
                   ACCESS_MASK access, ULONG share, HANDLE* opened) {
  // NT 4 has no links, and may refuse the option that opens one itself:
  // then it is asked without.
  ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT |
                  (wantDirectory ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
  for (;;) {
    const NTSTATUS status =
        OpenNameIn(calls.createFile, directory, name.text, name.length, access | SYNCHRONIZE, share, options, opened);
    if (status != kInvalidParameter || (options & FILE_OPEN_REPARSE_POINT) == 0) return status;
    options &= ~static_cast<ULONG>(FILE_OPEN_REPARSE_POINT);
  }
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

// One entry of a directory, read from its handle: its attributes and its
// name, where it lies in the listing.
struct Entry {
  DWORD attributes;
  Name name;
};

typedef void (*VisitEntry)(void* context, const Entry& entry);

// A listing as NtQueryDirectoryFile writes it: WCHAR text, where the names
// are read as what they are; the rest of each entry is read byte by byte,
// in the layout NT documents.
const ULONG kNameAt = offsetof(FILE_DIRECTORY_INFORMATION, FileName);

// Reads a directory from its handle, from its first entry, as many entries
// at a time as the buffer holds (at least one of the longest name), and
// calls visit on each. Where the directory cannot be read further, or gives
// what is not a listing, the rest stays.
void ForEachEntry(const NativeCalls& calls, HANDLE directory, WCHAR* buffer, ULONG size, VisitEntry visit,
                  void* context) {
  const BYTE* const bytes = reinterpret_cast<const BYTE*>(buffer);
  IO_STATUS_BLOCK io;
  for (BOOLEAN restart = TRUE; calls.queryDirectory(directory, nullptr, nullptr, nullptr, &io, buffer, size,
                                                    FileDirectoryInformation, FALSE, nullptr, restart) == kSuccess;
       restart = FALSE) {
    const size_t end = io.Information < size ? io.Information : size;
    for (size_t at = 0;;) {
      // An entry lies whole in what the call wrote, its name too.
      if (at + kNameAt > end) return;
      const DWORD nameBytes = LongAt(bytes, at + offsetof(FILE_DIRECTORY_INFORMATION, FileNameLength));
      if (nameBytes % sizeof(WCHAR) != 0 || nameBytes > end - at - kNameAt) return;
      const Entry entry = {LongAt(bytes, at + offsetof(FILE_DIRECTORY_INFORMATION, FileAttributes)),
                           {buffer + (at + kNameAt) / sizeof(WCHAR), static_cast<ULONG>(nameBytes / sizeof(WCHAR))}};
      visit(context, entry);
      const DWORD next = LongAt(bytes, at);  // NextEntryOffset; 0 for the last
      if (next == 0) break;
      if (next > end - at || next % sizeof(ULONGLONG) != 0) return;
      at += next;
    }
  }
}

// How much of a directory's listing is read at a time: much where nothing
// is entered meanwhile, little where each directory below keeps its own.
// Either holds an entry of the longest name.
const size_t kOneEntry = kNameAt + sizeof(WideName::text);
const size_t kWideListing = 2048;
const size_t kDeepListing = (kOneEntry + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG) * sizeof(ULONGLONG);
static_assert(kWideListing >= kOneEntry, "one entry fits");

// Where the walk is: the directory it reads, and what it does there.
struct Place {
  const NativeCalls* calls;
  HANDLE directory;
  const char* pattern;  // the files to delete
  int depth;            // how far below the top of the walk
};

void RemoveChild(const NativeCalls& calls, HANDLE parent, const Name& name, DWORD listed, int depth);

// Deletes one file of a listing that matches the place's pattern.
void DeleteMatch(void* context, const Entry& entry) {
  const Place& place = *static_cast<const Place*>(context);
  if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsOwnName(entry.name) ||
      !MatchesPattern(place.pattern, entry.name.text, entry.name.length, sizeof(WCHAR))) {
    return;
  }
  HANDLE file;
  if (OpenBelow(*place.calls, place.directory, entry.name, false, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                &file) != kSuccess) {
    return;
  }
  if (OpenedAsListed(file, entry.attributes)) MarkDeleted(*place.calls, file);
  place.calls->close(file);
}

// Empties the directory handle holds, with every directory below it, then
// marks it deleted.
void RemoveSubdirectory(void* context, const Entry& entry) {
  const Place& place = *static_cast<const Place*>(context);
  if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && IsOwnName(entry.name)) {
    RemoveChild(*place.calls, place.directory, entry.name, entry.attributes, place.depth + 1);
  }
}

void EmptyAndRemove(const NativeCalls& calls, HANDLE directory, int depth) {
  DeleteMatchesIn(calls, directory, "*.*");
  if (depth < kMaxDepth) {
    Place place = {&calls, directory, nullptr, depth};
    alignas(ULONGLONG) WCHAR buffer[kDeepListing / sizeof(WCHAR)];
    ForEachEntry(calls, directory, buffer, sizeof(buffer), RemoveSubdirectory, &place);
  }
  MarkDeleted(calls, directory);
}

// A directory below parent, held while it is emptied; a link there is
// removed itself.
void RemoveChild(const NativeCalls& calls, HANDLE parent, const Name& name, DWORD listed, int depth) {
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
bool OpenToSearch(const NativeCalls& calls, HANDLE parent, const Name& name, HANDLE* directory) {
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
void RemoveEmptyHeld(const NativeCalls& calls, HANDLE parent, const Name& name,
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

NTSTATUS OpenNameIn(CreateFileCall create, HANDLE directory, const WCHAR* name, ULONG length, ACCESS_MASK access,
                    ULONG share, ULONG options, HANDLE* opened) {
  UNICODE_STRING text;
  text.Length = static_cast<USHORT>(length * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  text.Buffer = const_cast<WCHAR*>(name);
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = directory;
  attributes.ObjectName = &text;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK io;
  return create(opened, access, &attributes, &io, nullptr, 0, share, FILE_OPEN, options, nullptr, 0);
}

bool FindNativeCalls(const LaterCalls& later, NativeCalls* calls) {
  FARPROC found[4];
  if (!FindSystemCalls("NTDLL.DLL", "NtCreateFile\0NtQueryDirectoryFile\0NtSetInformationFile\0NtClose\0", found)) {
    return false;
  }
  calls->createFile = AsCall<CreateFileCall>(found[0]);
  calls->queryDirectory = AsCall<QueryDirectoryCall>(found[1]);
  calls->setInformation = AsCall<SetInformationCall>(found[2]);
  calls->close = AsCall<CloseCall>(found[3]);
  calls->fileInformation = later.fileInformation;
  return true;
}

bool WidenName(const char* name, size_t length, const char* suffix, WideName* wide) {
  wide->length = 0;
  if (length > kMaxNameLength) return false;
  if (length > 0) {
    const int made = MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(length), wide->text,
                                         static_cast<int>(kMaxNameLength));
    if (made <= 0) return false;
    wide->length = static_cast<ULONG>(made);
  }
  return AppendAscii(wide, suffix);
}

void DeleteMatchesIn(const NativeCalls& calls, HANDLE directory, const char* pattern) {
  Place place = {&calls, directory, pattern, 0};
  alignas(ULONGLONG) WCHAR buffer[kWideListing / sizeof(WCHAR)];
  ForEachEntry(calls, directory, buffer, sizeof(buffer), DeleteMatch, &place);
}

void RemoveTreeBelow(const NativeCalls& calls, HANDLE parent, const WideName& name) {
  RemoveChild(calls, parent, NameOf(name), kNotListed, 0);
}

void CleanProductTree(const NativeCalls& calls, const ProductTree& tree, HeldDirectories* held) {
  HANDLE user = INVALID_HANDLE_VALUE;
  if (!OpenToSearch(calls, tree.above, NameOf(tree.userName), &user)) user = INVALID_HANDLE_VALUE;
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
    if (OpenToSearch(calls, base, NameOf(name), &subdirectory)) {
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
  RemoveEmptyHeld(calls, tree.above, NameOf(tree.programName), tree.programIdentity, held);
  if (tree.aboveMayGo) RemoveEmptyHeld(calls, tree.aboveParent, NameOf(tree.aboveName), tree.aboveIdentity, held);
}
