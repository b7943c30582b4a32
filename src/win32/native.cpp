// The native calls of NTDLL that work relative to a directory's handle:
// open a child by its name, read a directory, delete through a handle.
// Each stands on the host descriptor the handle holds (openat, fstatat,
// unlinkat), so that a handle stays on the directory it opened whatever is
// renamed or made a link meanwhile, as on Windows.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "win32/internal.h"

using namespace hostwin;

namespace {

NTSTATUS Finish(PIO_STATUS_BLOCK io, DWORD status, ULONG_PTR information = 0) {
  if (io != nullptr) {
    io->Status = static_cast<NTSTATUS>(status);
    io->Information = information;
  }
  return static_cast<NTSTATUS>(status);
}

std::u32string TextOf(const UNICODE_STRING* name) {
  if (name == nullptr || name->Buffer == nullptr) return std::u32string();
  return DecodeUtf16(name->Buffer, name->Length / sizeof(WCHAR));
}

// The host names of a directory's entries, by its descriptor; none that no
// Windows name can be (one with a backslash).
std::vector<std::string> EntriesAt(int directoryFd) {
  std::vector<std::string> names;
  const int fd = openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* directory = fdopendir(fd);
  if (directory == nullptr) {
    close(fd);
    return names;
  }
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name.find('\\') == std::string::npos) names.push_back(name);
  }
  closedir(directory);
  return names;
}

