// Files and directories of the emulated machine.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>

#include "win32/internal.h"
#include "win32/registry.h"

using namespace hostwin;

namespace {

const DWORD kStoredBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

struct FindObject : Object {
  FindObject() : Object(Kind::kFind) {}
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

FILETIME FileTimeOf(const struct timespec& time) {
  // 100-nanosecond steps since 1601.
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
      static_cast<unsigned long long>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Stores attributes: read-only as the owner-write bit of a file, the rest in
// the extended attribute Wine uses (where the file system has them).
bool StoreAttributes(const std::string& hostPath, DWORD attributes) {
  struct stat info;
  if (lstat(hostPath.c_str(), &info) != 0) return false;
  if (S_ISLNK(info.st_mode)) stat(hostPath.c_str(), &info);
  const bool directory = S_ISDIR(info.st_mode);
  DWORD stored = attributes & kStoredBits;
  if (directory) {
    stored |= attributes & FILE_ATTRIBUTE_READONLY;
  } else {
    const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY)
                            ? (info.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                            : (info.st_mode | S_IWUSR);
    if (chmod(hostPath.c_str(), mode & 07777) != 0) return false;
  }
  // A plain file with the archive bit is what a missing attribute means.
  if (stored == (directory ? 0u : static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE))) {
    removexattr(hostPath.c_str(), "user.DOSATTRIB");
  } else {
    char text[16];
    snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(stored));
    setxattr(hostPath.c_str(), "user.DOSATTRIB", text, strlen(text), 0);
  }
  return true;
}

// * and ?, and the DOS wildcards <, > and " (MS-FSA 2.1.4.4).
bool HasWildcard(const std::string& name) { return name.find_first_of("*?<>\"") != std::string::npos; }

bool FillFindData(const std::string& hostPath, const std::string& name, const std::string& alias,
                  WIN32_FIND_DATAA* data) {
  if (name.size() >= sizeof(data->cFileName)) return false;
  memset(data, 0, sizeof(*data));
  DWORD attributes = FILE_ATTRIBUTE_DIRECTORY;
  struct stat info = {};
  if (!HostAttributes(hostPath, &attributes) || stat(hostPath.c_str(), &info) != 0) {
    lstat(hostPath.c_str(), &info);
  }
  data->dwFileAttributes = attributes;
  data->ftCreationTime = FileTimeOf(info.st_mtim);
  data->ftLastAccessTime = FileTimeOf(info.st_atim);
  data->ftLastWriteTime = FileTimeOf(info.st_mtim);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    data->nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(info.st_size) >> 32);
    data->nFileSizeLow = static_cast<DWORD>(info.st_size);
  }
  memcpy(data->cFileName, name.c_str(), name.size() + 1);
  // Windows leaves the alternate name empty when the name is short already.
  if (alias != name && alias.size() < sizeof(data->cAlternateFileName)) {
    memcpy(data->cAlternateFileName, alias.c_str(), alias.size() + 1);
  }
  return true;
}

// The access that takes part in sharing, as Windows counts it: reading,
// writing or deleting. An open for attributes alone is never refused for
// sharing and refuses nobody.
DWORD SharingAccess(DWORD access) {
  DWORD bits = 0;
  if (access & (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | FILE_READ_DATA | FILE_EXECUTE)) {
    bits |= FILE_SHARE_READ;
  }
  if (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) bits |= FILE_SHARE_WRITE;
  if (access & (DELETE | GENERIC_ALL)) bits |= FILE_SHARE_DELETE;
  return bits;
}

}  // namespace