// The entry of a directory that a Windows name names: the exact host name
// first, then without regard to case, then an 8.3 alias.
bool FindEntryAt(int directoryFd, const std::u32string& name, std::string* hostName) {
  const std::string exact = EncodeUtf8(name);
  struct stat status;
  if (fstatat(directoryFd, exact.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    *hostName = exact;
    return true;
  }
  const std::vector<std::string> names = EntriesAt(directoryFd);
  const std::u32string folded = FoldText(name);
  for (const std::string& candidate : names) {
    if (FoldText(DecodeUtf8(candidate)) == folded) {
      *hostName = candidate;
      return true;
    }
  }
  if (name.find(U'~') == std::u32string::npos || !ShortNamesEnabled()) return false;
  std::vector<std::string> ansiNames;
  for (const std::string& candidate : names) ansiNames.push_back(AnsiFromUtf8(candidate));
  const std::vector<std::string> aliases = ShortNames(ansiNames);
  const std::string wanted = EncodeAnsi(name, AnsiCodePage(), nullptr);
  for (size_t i = 0; i < aliases.size(); ++i) {
    if (EqualNoCase(aliases[i], wanted)) {
      *hostName = names[i];
      return true;
    }
  }
  return false;
}

// A single name: no separator, no stream, no wildcard, no control
// character. (Windows would take a relative path of several names too;
// the layer takes one.)
bool IsSingleName(const std::u32string& name) {
  if (name == U"." || name == U"..") return false;
  for (char32_t c : name) {
    if (c < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
        c == '>' || c == '|') {
      return false;
    }
  }
  return true;
}

bool Writes(ACCESS_MASK access) {
  return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

std::string SubjectBelow(const FileObject& directory, const std::u32string& name) {
  std::string subject = directory.subject;
  // By letters: the last byte of a letter of two may be 0x5C.
  if (!subject.empty() && !EndsWithSeparator(subject)) subject += "\\";
  return subject + EncodeAnsi(name, AnsiCodePage(), nullptr);
}

// Opens what the name names in the directory, as NtCreateFile asks:
// *status says why not.
FileObject* OpenAt(const FileObject& parent, const std::u32string& name, ACCESS_MASK access, ULONG share,
                   ULONG options, DWORD* status) {
  std::string hostName;
  if (name.empty()) {
    hostName = ".";
  } else if (!IsSingleName(name)) {
    *status = kStatusObjectNameInvalid;
    return nullptr;
  } else if (!FindEntryAt(parent.fd, name, &hostName)) {
    *status = kStatusObjectNameNotFound;
    return nullptr;
  }
  struct stat own;
  if (fstatat(parent.fd, hostName.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
    *status = kStatusObjectNameNotFound;
    return nullptr;
  }
  const bool isLink = S_ISLNK(own.st_mode);
  const bool linkItself = isLink && (options & FILE_OPEN_REPARSE_POINT) != 0;
  // A link to a directory is a directory, as a junction is.
  struct stat leads = own;
  if (isLink && fstatat(parent.fd, hostName.c_str(), &leads, 0) != 0) {
    if (!linkItself) {
      *status = kStatusObjectNameNotFound;
      return nullptr;
    }
    leads = own;
  }
  const bool isDirectory = S_ISDIR(leads.st_mode) || (linkItself && !S_ISREG(leads.st_mode));
  if ((options & FILE_DIRECTORY_FILE) != 0 && !isDirectory) {
    *status = kStatusNotADirectory;
    return nullptr;
  }
  if ((options & FILE_NON_DIRECTORY_FILE) != 0 && isDirectory) {
    *status = kStatusFileIsADirectory;
    return nullptr;
  }
  DWORD attributes = 0;
  AttributesAt(parent.fd, hostName, &attributes);
  if (!isDirectory && Writes(access) && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    *status = kStatusAccessDenied;
    return nullptr;
  }
  // The access check, as for CreateFileA; NtCreateFile adds nothing to
  // what is asked.
  const std::string directoryHost = HostPathOfHandle(parent);
  if (CheckAccess(hostName == "." ? directoryHost : JoinHost(directoryHost, hostName), access, linkItself) !=
      0) {
    *status = kStatusAccessDenied;
    return nullptr;
  }
  int flags = O_CLOEXEC;
  if (linkItself) {
    flags |= O_PATH | O_NOFOLLOW;
  } else if (isDirectory) {
    flags |= O_RDONLY | O_DIRECTORY;
  } else {
    flags |= Writes(access) ? O_RDWR : O_RDONLY;
  }
  const int fd = openat(parent.fd, hostName.c_str(), flags);
  struct stat opened;
  if (fd < 0 || fstat(fd, &opened) != 0) {
    *status = fd < 0 && errno == ENOENT ? kStatusObjectNameNotFound : kStatusAccessDenied;
    if (fd >= 0) close(fd);
    return nullptr;
  }
  // Sharing as CreateFileA keeps it: the share modes of this process's
  // handles, and for a file [in use] and another process's lock.
  const bool directoryLike = isDirectory || linkItself;
  const bool takesPart = TakesPartInSharing(access);
  const bool shared = !takesPart || (SharingAllows(opened.st_dev, opened.st_ino, access, share) &&
                                     (directoryLike || (!IsInUseFile(opened.st_dev, opened.st_ino) &&
                                                        LockForOthers(fd, share))));
  if (!shared) {
    close(fd);
    *status = kStatusSharingViolation;
    return nullptr;
  }
  FileObject* object = directoryLike ? new FileObject(fd, access, share, opened.st_dev, opened.st_ino, linkItself)
                                     : new FileObject(fd, access, share, opened.st_dev, opened.st_ino);
  object->locked = takesPart && !directoryLike;
  object->parentFd = fcntl(parent.fd, F_DUPFD_CLOEXEC, 0);
  object->hostName = hostName;
  object->host = hostName == "." ? directoryHost : JoinHost(directoryHost, hostName);
  const std::string windows = WindowsPathOfHost(RealHostPath(object->host, linkItself));
  object->finalPath = windows.empty() ? std::string() : "\\\\?\\" + windows;
  *status = kStatusSuccess;
  return object;
}

// What NtQueryDirectoryFile lists: the entries' host names as they were at
// the first call (or the last restart), in the order NTFS gives them (by
// name, without regard to case), a mask applied; "." and ".." first but
// for a drive root.
void TakeListing(FileObject* directory, const std::u32string& mask) {
  std::vector<std::string> names;
  if (!directory->link) names = EntriesAt(directory->fd);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return FoldText(DecodeUtf8(a)) < FoldText(DecodeUtf8(b));
  });
  std::string drive;
  char letter = 0;
  const bool root = DriveOfHost(directory->host, &drive, &letter) && NormalHostPath(directory->host) == drive;
  directory->listing.clear();
  if (!root) directory->listing = {".", ".."};
  directory->listing.insert(directory->listing.end(), names.begin(), names.end());
  if (!mask.empty()) {
    std::vector<std::string> matching;
    for (const std::string& name : directory->listing) {
      if (WildcardMatch(mask, DecodeUtf8(name))) matching.push_back(name);
    }
    directory->listing.swap(matching);
  }
  directory->listed = 0;
  directory->listingTaken = true;
}

long long Ticks(const struct timespec& time) {
  return (static_cast<long long>(time.tv_sec) + 11644473600LL) * 10000000LL + time.tv_nsec / 100;
}

// Writes one entry at the start of out (room bytes); how many bytes it
// took, or 0 when not even its fixed part fits. *cut: the name did not fit.
size_t WriteEntry(const FileObject& directory, const std::string& hostName, FILE_INFORMATION_CLASS kind, BYTE* out,
                  size_t room, bool* cut) {
  const std::u16string name = EncodeUtf16(DecodeUtf8(hostName));
  const size_t fixed = kind == FileDirectoryInformation ? offsetof(FILE_DIRECTORY_INFORMATION, FileName)
                                                        : offsetof(FILE_NAMES_INFORMATION, FileName);
  if (room < fixed) return 0;
  const size_t bytes = name.size() * sizeof(WCHAR);
  *cut = fixed + bytes > room;
  const size_t copied = *cut ? (room - fixed) / sizeof(WCHAR) * sizeof(WCHAR) : bytes;
  memset(out, 0, fixed);
  if (kind == FileDirectoryInformation) {
    FILE_DIRECTORY_INFORMATION entry = {};
    struct stat status = {};
    fstatat(directory.fd, hostName.c_str(), &status, AT_SYMLINK_NOFOLLOW);
    DWORD attributes = 0;
    AttributesAt(directory.fd, hostName, &attributes);
    entry.CreationTime.QuadPart = Ticks(status.st_mtim);
    entry.LastAccessTime.QuadPart = Ticks(status.st_atim);
    entry.LastWriteTime.QuadPart = Ticks(status.st_mtim);
    entry.ChangeTime.QuadPart = Ticks(status.st_ctim);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      entry.EndOfFile.QuadPart = status.st_size;
      entry.AllocationSize.QuadPart = static_cast<long long>(status.st_blocks) * 512;
    }
    entry.FileAttributes = attributes;
    entry.FileNameLength = static_cast<ULONG>(bytes);
    memcpy(out, &entry, fixed);
  } else {
    FILE_NAMES_INFORMATION entry = {};
    entry.FileNameLength = static_cast<ULONG>(bytes);
    memcpy(out, &entry, fixed);
  }
  memcpy(out + fixed, name.data(), copied);
  return fixed + copied;
}

}  // namespace