namespace hostwin {

FileObject::~FileObject() {
  close(fd);
  if (parentFd >= 0) close(parentFd);
}

FileObject* FileOf(HANDLE handle) { return static_cast<FileObject*>(LookUp(handle, Object::Kind::kFile)); }

std::string HostPathOfHandle(const FileObject& file) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(file.fd);
  const ssize_t length = readlink(link.c_str(), path, sizeof(path) - 1);
  if (length <= 0) return file.host;
  std::string found(path, static_cast<size_t>(length));
  const std::string deleted = " (deleted)";
  if (found.size() > deleted.size() && found.compare(found.size() - deleted.size(), deleted.size(), deleted) == 0) {
    found.resize(found.size() - deleted.size());
  }
  return found;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

bool TakesPartInSharing(DWORD access) { return SharingAccess(access) != 0; }

// An open that takes part is refused when it wants what a handle that
// takes part does not share, or does not share what such a handle has.
bool SharingAllows(dev_t device, ino_t inode, DWORD access, DWORD share) {
  const DWORD wants = SharingAccess(access);
  if (wants == 0) return true;
  for (Object* object : ObjectsOf(Object::Kind::kFile)) {
    const FileObject* open = static_cast<const FileObject*>(object);
    if (open->device != device || open->inode != inode) continue;
    const DWORD has = SharingAccess(open->access);
    if (has == 0) continue;
    if ((wants & ~open->share) != 0 || (has & ~share) != 0) return false;
  }
  return true;
}

bool LockForOthers(int fd, DWORD share) { return flock(fd, (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0; }

// Renaming or deleting opens with DELETE access and shares everything: it
// fails while a handle without FILE_SHARE_DELETE is open on the file or
// directory, or on the link itself.
bool MayDeleteOrRename(const std::string& host) {
  struct stat status;
  return lstat(host.c_str(), &status) != 0 ||
         SharingAllows(status.st_dev, status.st_ino, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

namespace {

// Making an empty directory a link writes its reparse data, which needs
// only write-attributes access (MS-FSA 2.1.5.10.37), and sharing is checked
// for read, write and delete access alone (2.1.5.1.2.2): no handle anyone
// holds on the directory stops it. On Windows it stays the same directory:
// the link put in its place is noted as standing for it.
DWORD MakeLink(const std::string& host, const std::string& target) {
  struct stat directory;
  if (lstat(host.c_str(), &directory) != 0) return ErrorFromErrno(errno);
  if (!S_ISDIR(directory.st_mode)) return ERROR_DIRECTORY;
  if (rmdir(host.c_str()) != 0) return ErrorFromErrno(errno);
  if (symlink(target.c_str(), host.c_str()) != 0) return ErrorFromErrno(errno);
  struct stat link;
  if (lstat(host.c_str(), &link) == 0) NoteLinkMadeFrom(link.st_dev, link.st_ino, directory.st_dev, directory.st_ino);
  return 0;
}

// Moves every entry of a directory into a directory of its own beside it,
// each move a rename that obeys sharing; then, if nothing is left, makes
// the directory a link. What stays refuses the whole with its error.
DWORD Hollow(const std::string& host, const std::string& target) {
  struct stat status;
  if (lstat(host.c_str(), &status) != 0) return ErrorFromErrno(errno);
  if (!S_ISDIR(status.st_mode)) return ERROR_DIRECTORY;
  const std::string moved = host + ".moved";
  if (mkdir(moved.c_str(), 0777) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  std::vector<std::string> names;
  if (DIR* directory = opendir(host.c_str())) {
    while (const dirent* entry = readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
  }
  DWORD refused = 0;
  for (const std::string& name : names) {
    Resolved entry;
    entry.exists = true;
    entry.host = JoinHost(host, name);
    if (IsHeldElsewhere(entry) || !MayDeleteOrRename(entry.host)) {
      refused = ERROR_SHARING_VIOLATION;
    } else if (rename(entry.host.c_str(), JoinHost(moved, name).c_str()) != 0) {
      refused = ErrorFromErrno(errno);
    }
  }
  return refused != 0 ? refused : MakeLink(host, target);
}

std::vector<std::pair<std::pair<dev_t, ino_t>, std::pair<dev_t, ino_t>>> g_linksMadeFromDirectories;

}  // namespace

void NoteLinkMadeFrom(dev_t linkDevice, ino_t linkInode, dev_t device, ino_t inode) {
  g_linksMadeFromDirectories.push_back({{linkDevice, linkInode}, {device, inode}});
}

bool IsLinkMadeFrom(dev_t linkDevice, ino_t linkInode, dev_t device, ino_t inode) {
  for (const auto& made : g_linksMadeFromDirectories) {
    if (made.first == std::make_pair(linkDevice, linkInode) && made.second == std::make_pair(device, inode)) {
      return true;
    }
  }
  return false;
}

DWORD CarryOutRace(const Race& race) {
  const Resolved place = ResolvePath(race.path.c_str());
  if (place.error != 0) return place.error;
  if (!place.exists) return ERROR_FILE_NOT_FOUND;
  struct stat status;
  if (lstat(place.host.c_str(), &status) != 0) return ErrorFromErrno(errno);
  const Resolved target = ResolvePath(race.target.c_str());
  if (target.error != 0) return target.error;
  if (race.action == "rename") {
    if (target.exists) return ERROR_ALREADY_EXISTS;
    if (IsHeldElsewhere(place) || !MayDeleteOrRename(place.host)) return ERROR_SHARING_VIOLATION;
    return rename(place.host.c_str(), target.host.c_str()) == 0 ? 0 : ErrorFromErrno(errno);
  }
  if (race.action == "link") return MakeLink(place.host, target.host);
  if (race.action == "hollow") return Hollow(place.host, target.host);
  // swap: the directory goes aside under a name of its own, a link takes
  // its place.
  if (!MayDeleteOrRename(place.host)) return ERROR_SHARING_VIOLATION;
  const std::string aside = place.host + ".swapped";
  struct stat taken;
  if (lstat(aside.c_str(), &taken) == 0) return ERROR_ALREADY_EXISTS;
  if (rename(place.host.c_str(), aside.c_str()) != 0) return ErrorFromErrno(errno);
  return symlink(target.host.c_str(), place.host.c_str()) == 0 ? 0 : ErrorFromErrno(errno);
}

}  // namespace hostwin

namespace {

// What GetFinalPathNameByHandleA gives for a path opened as given: through
// a share, the share and the names below it as stored (the server resolves
// its links, the client never sees where they lead); otherwise where the
// file really is, every link and substituted drive resolved.
std::string FinalPathOf(const char* given, const Resolved& resolved, bool linkItself) {
  const Machine* machine = CurrentMachine();
  const std::string text(given);
  if (machine != nullptr && text.size() > 2 && (text[0] == '\\' || text[0] == '/') &&
      (text[1] == '\\' || text[1] == '/')) {
    const std::string full = FullPathName(text, machine->settings.current);
    for (const auto& share : machine->settings.shares) {
      if (full.size() < share.first.size() || Fold(full.substr(0, share.first.size())) != share.first ||
          (full.size() > share.first.size() && full[share.first.size()] != '\\')) {
        continue;
      }
      const Resolved top = ResolvePath(share.second.c_str());
      std::string result = "\\\\?\\UNC\\" + full.substr(2, share.first.size() - 2);
      std::string rest = resolved.host.size() > top.host.size() ? resolved.host.substr(top.host.size()) : "";
      for (const char c : AnsiFromUtf8(rest)) result.push_back(c == '/' ? '\\' : c);
      if (rest.empty()) result += "\\";
      return result;
    }
  }
  const std::string windows = WindowsPathOfHost(RealHostPath(resolved.host, linkItself));
  return windows.empty() ? std::string() : "\\\\?\\" + windows;
}

}  // namespace

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  const ApiCall call("FindFirstFileA", pattern != nullptr ? pattern : "");
  if (call.Fails()) return INVALID_HANDLE_VALUE;
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string text(pattern);
  const size_t separator = LastSeparator(text);
  std::string directory;
  std::string name;
  if (separator != std::string::npos) {
    directory = text.substr(0, separator + 1);
    name = text.substr(separator + 1);
  } else if (text.size() >= 2 && text[1] == ':') {
    directory = text.substr(0, 2);
    name = text.substr(2);
  } else {
    directory = ".";
    name = text;
  }
  if (name.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<FindObject> search(new FindObject);
  if (!HasWildcard(name)) {
    const Resolved resolved = ResolvePath(pattern);
    if (resolved.error != 0 || !resolved.exists || resolved.isDriveRoot) {
      SetLastError(resolved.error != 0 ? resolved.error : ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    // Found by listing the directory that holds it.
    if (const DWORD denied = CheckAccess(resolved.parentHost, FILE_LIST_DIRECTORY)) {
      SetLastError(denied);
      return INVALID_HANDLE_VALUE;
    }
    const std::string found = AnsiFromUtf8(resolved.host.substr(resolved.host.rfind('/') + 1));
    WIN32_FIND_DATAA entry;
    if (FillFindData(resolved.host, found, ShortNameOf(resolved.host), &entry)) {
      search->entries.push_back(entry);
    }
  } else {
    const Resolved resolved = ResolvePath(directory.c_str());
    struct stat info;
    if (resolved.error != 0 || !resolved.exists || stat(resolved.host.c_str(), &info) != 0 ||
        !S_ISDIR(info.st_mode)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (const DWORD denied = CheckAccess(resolved.host, FILE_LIST_DIRECTORY)) {
      SetLastError(denied);
      return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> hostNames;
    std::vector<std::string> names;
    ListDirectory(resolved.host, &hostNames, &names);
    // The order NTFS reports: by name, without regard to case.
    std::vector<size_t> order(names.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return Fold(names[a]) < Fold(names[b]); });
    const std::vector<std::string> aliases = ShortNames(names);
    // Every directory but a drive root lists itself and its parent.
    if (!resolved.isDriveRoot) {
      for (const char* dots : {".", ".."}) {
        WIN32_FIND_DATAA entry;
        if (WildcardMatch(name, dots) && FillFindData(JoinHost(resolved.host, dots), dots, dots, &entry)) {
          search->entries.push_back(entry);
        }
      }
    }
    for (size_t index : order) {
      // Windows matches the short name as well as the long one.
      if (!WildcardMatch(name, names[index]) && !WildcardMatch(name, aliases[index])) continue;
      WIN32_FIND_DATAA entry;
      if (FillFindData(JoinHost(resolved.host, hostNames[index]), names[index], aliases[index], &entry)) {
        search->entries.push_back(entry);
      }
    }
  }
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = search->entries[0];
  search->next = 1;
  SetLastError(ERROR_SUCCESS);
  return AddObject(search.release(), pattern);
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  const ApiCall call("FindNextFileA", SubjectOf(handle));
  if (call.Fails()) return FALSE;
  FindObject* search = static_cast<FindObject*>(LookUp(handle, Object::Kind::kFind));
  if (search == nullptr || data == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (search->next >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  *data = search->entries[search->next++];
  return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE handle) {
  const ApiCall call("FindClose", SubjectOf(handle));
  if (call.Fails()) {
    KeepOpen(handle);
    return FALSE;
  }
  if (LookUp(handle, Object::Kind::kFind) == nullptr) return Fail(ERROR_INVALID_HANDLE);
  RemoveObject(handle);
  return TRUE;
}

extern "C" HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                     DWORD disposition, DWORD flags, HANDLE) {
  const ApiCall call("CreateFileA", path != nullptr ? path : "");
  if (call.Fails()) return INVALID_HANDLE_VALUE;
  const Resolved resolved = ResolvePath(path);
  if (resolved.error != 0) {
    SetLastError(resolved.error);
    return INVALID_HANDLE_VALUE;
  }
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool writing = (access & GENERIC_WRITE) != 0;
  const bool reading = (access & GENERIC_READ) != 0;
  const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  int openFlags = O_CLOEXEC | (writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY);
  bool created = false;
  if (resolved.exists) {
    DWORD attributes = 0;
    HostAttributes(resolved.host, &attributes);
    if (resolved.isDriveRoot || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      // NT opens a directory for its information when asked for backup
      // semantics; Windows 95 opens none.
      const Machine* machine = CurrentMachine();
      if (!machine->settings.nt || !(flags & FILE_FLAG_BACKUP_SEMANTICS) || truncate || disposition == CREATE_NEW) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      // With FILE_FLAG_OPEN_REPARSE_POINT a link is opened itself, not
      // what it leads to.
      const bool linkItself = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0 &&
                              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !resolved.isDriveRoot;
      // CreateFileA asks for SYNCHRONIZE and FILE_READ_ATTRIBUTES besides
      // what the caller wants.
      const DWORD denied =
          CheckAccess(resolved.host, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, linkItself);
      if (denied != 0) {
        SetLastError(denied);
        return INVALID_HANDLE_VALUE;
      }
      const int fd = linkItself ? open(resolved.host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                                : open(resolved.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat status;
      if (fd < 0 || fstat(fd, &status) != 0) {
        SetLastError(ErrorFromErrno(errno));
        if (fd >= 0) close(fd);
        return INVALID_HANDLE_VALUE;
      }
      if (!SharingAllows(status.st_dev, status.st_ino, access, share)) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
      FileObject* directory = new FileObject(fd, access, share, status.st_dev, status.st_ino, linkItself);
      directory->host = resolved.host;
      directory->finalPath = FinalPathOf(path, resolved, linkItself);
      SetLastError(ERROR_SUCCESS);
      return AddObject(directory, path);
    }
    if (disposition == CREATE_NEW) {
      SetLastError(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    // Read-only is kept by the layer itself, so that it holds for root too.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && (writing || truncate)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    const DWORD denied = CheckAccess(resolved.host, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES);
    if (denied != 0) {
      SetLastError(denied);
      return INVALID_HANDLE_VALUE;
    }
    if (TakesPartInSharing(access) && IsNamedInUse(resolved)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    if (truncate) {
      if (!writing) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
    }
  } else {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    // A new file needs FILE_ADD_FILE on its directory; its creator gets
    // the access it asked for.
    const DWORD denied = CheckCreate(resolved.parentHost, false);
    if (denied != 0) {
      SetLastError(denied);
      return INVALID_HANDLE_VALUE;
    }
    openFlags |= O_CREAT | O_EXCL;
    created = true;
  }
  // Windows has no execute bit: any file may be started as a program.
  const int fd = open(resolved.host.c_str(), openFlags, 0777);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  // Sharing: the share modes of this process's handles, then another
  // process's lock. Within the process the locks never clash where the
  // share modes allow: only an open without sharing locks exclusively.
  struct stat status;
  const bool takesPart = TakesPartInSharing(access);
  if (fstat(fd, &status) != 0 || (takesPart && (!SharingAllows(status.st_dev, status.st_ino, access, share) ||
                                                !LockForOthers(fd, share)))) {
    close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (truncate && resolved.exists && ftruncate(fd, 0) != 0) {
    close(fd);
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (created) {
    const DWORD wanted = flags & (FILE_ATTRIBUTE_READONLY | kStoredBits);
    if (wanted != 0 && wanted != FILE_ATTRIBUTE_ARCHIVE) {
      StoreAttributes(resolved.host, wanted | FILE_ATTRIBUTE_ARCHIVE);
    }
  }
  SetLastError(resolved.exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  FileObject* file = new FileObject(fd, access, share, status.st_dev, status.st_ino);
  file->locked = takesPart;
  file->host = resolved.host;
  file->finalPath = FinalPathOf(path, resolved, false);
  return AddObject(file, path);
}

extern "C" BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPVOID) {
  const ApiCall call("ReadFile", SubjectOf(handle));
  FileObject* file = FileOf(handle);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (read != nullptr) *read = 0;
  if ((file->access & GENERIC_READ) == 0) return Fail(ERROR_ACCESS_DENIED);
  if (call.Fails()) return FALSE;
  DWORD done = 0;
  while (done < toRead) {
    const ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + done, toRead - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Fail(ERROR_READ_FAULT);
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPVOID) {
  const ApiCall call("WriteFile", SubjectOf(handle));
  FileObject* file = FileOf(handle);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (written != nullptr) *written = 0;
  if ((file->access & GENERIC_WRITE) == 0) return Fail(ERROR_ACCESS_DENIED);
  if (call.Fails()) return FALSE;
  DWORD done = 0;
  while (done < toWrite) {
    const ssize_t put = ::write(file->fd, static_cast<const char*>(buffer) + done, toWrite - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (written != nullptr) *written = done;
      return Fail(ErrorFromErrno(errno));
    }
    done += static_cast<DWORD>(put);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  const ApiCall call("SetFilePointer", SubjectOf(handle));
  if (call.Fails()) return INVALID_SET_FILE_POINTER;
  FileObject* file = FileOf(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  long long offset = distance;
  if (distanceHigh != nullptr) {
    offset =
        static_cast<long long>((static_cast<unsigned long long>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                               static_cast<uint32_t>(distance));
  }
  long long base = 0;
  if (method == FILE_CURRENT) {
    base = lseek(file->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat info;
    fstat(file->fd, &info);
    base = info.st_size;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const long long target = base + offset;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh == nullptr && target > 0xFFFFFFFELL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  lseek(file->fd, static_cast<off_t>(target), SEEK_SET);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(target >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE handle) {
  const ApiCall call("SetEndOfFile", SubjectOf(handle));
  if (call.Fails()) return FALSE;
  FileObject* file = FileOf(handle);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if ((file->access & GENERIC_WRITE) == 0) return Fail(ERROR_ACCESS_DENIED);
  const off_t position = lseek(file->fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(file->fd, position) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

extern "C" DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  const ApiCall call("GetFileSize", SubjectOf(handle));
  if (call.Fails()) return INVALID_FILE_SIZE;
  FileObject* file = FileOf(handle);
  struct stat info;
  if (file == nullptr || fstat(file->fd, &info) != 0) {
    SetLastError(file == nullptr ? ERROR_INVALID_HANDLE : ERROR_READ_FAULT);
    return INVALID_FILE_SIZE;
  }
  if (sizeHigh != nullptr)
    *sizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(info.st_size) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(info.st_size);
}

extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  const ApiCall call("GetFileInformationByHandle", SubjectOf(handle));
  if (call.Fails()) return FALSE;
  FileObject* file = FileOf(handle);
  struct stat status;
  if (file == nullptr || info == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (fstat(file->fd, &status) != 0) return Fail(ErrorFromErrno(errno));
  memset(info, 0, sizeof(*info));
  // The inode on the volume of the drive the file really lies on: the same
  // for every spelling of one file.
  const unsigned long long index = static_cast<unsigned long long>(status.st_ino);
  DWORD attributes = 0;
  if ((file->directory || file->parentFd >= 0) && HostAttributes(file->host, &attributes)) {
    // A link opened itself is a reparse point; what it leads to is not.
    if (!file->link) attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT);
  } else {
    attributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  }
  info->dwFileAttributes = attributes;
  info->ftCreationTime = FileTimeOf(status.st_mtim);
  info->ftLastAccessTime = FileTimeOf(status.st_atim);
  info->ftLastWriteTime = FileTimeOf(status.st_mtim);
  info->dwVolumeSerialNumber = VolumeSerialOfHost(RealHostPath(file->host, file->link));
  info->nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(status.st_size) >> 32);
  info->nFileSizeLow = static_cast<DWORD>(status.st_size);
  info->nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
  info->nFileIndexHigh = static_cast<DWORD>(index >> 32);
  info->nFileIndexLow = static_cast<DWORD>(index);
  return TRUE;
}

extern "C" BOOL WINAPI GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                                    DWORD size) {
  const ApiCall call("GetFileInformationByHandleEx", SubjectOf(handle));
  if (call.Fails()) return FALSE;
  FileObject* file = FileOf(handle);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  // The 128-bit file ID came with Windows 8 (6.2); Vista and 7 know no
  // such class.
  if (kind != FileIdInfo || WindowsVersion() < 602) return Fail(ERROR_INVALID_PARAMETER);
  if (info == nullptr || size < sizeof(FILE_ID_INFO)) return Fail(ERROR_BAD_LENGTH);
  struct stat status;
  if (fstat(file->fd, &status) != 0) return Fail(ErrorFromErrno(errno));
  // The volume's 64-bit serial number, whose low half is the one
  // GetFileInformationByHandle gives, and the inode as the file ID: the
  // same for every spelling of one file.
  FILE_ID_INFO id = {};
  id.VolumeSerialNumber = 0x7E5A000000000000ULL | VolumeSerialOfHost(RealHostPath(file->host, file->link));
  unsigned long long inode = static_cast<unsigned long long>(status.st_ino);
  for (BYTE& byte : id.FileId.Identifier) {
    byte = static_cast<BYTE>(inode);
    inode >>= 8;
  }
  memcpy(info, &id, sizeof(id));
  return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR path) {
  const ApiCall call("DeleteFileA", path != nullptr ? path : "");
  if (call.Fails()) return FALSE;
  const Resolved resolved = ResolvePath(path);
  if (resolved.error != 0) return Fail(resolved.error);
  if (!resolved.exists) return Fail(ERROR_FILE_NOT_FOUND);
  DWORD attributes = 0;
  HostAttributes(resolved.host, &attributes);
  if (resolved.isDriveRoot || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_ACCESS_DENIED);
  if (attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (const DWORD denied = CheckDelete(resolved.host)) return Fail(denied);
  if (IsHeldElsewhere(resolved) || !MayDeleteOrRename(resolved.host)) return Fail(ERROR_SHARING_VIOLATION);
  if (unlink(resolved.host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  const ApiCall call("CreateDirectoryA", path != nullptr ? path : "");
  if (call.Fails()) return FALSE;
  const Resolved resolved = ResolvePath(path);
  if (resolved.error != 0) return Fail(resolved.error);
  if (resolved.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (const DWORD denied = CheckCreate(resolved.parentHost, true)) return Fail(denied);
  if (mkdir(resolved.host.c_str(), 0777) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
  const ApiCall call("RemoveDirectoryA", path != nullptr ? path : "");
  if (call.Fails()) return FALSE;
  const Resolved resolved = ResolvePath(path);
  if (resolved.error != 0) return Fail(resolved.error);
  if (!resolved.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (resolved.isDriveRoot) return Fail(ERROR_ACCESS_DENIED);
  DWORD attributes = 0;
  HostAttributes(resolved.host, &attributes);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY);
  if (attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  // A link goes by itself: its own security counts, not its target's.
  if (const DWORD denied =
          CheckAccess(resolved.host, DELETE, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    return Fail(denied);
  }
  if (!MayDeleteOrRename(resolved.host)) return Fail(ERROR_SHARING_VIOLATION);
  // A link to a directory goes by itself, as a junction does; what it points
  // to stays.
  const int result = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? unlink(resolved.host.c_str())
                                                                 : rmdir(resolved.host.c_str());
  if (result != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  const ApiCall call("GetFileAttributesA", path != nullptr ? path : "");
  if (call.Fails()) return INVALID_FILE_ATTRIBUTES;
  const Resolved resolved = ResolvePath(path);
  DWORD attributes = 0;
  if (resolved.error != 0 || !resolved.exists || !HostAttributes(resolved.host, &attributes)) {
    SetLastError(resolved.error != 0 ? resolved.error : ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  // Reading attributes, which listing the directory above also gives.
  if (const DWORD denied = CheckAccess(resolved.host, FILE_READ_ATTRIBUTES)) {
    SetLastError(denied);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributes;
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  const ApiCall call("SetFileAttributesA", path != nullptr ? path : "");
  if (call.Fails()) return FALSE;
  const Resolved resolved = ResolvePath(path);
  if (resolved.error != 0) return Fail(resolved.error);
  if (!resolved.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (const DWORD denied = CheckAccess(resolved.host, FILE_WRITE_ATTRIBUTES)) return Fail(denied);
  if (!StoreAttributes(resolved.host, attributes & (FILE_ATTRIBUTE_READONLY | kStoredBits))) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
  const ApiCall call("MoveFileExA", existing != nullptr ? existing : "");
  if (call.Fails()) return FALSE;
  Machine* machine = CurrentMachine();
  // Windows 95 has no MoveFileExA; its programs write WININIT.INI instead.
  if (machine == nullptr || !machine->settings.nt) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  const Resolved source = ResolvePath(existing);
  if (source.error != 0) return Fail(source.error);
  // A delayed move is only written down; the file need not exist yet.
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // Each pending operation is a pair of NT paths in one REG_MULTI_SZ; an
    // empty second path means delete.
    std::string pair = "\\??\\" + source.windows + std::string(1, '\0');
    if (newName != nullptr) {
      const Resolved target = ResolvePath(newName);
      if (target.error != 0) return Fail(target.error);
      if (flags & MOVEFILE_REPLACE_EXISTING) pair += "!";
      pair += "\\??\\" + target.windows;
    }
    pair += std::string(1, '\0');
    HKEY key;
    LONG status =
        RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", &key);
    if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status));
    std::string list;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
      list.assign(size, '\0');
      RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&list[0]),
                       &size);
      list.resize(size);
      // Drop the empty string that ends the list; a new one follows the pair.
      if (list.size() >= 2 && list[list.size() - 1] == '\0' && list[list.size() - 2] == '\0') list.pop_back();
    }
    list += pair + std::string(1, '\0');
    status = RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(list.data()), static_cast<DWORD>(list.size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status));
    return TRUE;
  }
  if (newName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!source.exists) return Fail(ERROR_FILE_NOT_FOUND);
  const Resolved target = ResolvePath(newName);
  if (target.error != 0) return Fail(target.error);
  if (target.exists && !(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
  // A rename deletes the old name and makes the new one: DELETE on what
  // moves (and on what it replaces), and room in the directory it goes to.
  struct stat moving;
  const bool directory = stat(source.host.c_str(), &moving) == 0 && S_ISDIR(moving.st_mode);
  DWORD denied = CheckDelete(source.host);
  if (denied == 0 && target.exists) denied = CheckDelete(target.host);
  if (denied == 0) denied = CheckCreate(target.parentHost, directory);
  if (denied != 0) return Fail(denied);
  if (IsHeldElsewhere(source) || !MayDeleteOrRename(source.host)) return Fail(ERROR_SHARING_VIOLATION);
  if (rename(source.host.c_str(), target.host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

extern "C" DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  const ApiCall call("GetShortPathNameA", longPath != nullptr ? longPath : "");
  if (call.Fails()) return 0;
  if (longPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (longPath[0] == '\0') {
    SetLastError(ERROR_BAD_PATHNAME);
    return 0;
  }
  // The path keeps its shape: its drive, its separators (doubled or not) and
  // its dots stay as given; each name becomes its short form on disk, or
  // stays as stored where it has none (a short name, or no 8.3 names).
  const std::string text(longPath);
  std::string result;
  size_t at = 0;
  std::string prefix;
  if (text.size() >= 2 && text[1] == ':') {
    prefix = text.substr(0, 2);
    at = 2;
  } else if (text.size() >= 2 && (text[0] == '\\' || text[0] == '/') && (text[1] == '\\' || text[1] == '/')) {
    // \\server\share stays as given.
    at = FindSeparator(text, 2);
    at = at == std::string::npos ? text.size() : FindSeparator(text, at + 1);
    if (at == std::string::npos) at = text.size();
    prefix = text.substr(0, at);
  }
  result = prefix;
  std::string walked = prefix;  // the Windows path resolved so far
  while (at < text.size()) {
    if (text[at] == '\\' || text[at] == '/') {
      result.push_back(text[at]);
      walked.push_back('\\');
      ++at;
      continue;
    }
    const size_t end = std::min(FindSeparator(text, at), text.size());
    const std::string name = text.substr(at, end - at);
    const std::string here = walked + name;
    if (name == "." || name == "..") {
      result += name;
    } else {
      const Resolved resolved = ResolvePath(here.c_str());
      if (resolved.error != 0 || !resolved.exists) {
        SetLastError(resolved.error != 0 ? resolved.error : ERROR_FILE_NOT_FOUND);
        return 0;
      }
      result += ShortNameOf(resolved.host);
    }
    walked += name;
    at = end;
  }
  const DWORD length = static_cast<DWORD>(result.size());
  if (shortPath == nullptr || size <= length) return length + 1;
  memcpy(shortPath, result.c_str(), length + 1);
  return length;
}

extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart) {
  const ApiCall call("GetFullPathNameA", name != nullptr ? name : "");
  if (call.Fails()) return 0;
  if (name == nullptr || name[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  const Machine* machine = CurrentMachine();
  const std::string full =
      FullPathName(name, machine != nullptr ? machine->settings.current : Settings().current);
  // The ANSI call is held to MAX_PATH.
  if (full.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(full.size());
  if (buffer == nullptr || size <= length) return length + 1;
  memcpy(buffer, full.c_str(), length + 1);
  if (filePart != nullptr) {
    // The last name; none when the path ends in a separator or is a bare \\server.
    const size_t separator = LastSeparator(full);
    *filePart = separator != std::string::npos && separator >= 2 && separator + 1 < full.size()
                    ? buffer + separator + 1
                    : nullptr;
  }
  return length;
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  const ApiCall call("WritePrivateProfileStringA", file != nullptr ? file : "");
  if (call.Fails()) return FALSE;
  // Only the flush of the profile cache is emulated; the layer keeps no cache.
  if (section == nullptr && key == nullptr && value == nullptr && file != nullptr) return TRUE;
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

extern "C" DWORD WINAPI GetFinalPathNameByHandleA(HANDLE handle, LPSTR path, DWORD size, DWORD flags) {
  const ApiCall call("GetFinalPathNameByHandleA", SubjectOf(handle));
  if (call.Fails()) return 0;
  const FileObject* file = FileOf(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // Only the DOS form of the normalised name, the one the program asks for.
  if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) || (path == nullptr && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (file->finalPath.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(file->finalPath.size());
  if (size <= length) return length + 1;
  memcpy(path, file->finalPath.c_str(), length + 1);
  return length;
}

namespace {

// Writes a mount point's reparse data into the directory a handle holds,
// as FSCTL_SET_REPARSE_POINT does: it needs write-data or write-attributes
// access (MS-FSA 2.1.5.10.37), which no share mode refuses, and an empty
// directory. On the host the directory becomes a link that stands for it.
BOOL SetMountPoint(const FileObject& file, const void* in, DWORD inSize) {
  if ((file.access & (FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | GENERIC_WRITE | GENERIC_ALL)) == 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(in);
  const auto get16 = [bytes](size_t at) { return static_cast<size_t>(bytes[at] | (bytes[at + 1] << 8)); };
  DWORD tag = 0;
  if (bytes == nullptr || inSize < 16) return Fail(ERROR_INVALID_REPARSE_DATA);
  memcpy(&tag, bytes, sizeof(tag));
  const size_t offset = get16(8);
  const size_t length = get16(10);
  if (tag != IO_REPARSE_TAG_MOUNT_POINT || 16 + offset + length > inSize || length % 2 != 0) {
    return Fail(ERROR_INVALID_REPARSE_DATA);
  }
  std::u32string name;
  for (size_t at = 16 + offset; at < 16 + offset + length; at += 2) name.push_back(static_cast<char32_t>(get16(at)));
  if (name.compare(0, 4, U"\\??\\") != 0) return Fail(ERROR_INVALID_REPARSE_DATA);
  const Resolved target = ResolvePath(EncodeAnsi(name.substr(4), AnsiCodePage(), nullptr).c_str());
  if (target.error != 0) return Fail(target.error);
  if (!file.directory || file.link) return Fail(ERROR_DIRECTORY);
  const DWORD error = MakeLink(HostPathOfHandle(file), target.host);
  return error == 0 ? TRUE : Fail(error);
}

}  // namespace

extern "C" BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPVOID overlapped) {
  const ApiCall call("DeviceIoControl", SubjectOf(handle));
  if (returned != nullptr) *returned = 0;
  if (call.Fails()) return FALSE;
  const FileObject* file = FileOf(handle);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (code == FSCTL_SET_REPARSE_POINT && overlapped == nullptr) return SetMountPoint(*file, in, inSize);
  if (code != FSCTL_GET_REPARSE_POINT || overlapped != nullptr) return Fail(ERROR_INVALID_FUNCTION);
  if (!file->link) return Fail(ERROR_NOT_A_REPARSE_POINT);
  // Every link of the machine reads as a junction: an absolute target,
  // where a relative host link leads made full.
  std::string target(4096, '\0');
  const ssize_t length = readlink(file->host.c_str(), &target[0], target.size());
  if (length <= 0 || static_cast<size_t>(length) >= target.size()) return Fail(ERROR_INVALID_REPARSE_DATA);
  target.resize(static_cast<size_t>(length));
  if (target[0] != '/') target = file->host.substr(0, file->host.rfind('/') + 1) + target;
  std::string windows = WindowsPathOfHost(NormalHostPath(target));
  if (windows.empty()) return Fail(ERROR_INVALID_REPARSE_DATA);
  std::u16string substitute;
  for (char32_t cp : DecodeAnsi("\\??\\" + windows, AnsiCodePage())) substitute.push_back(static_cast<char16_t>(cp));
  std::u16string print;
  for (char32_t cp : DecodeAnsi(windows, AnsiCodePage())) print.push_back(static_cast<char16_t>(cp));
  // REPARSE_DATA_BUFFER of a mount point: tag, length, reserved; then the
  // offsets and lengths (bytes) of both names, which follow, each ended.
  const size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(char16_t);
  const size_t total = 8 + 8 + names;
  if (out == nullptr || outSize < total) return Fail(ERROR_MORE_DATA);
  unsigned char* bytes = static_cast<unsigned char*>(out);
  memset(bytes, 0, total);
  const auto put16 = [bytes](size_t at, size_t value) {
    bytes[at] = static_cast<unsigned char>(value);
    bytes[at + 1] = static_cast<unsigned char>(value >> 8);
  };
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(bytes, &tag, 4);
  put16(4, total - 8);
  put16(8, 0);
  put16(10, substitute.size() * sizeof(char16_t));
  put16(12, (substitute.size() + 1) * sizeof(char16_t));
  put16(14, print.size() * sizeof(char16_t));
  memcpy(bytes + 16, substitute.data(), substitute.size() * sizeof(char16_t));
  memcpy(bytes + 16 + (substitute.size() + 1) * sizeof(char16_t), print.data(), print.size() * sizeof(char16_t));
  if (returned != nullptr) *returned = static_cast<DWORD>(total);
  return TRUE;
}

extern "C" BOOLEAN WINAPI CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags) {
  const ApiCall call("CreateSymbolicLinkA", link != nullptr ? link : "");
  if (call.Fails()) return FALSE;
  if (link == nullptr || target == nullptr || (flags & SYMBOLIC_LINK_FLAG_DIRECTORY) == 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const Resolved place = ResolvePath(link);
  const Resolved leads = ResolvePath(target);
  if (place.error != 0 || leads.error != 0) return Fail(place.error != 0 ? place.error : leads.error);
  if (place.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (const DWORD denied = CheckCreate(place.parentHost, true)) return Fail(denied);
  if (symlink(leads.host.c_str(), place.host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}