namespace hostwin {

bool AttributesAt(int directoryFd, const std::string& name, DWORD* attributes) {
  // The descriptor's own path leads to the directory whatever became of its
  // name, and a link at the end is reported itself.
  return HostAttributes("/proc/self/fd/" + std::to_string(directoryFd) + "/" + name, attributes);
}

}  // namespace hostwin

extern "C" NTSTATUS NTAPI NtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                       PIO_STATUS_BLOCK io, PLARGE_INTEGER, ULONG, ULONG share, ULONG disposition,
                                       ULONG options, PVOID, ULONG) {
  const FileObject* parent = attributes != nullptr ? FileOf(attributes->RootDirectory) : nullptr;
  const std::u32string name = attributes != nullptr ? TextOf(attributes->ObjectName) : std::u32string();
  const ApiCall call("NtCreateFile", parent != nullptr ? SubjectBelow(*parent, name) : "");
  if (call.Fails()) return Finish(io, call.Error());
  if (handle == nullptr || attributes == nullptr || io == nullptr ||
      ((options & FILE_DIRECTORY_FILE) != 0 && (options & FILE_NON_DIRECTORY_FILE) != 0)) {
    return Finish(io, kStatusInvalidParameter);
  }
  // Only relative to a directory's handle; only what is there is opened.
  if (parent == nullptr || !parent->directory) return Finish(io, kStatusInvalidHandle);
  if (parent->link) return Finish(io, kStatusObjectNameNotFound);
  if (disposition != FILE_OPEN) return Finish(io, kStatusNotImplemented);
  DWORD status = kStatusSuccess;
  FileObject* object = OpenAt(*parent, name, access, share, options, &status);
  if (object == nullptr) return Finish(io, status);
  *handle = AddObject(object, SubjectBelow(*parent, name));
  return Finish(io, kStatusSuccess, 1);  // FILE_OPENED
}

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE handle, HANDLE event, PIO_APC_ROUTINE apc, PVOID,
                                               PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single, PUNICODE_STRING mask,
                                               BOOLEAN restart) {
  const ApiCall call("NtQueryDirectoryFile", SubjectOf(handle));
  if (call.Fails()) return Finish(io, call.Error());
  FileObject* directory = FileOf(handle);
  if (directory == nullptr) return Finish(io, kStatusInvalidHandle);
  if (!directory->directory || io == nullptr || buffer == nullptr) return Finish(io, kStatusInvalidParameter);
  // The layer's handles are synchronous.
  if (event != nullptr || apc != nullptr) return Finish(io, kStatusNotImplemented);
  if (kind != FileDirectoryInformation && kind != FileNamesInformation) return Finish(io, kStatusInvalidInfoClass);
  const bool first = !directory->listingTaken;
  // The mask is taken at the first call only; later calls, restarts too,
  // keep it (as the call's documentation has it).
  if (first) directory->mask = TextOf(mask);
  if (first || restart) TakeListing(directory, directory->mask);
  BYTE* const out = static_cast<BYTE*>(buffer);
  size_t used = 0;
  size_t previous = 0;
  bool any = false;
  while (directory->listed < directory->listing.size()) {
    const std::string& name = directory->listing[directory->listed];
    struct stat status;
    if (name != "." && name != ".." && fstatat(directory->fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      ++directory->listed;  // gone since the listing was taken
      continue;
    }
    const size_t at = (used + 7) & ~static_cast<size_t>(7);
    if (at >= length) break;
    bool cut = false;
    const size_t took = WriteEntry(*directory, name, kind, out + at, length - at, &cut);
    if (took == 0 || (cut && any)) break;
    if (any) {
      const ULONG next = static_cast<ULONG>(at - previous);
      memcpy(out + previous, &next, sizeof(next));
    }
    ++directory->listed;
    previous = at;
    used = at + took;
    any = true;
    if (cut) return Finish(io, kStatusBufferOverflow, used);
    if (single) break;
  }
  if (!any) {
    if (directory->listed < directory->listing.size()) return Finish(io, kStatusInfoLengthMismatch);
    return Finish(io, first ? kStatusNoSuchFile : kStatusNoMoreFiles);
  }
  return Finish(io, kStatusSuccess, used);
}

extern "C" NTSTATUS NTAPI NtSetInformationFile(HANDLE handle, PIO_STATUS_BLOCK io, PVOID info, ULONG length,
                                               FILE_INFORMATION_CLASS kind) {
  const ApiCall call("NtSetInformationFile", SubjectOf(handle));
  if (call.Fails()) return Finish(io, call.Error());
  FileObject* file = FileOf(handle);
  if (file == nullptr) return Finish(io, kStatusInvalidHandle);
  if (kind != FileDispositionInformation) return Finish(io, kStatusInvalidInfoClass);
  if (info == nullptr || length < sizeof(FILE_DISPOSITION_INFORMATION)) {
    return Finish(io, kStatusInfoLengthMismatch);
  }
  if ((file->access & (DELETE | GENERIC_ALL)) == 0) return Finish(io, kStatusAccessDenied);
  // Windows deletes when the last handle closes; the layer at once, and
  // has nothing to take back.
  if (!static_cast<const FILE_DISPOSITION_INFORMATION*>(info)->DoDeleteFile) return Finish(io, kStatusSuccess);
  const int directoryFd = file->parentFd >= 0 ? file->parentFd : AT_FDCWD;
  const std::string name = file->parentFd >= 0 ? file->hostName : file->host;
  DWORD attributes = 0;
  if (file->parentFd >= 0 ? !AttributesAt(directoryFd, name, &attributes) : !HostAttributes(name, &attributes)) {
    return Finish(io, kStatusObjectNameNotFound);
  }
  if (!file->link && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return Finish(io, kStatusCannotDelete);
  // The name the handle was opened by must still name what it holds, or
  // the link its directory was made.
  struct stat there;
  if (fstatat(directoryFd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
    return Finish(io, kStatusObjectNameNotFound);
  }
  const bool same = there.st_dev == file->device && there.st_ino == file->inode;
  const bool madeLink = S_ISLNK(there.st_mode) && IsLinkMadeFrom(there.st_dev, there.st_ino, file->device, file->inode);
  if (!same && !madeLink) return Finish(io, kStatusObjectNameNotFound);
  const bool directory = S_ISDIR(there.st_mode);
  if (unlinkat(directoryFd, name.c_str(), directory ? AT_REMOVEDIR : 0) != 0) {
    return Finish(io, errno == ENOTEMPTY || errno == EEXIST ? kStatusDirectoryNotEmpty : kStatusAccessDenied);
  }
  return Finish(io, kStatusSuccess);
}

extern "C" NTSTATUS NTAPI NtClose(HANDLE handle) {
  const ApiCall call("NtClose", SubjectOf(handle));
  if (call.Fails()) {
    KeepOpen(handle);
    return static_cast<NTSTATUS>(call.Error());
  }
  // The layer's native calls make files and directories only.
  if (FileOf(handle) == nullptr) return static_cast<NTSTATUS>(kStatusInvalidHandle);
  RemoveObject(handle);
  return static_cast<NTSTATUS>(kStatusSuccess);
}
