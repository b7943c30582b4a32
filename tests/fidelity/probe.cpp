// One probe of the file-system rules the removal relies on, built for the
// host layer and as a Windows program, so that the layer can be compared
// call by call with a real Win32 (Wine here). Each case prints one line:
//
//   PROBE|AREA CASE -> RESULT
//
// RESULT is "ok", "err N" (the Win32 last error in decimal; for a native
// call its NTSTATUS, "err 0xC0000043") or a value. It works in C:\PROBE:
// on the host on a fresh emulated machine, under Wine in the prefix's C:,
// and leaves nothing behind.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/later_calls.h"
#include "common/platform.h"
#include "fixtures/host_links.h"

#ifdef _WIN32
#include <aclapi.h>
#include <lm.h>
#endif

#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "win32/hostapi.h"
#endif

namespace {

const char kRoot[] = "C:\\PROBE";
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kBackup = FILE_FLAG_BACKUP_SEMANTICS;
const DWORD kLinkItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

void Emit(const char* area, const std::string& what, const std::string& result) {
  printf("PROBE|%s %s -> %s\n", area, what.c_str(), result.c_str());
  fflush(stdout);
}

std::string Number(unsigned long value) { return std::to_string(value); }

std::string Hex(unsigned long value) {
  char text[16];
  snprintf(text, sizeof(text), "0x%lX", value);
  return text;
}

std::string Error() { return "err " + Number(GetLastError()); }
std::string Outcome(BOOL ok) { return ok ? "ok" : Error(); }
std::string Status(NTSTATUS status) {
  return status == 0 ? "ok" : "err " + Hex(static_cast<unsigned long>(static_cast<DWORD>(status)));
}

std::string Path(const std::string& name) { return std::string(kRoot) + "\\" + name; }

std::string AttributesOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? Error() : Hex(attributes);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Write(const std::string& path, const std::string& text) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD flags) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

void Close(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

void MakeDirectory(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

// Whether CreateSymbolicLinkA made the link itself.
bool MakeLink(const std::string& link, const std::string& target) {
  if (CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsLink(link))
    return true;
  MakeLinkThroughTheHost(link, target);
  return false;
}

std::string IndexOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return "";
  return Number(info.nFileIndexHigh) + ":" + Number(info.nFileIndexLow);
}

std::string IndexOfPath(const std::string& path, DWORD flags) {
  HANDLE handle = Open(path, 0, kShareAll, flags);
  const std::string index = handle != INVALID_HANDLE_VALUE ? IndexOf(handle) : "";
  Close(handle);
  return index;
}

// ---- sharing ----

struct Named {
  const char* name;
  DWORD value;
};

const Named kAccesses[] = {{"0", 0},
                           {"GREAD", GENERIC_READ},
                           {"RATTR", FILE_READ_ATTRIBUTES},
                           {"WATTR", FILE_WRITE_ATTRIBUTES},
                           {"DELETE", DELETE},
                           {"GWRITE", GENERIC_WRITE}};
const Named kShares[] = {{"0", 0},
                         {"R", FILE_SHARE_READ},
                         {"RW", FILE_SHARE_READ | FILE_SHARE_WRITE},
                         {"RWD", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}};

// Every first open kept open while every second open is tried.
void ProbeSharing(const char* area, const std::string& path, DWORD flags) {
  for (const Named& firstAccess : kAccesses) {
    for (const Named& firstShare : kShares) {
      for (const Named& secondAccess : kAccesses) {
        for (const Named& secondShare : kShares) {
          const std::string what = std::string(firstAccess.name) + "/" + firstShare.name + " then " +
                                   secondAccess.name + "/" + secondShare.name;
          HANDLE first = Open(path, firstAccess.value, firstShare.value, flags);
          if (first == INVALID_HANDLE_VALUE) {
            Emit(area, what, "first " + Error());
            continue;
          }
          HANDLE second = Open(path, secondAccess.value, secondShare.value, flags);
          Emit(area, what, second != INVALID_HANDLE_VALUE ? "ok" : Error());
          Close(second);
          Close(first);
        }
      }
    }
  }
}

// ---- held directories ----

// A directory held as the removal holds it: reading, sharing reading only.
HANDLE Hold(const std::string& path) { return Open(path, GENERIC_READ, FILE_SHARE_READ, kBackup); }

// Writes a mount point's reparse data into an empty directory, as another
// user makes it a link: the open asks for write-attributes access alone.
std::string MakeMountPoint(const std::string& directory, const std::string& target) {
  HANDLE handle = Open(directory, FILE_WRITE_ATTRIBUTES, kShareAll, kLinkItself);
  if (handle == INVALID_HANDLE_VALUE) return "open " + Error();
  std::u16string substitute;
  for (char c : "\\??\\" + target) substitute.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  std::u16string print;
  for (char c : target) print.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  const size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(char16_t);
  std::vector<unsigned char> buffer(16 + names, 0);
  const auto put16 = [&buffer](size_t at, size_t value) {
    buffer[at] = static_cast<unsigned char>(value);
    buffer[at + 1] = static_cast<unsigned char>(value >> 8);
  };
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(buffer.data(), &tag, 4);
  put16(4, buffer.size() - 8);
  put16(8, 0);
  put16(10, substitute.size() * sizeof(char16_t));
  put16(12, (substitute.size() + 1) * sizeof(char16_t));
  put16(14, print.size() * sizeof(char16_t));
  memcpy(buffer.data() + 16, substitute.data(), substitute.size() * sizeof(char16_t));
  memcpy(buffer.data() + 16 + (substitute.size() + 1) * sizeof(char16_t), print.data(),
         print.size() * sizeof(char16_t));
  DWORD returned = 0;
  const BOOL made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  const std::string result = Outcome(made);
  Close(handle);
  return result;
}

void ProbeHeld() {
  const char* area = "held";
  const std::string held = Path("HELD");
  MakeDirectory(held);
  MakeDirectory(Path("ELSEWHERE"));
  Write(Path("ELSEWHERE\\LURE.TXT"), "lure");
  HANDLE handle = Hold(held);
  Emit(area, "hold", handle != INVALID_HANDLE_VALUE ? "ok" : Error());
  Emit(area, "rename", Outcome(MoveFileExA(held.c_str(), Path("HELD2").c_str(), 0)));
  Emit(area, "remove empty", Outcome(RemoveDirectoryA(held.c_str())));
  Emit(area, "open for write-attributes", [&] {
    HANDLE other = Open(held, FILE_WRITE_ATTRIBUTES, kShareAll, kLinkItself);
    const std::string result = other != INVALID_HANDLE_VALUE ? "ok" : Error();
    Close(other);
    return result;
  }());
  Emit(area, "create a file inside", [&] {
    Write(held + "\\IN.TXT", "in");
    return Exists(held + "\\IN.TXT") ? "ok" : Error();
  }());
  Emit(area, "rename a file inside",
       Outcome(MoveFileExA((held + "\\IN.TXT").c_str(), (held + "\\IN2.TXT").c_str(), 0)));
  Emit(area, "delete a file inside", Outcome(DeleteFileA((held + "\\IN2.TXT").c_str())));
  Emit(area, "create a directory inside", Outcome(CreateDirectoryA((held + "\\SUB").c_str(), nullptr)));
  Emit(area, "remove a directory inside", Outcome(RemoveDirectoryA((held + "\\SUB").c_str())));
  Emit(area, "make the empty directory a link", MakeMountPoint(held, Path("ELSEWHERE")));
  Emit(area, "attributes after making it a link", AttributesOf(held));
  Emit(area, "handle after making it a link",
       IndexOf(handle) == IndexOfPath(Path("ELSEWHERE"), kBackup) ? "where the link leads" : "the directory");
  Close(handle);
  RemoveTree(held);

  // Removed while a handle that shares deleting is open.
  MakeDirectory(held);
  handle = Open(held, GENERIC_READ, kShareAll, kBackup);
  Emit(area, "remove while shared for delete", Outcome(RemoveDirectoryA(held.c_str())));
  Emit(area, "attributes after removal, handle open", AttributesOf(held));
  Emit(area, "make again after removal, handle open", Outcome(CreateDirectoryA(held.c_str(), nullptr)));
  Close(handle);
  Emit(area, "attributes after removal, handle closed", AttributesOf(held));
  RemoveTree(held);

  // The directory above one that is held.
  MakeDirectory(Path("ABOVE"));
  MakeDirectory(Path("ABOVE\\BELOW"));
  handle = Hold(Path("ABOVE\\BELOW"));
  Emit(area, "rename the directory above",
       Outcome(MoveFileExA(Path("ABOVE").c_str(), Path("ABOVE2").c_str(), 0)));
  Close(handle);
  RemoveTree(Path("ABOVE"));
  RemoveTree(Path("ABOVE2"));

  // A file held open by a handle that shares deleting.
  const std::string file = Path("HELD.TXT");
  Write(file, "held");
  handle = Open(file, GENERIC_READ, kShareAll, 0);
  Emit(area, "delete a file open with delete shared", Outcome(DeleteFileA(file.c_str())));
  Emit(area, "attributes of that file, handle open", AttributesOf(file));
  Close(handle);
  Emit(area, "attributes of that file, handle closed", AttributesOf(file));
  RemoveTree(file);
  Write(file, "held");
  handle = Open(file, GENERIC_READ, FILE_SHARE_READ, 0);
  Emit(area, "delete a file open with reading shared", Outcome(DeleteFileA(file.c_str())));
  Emit(area, "rename a file open with reading shared",
       Outcome(MoveFileExA(file.c_str(), Path("HELD2.TXT").c_str(), 0)));
  Close(handle);
  RemoveTree(file);
  RemoveTree(Path("ELSEWHERE"));
}

// ---- links ----

void ProbeLinks() {
  const char* area = "links";
  const std::string target = Path("TARGET");
  const std::string link = Path("LINK");
  MakeDirectory(target);
  Write(target + "\\INSIDE.TXT", "inside");
  Emit(area, "CreateSymbolicLinkA makes the link", MakeLink(link, target) ? "yes" : "no");
  Emit(area, "attributes", AttributesOf(link));
  Emit(area, "attributes with a trailing backslash", AttributesOf(link + "\\"));
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(link.c_str(), &found);
  Emit(area, "found by name", search != INVALID_HANDLE_VALUE ? Hex(found.dwFileAttributes) : Error());
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  search = FindFirstFileA((link + "\\*.TXT").c_str(), &found);
  Emit(area, "search inside", search != INVALID_HANDLE_VALUE ? std::string(found.cFileName) : Error());
  if (search != INVALID_HANDLE_VALUE) FindClose(search);

  HANDLE itself = Open(link, 0, kShareAll, kLinkItself);
  Emit(area, "opened itself", itself != INVALID_HANDLE_VALUE ? "ok" : Error());
  BY_HANDLE_FILE_INFORMATION info = {};
  Emit(area, "opened itself, attributes",
       GetFileInformationByHandle(itself, &info) ? Hex(info.dwFileAttributes) : Error());
  Emit(area, "opened itself, the target's file index",
       IndexOf(itself) == IndexOfPath(target, kBackup) ? "yes" : "no");
  unsigned char reparse[1024];
  DWORD returned = 0;
  Emit(area, "opened itself, FSCTL_GET_REPARSE_POINT",
       Outcome(DeviceIoControl(itself, FSCTL_GET_REPARSE_POINT, nullptr, 0, reparse, sizeof(reparse),
                               &returned, nullptr)));
  Close(itself);
  HANDLE followed = Open(link, 0, kShareAll, kBackup);
  Emit(area, "opened followed, attributes",
       GetFileInformationByHandle(followed, &info) ? Hex(info.dwFileAttributes) : Error());
  Emit(area, "opened followed, the target's file index",
       IndexOf(followed) == IndexOfPath(target, kBackup) ? "yes" : "no");
  Close(followed);

  Emit(area, "DeleteFileA", Outcome(DeleteFileA(link.c_str())));
  Emit(area, "RemoveDirectoryA", Outcome(RemoveDirectoryA(link.c_str())));
  Emit(area, "after removal, the link", AttributesOf(link));
  Emit(area, "after removal, the target's file", AttributesOf(target + "\\INSIDE.TXT"));

  // A link to an empty directory, removed.
  const std::string empty = Path("EMPTY");
  MakeDirectory(empty);
  MakeLink(link, empty);
  Emit(area, "RemoveDirectoryA of a link to an empty directory", Outcome(RemoveDirectoryA(link.c_str())));
  Emit(area, "after removal, the empty target", AttributesOf(empty));
  RemoveTree(link);
  RemoveTree(empty);
  RemoveTree(target);
}

// ---- searches ----

std::string Search(const std::string& pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return Error();
  std::vector<std::string> names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  std::string result;
  for (const std::string& name : names) result += (result.empty() ? "" : " ") + name;
  return result;
}

void ProbeSearches() {
  const char* area = "search";
  const std::string directory = Path("S");
  MakeDirectory(directory);
  for (const char* name :
       {"A.B", "AB", "ABC.TXT", "ABCD.TXT", "NOEXT", "LONGER NAME.TEXT", "X.TXT.BAK", "Z"}) {
    Write(directory + "\\" + name, name);
  }
  MakeDirectory(directory + "\\SUBDIR");
  const char* patterns[] = {"*",
                            "*.*",
                            "*.",
                            "*.TXT",
                            "?",
                            "??",
                            "???",
                            "A?.B",
                            "A?",
                            "AB?",
                            "ABC?.TXT",
                            "*.TXT.",
                            "ABC.TXT.",
                            "ABC.TXT ",
                            "ABC.TXT. .",
                            "NOEXT.",
                            "NOEXT..",
                            "*. ",
                            "A<",
                            "<.TXT",
                            "<.",
                            "A>",
                            "AB>",
                            "A>>",
                            "ABC>.TXT",
                            "A\"B",
                            "NOEXT\"",
                            "*\"",
                            "ABC.T>T",
                            "LONGER*",
                            "LONGER NAME.TEX",
                            "LONGER NAME.TEX*",
                            "*.TEX",
                            "*.TEX?",
                            "X.TXT.*",
                            "*.BAK",
                            "SUBDIR",
                            "SUBDIR\\*",
                            "MISSING*",
                            "MISSING",
                            "."};
  for (const char* pattern : patterns)
    Emit(area, std::string("\"") + pattern + "\"", Search(directory + "\\" + pattern));
  // A name found by its 8.3 alias: the alias of LONGER NAME.TEXT.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\LONGER NAME.TEXT").c_str(), &found);
  std::string alias = search != INVALID_HANDLE_VALUE ? found.cAlternateFileName : "";
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  Emit(area, "an alias is given", alias.empty() ? "no" : "yes");
  Emit(area, "the alias searched", alias.empty() ? "none" : Search(directory + "\\" + alias));
  Emit(area, "the alias with a wildcard",
       alias.empty() ? "none" : Search(directory + "\\" + alias.substr(0, 5) + "*"));
  Emit(area, "the alias's attributes", alias.empty() ? "none" : AttributesOf(directory + "\\" + alias));
  // Best fit: a name in fullwidth letters is listed in its ASCII look-alikes
  // and found again only by what it is.
#ifdef _WIN32
  const WCHAR name[] = {0xFF21, 0xFF22, '.', 'W', 0};
  std::vector<WCHAR> wideName;
  for (char c : directory + "\\") wideName.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
  for (const WCHAR* c = name; *c != 0; ++c) wideName.push_back(*c);
  wideName.push_back(0);
  Close(CreateFileW(reinterpret_cast<LPCWSTR>(wideName.data()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr));
#else
  // The layer has no wide calls: the host name is the UTF-8 of the name.
  const std::string host = HostPathOf((directory + "\\FW.W").c_str());
  const std::string hostName = host.substr(0, host.rfind('/') + 1) + "\xEF\xBC\xA1\xEF\xBC\xA2.W";
  std::ofstream(hostName.c_str()) << "wide";
#endif
  Emit(area, "a fullwidth name, listed", Search(directory + "\\*.W"));
  Emit(area, "a fullwidth name, by its best fit", AttributesOf(directory + "\\AB.W"));
  // No ANSI name reaches it: it goes by its own.
#ifdef _WIN32
  DeleteFileW(reinterpret_cast<LPCWSTR>(wideName.data()));
#else
  unlink(hostName.c_str());
#endif
  RemoveTree(directory);
}

// ---- short and full paths ----

std::string Full(const std::string& path) {
  char buffer[MAX_PATH];
  char* filePart = nullptr;
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, &filePart);
  if (length == 0) return Error();
  if (length >= sizeof(buffer)) return "needs " + Number(length);
  return std::string(buffer) + (filePart != nullptr ? " (name " + std::string(filePart) + ")" : " (no name)");
}

std::string Short(const std::string& path) {
  char buffer[MAX_PATH];
  const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
  if (length == 0) return Error();
  if (length >= sizeof(buffer)) return "needs " + Number(length);
  return buffer;
}

// Whether the short form of a long path is made of 8.3 names and leads to
// the same file.
std::string ShortShape(const std::string& path) {
  const std::string result = Short(path);
  if (result.compare(0, 4, "err ") == 0) return result;
  size_t at = 3;
  while (at < result.size()) {
    size_t end = result.find('\\', at);
    if (end == std::string::npos) end = result.size();
    const std::string name = result.substr(at, end - at);
    const size_t dot = name.find('.');
    if (name.empty() || (dot == std::string::npos ? name.size() > 8 : dot > 8 || name.size() - dot - 1 > 3) ||
        name.find(' ') != std::string::npos) {
      return "not 8.3: " + result;
    }
    at = end + 1;
  }
  return IndexOfPath(result, kBackup) == IndexOfPath(path, kBackup) ? "8.3, the same file"
                                                                    : "8.3, another file";
}

void ProbePaths() {
  const char* area = "paths";
  MakeDirectory(Path("DIR"));
  Write(Path("DIR\\FILE.TXT"), "file");
  MakeDirectory(Path("LONG DIRECTORY"));
  Write(Path("LONG DIRECTORY\\LONG FILE NAME.TEXT"), "long");
  const char* fulls[] = {"C:\\PROBE\\DIR.",
                         "C:\\PROBE\\DIR..",
                         "C:\\PROBE\\DIR. .",
                         "C:\\PROBE\\DIR .",
                         "C:\\PROBE\\.\\DIR",
                         "C:\\PROBE\\DIR\\.",
                         "C:\\PROBE\\DIR\\..",
                         "C:\\PROBE\\DIR\\..\\..\\..\\..",
                         "C:/PROBE/DIR/FILE.TXT",
                         "C:\\PROBE\\\\DIR",
                         "C:\\PROBE\\DIR\\",
                         "C:\\PROBE\\DIR.\\FILE.TXT",
                         "C:\\PROBE\\DIR..\\FILE.TXT",
                         "C:\\PROBE\\DIR \\FILE.TXT",
                         "C:\\PROBE\\DIR. \\FILE.TXT",
                         "C:\\PROBE\\DIR\\...",
                         "C:\\PROBE\\DIR\\...\\X",
                         "\\\\SERVER\\SHARE\\DIR\\..\\..",
                         "\\PROBE\\DIR",
                         "C:",
                         "C:PROBE",
                         "C:\\PROBE\\DIR\\FILE.TXT:STREAM"};
  for (const char* path : fulls) Emit(area, std::string("full \"") + path + "\"", Full(path));
  Emit(area, "full \"\"", Full(""));
  // The MAX_PATH edges: a full path of 259 characters fits, 260 does not.
  for (size_t length : {258, 259, 260, 261}) {
    const std::string path = "C:\\" + std::string(length - 3, 'A');
    Emit(area, "full of " + Number(length) + " characters", [&] {
      const std::string result = Full(path);
      return result.compare(0, 4, "err ") == 0 || result.compare(0, 6, "needs ") == 0 ? result : "ok";
    }());
  }
  // Files and directories with paths about MAX_PATH long.
  const std::string deep = Path(std::string(240 - strlen(kRoot) - 1, 'D'));
  MakeDirectory(deep);
  for (size_t length : {247, 248, 259, 260}) {
    std::string path = deep + "\\" + std::string(length - deep.size() - 1, 'F');
    Emit(area, "directory made at " + Number(length) + " characters",
         Outcome(CreateDirectoryA(path.c_str(), nullptr)));
    RemoveDirectoryA(path.c_str());
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    Emit(area, "file made at " + Number(length) + " characters",
         file != INVALID_HANDLE_VALUE ? "ok" : Error());
    Close(file);
    DeleteFileA(path.c_str());
  }
  RemoveTree(deep);

  const char* shorts[] = {"C:\\PROBE\\DIR\\FILE.TXT",          "C:\\PROBE\\DIR.\\FILE.TXT",
                          "C:\\PROBE\\DIR\\FILE.TXT.",         "C:\\PROBE\\.\\DIR\\FILE.TXT",
                          "C:\\PROBE\\DIR\\..\\DIR\\FILE.TXT", "C:/PROBE/DIR/FILE.TXT",
                          "C:\\PROBE\\\\DIR\\FILE.TXT",        "C:\\PROBE\\DIR\\",
                          "C:\\PROBE\\DIR .\\FILE.TXT",        "C:\\PROBE\\dir\\file.txt",
                          "C:\\PROBE\\DIR\\MISSING.TXT",       "C:\\PROBE\\MISSING\\FILE.TXT"};
  for (const char* path : shorts) Emit(area, std::string("short \"") + path + "\"", Short(path));
  Emit(area, "short \"\"", Short(""));
  Emit(area, "short of a long file", ShortShape(Path("LONG DIRECTORY\\LONG FILE NAME.TEXT")));
  Emit(area, "short of a long directory", ShortShape(Path("LONG DIRECTORY")));
  RemoveTree(Path("DIR"));
  RemoveTree(Path("LONG DIRECTORY"));
}

// ---- final paths ----

void ProbeFinalPaths(const LaterCalls& later) {
  const char* area = "final";
  if (later.finalPathName == nullptr) {
    Emit(area, "GetFinalPathNameByHandleA", "missing");
    return;
  }
  MakeDirectory(Path("Final Dir"));
  Write(Path("Final Dir\\Long File Name.txt"), "final");
  MakeLink(Path("FINALLINK"), Path("Final Dir"));
  const struct {
    const char* what;
    std::string path;
    DWORD flags;
  } cases[] = {
      {"a file", Path("Final Dir\\Long File Name.txt"), 0},
      {"a file in another case", Path("FINAL DIR\\LONG FILE NAME.TXT"), 0},
      {"a directory", Path("Final Dir"), kBackup},
      {"a directory with a trailing backslash", Path("Final Dir\\"), kBackup},
      {"a directory through a link", Path("FINALLINK"), kBackup},
      {"a file through a link", Path("FINALLINK\\Long File Name.txt"), 0},
      {"a link opened itself", Path("FINALLINK"), kLinkItself},
      {"the drive's root", "C:\\", kBackup},
  };
  for (const auto& each : cases) {
    HANDLE handle = Open(each.path, 0, kShareAll, each.flags);
    if (handle == INVALID_HANDLE_VALUE) {
      Emit(area, each.what, "open " + Error());
      continue;
    }
    char buffer[MAX_PATH];
    const DWORD length = later.finalPathName(handle, buffer, sizeof(buffer), 0);
    Emit(area, each.what,
         length == 0                ? Error()
         : length >= sizeof(buffer) ? "needs " + Number(length)
                                    : buffer);
    Close(handle);
  }
  HANDLE handle = Open(Path("Final Dir"), 0, kShareAll, kBackup);
  char tiny[4];
  Emit(area, "a buffer too small", Number(later.finalPathName(handle, tiny, sizeof(tiny), 0)));
  Close(handle);
  RemoveTree(Path("FINALLINK"));
  RemoveTree(Path("Final Dir"));
}

// ---- the native calls ----

struct Native {
  NTSTATUS(NTAPI* createFile)
  (PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG,
   PVOID, ULONG);
  NTSTATUS(NTAPI* queryDirectory)
  (HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
   PUNICODE_STRING, BOOLEAN);
  NTSTATUS(NTAPI* setInformation)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  NTSTATUS(NTAPI* close)(HANDLE);
};

struct Wide {
  explicit Wide(const std::string& text) {
    for (char c : text) letters.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
    string.Length = static_cast<USHORT>(letters.size() * sizeof(WCHAR));
    string.MaximumLength = string.Length;
    string.Buffer = letters.empty() ? nullptr : letters.data();
  }
  std::vector<WCHAR> letters;
  UNICODE_STRING string;
};

NTSTATUS OpenAt(const Native& native, HANDLE directory, const std::string& name, ACCESS_MASK access,
                ULONG share, ULONG options, HANDLE* opened) {
  Wide text(name);
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = directory;
  attributes.ObjectName = &text.string;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK io = {};
  *opened = INVALID_HANDLE_VALUE;
  return native.createFile(opened, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, share, FILE_OPEN,
                           options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

// The names of one call's entries, and the attributes of those asked for.
std::string Listing(const Native& native, HANDLE directory, bool single, bool restart, const char* mask,
                    const char* attributesOf = nullptr) {
  alignas(8) unsigned char buffer[4096];
  IO_STATUS_BLOCK io = {};
  Wide wanted(mask != nullptr ? mask : "");
  const NTSTATUS status = native.queryDirectory(directory, nullptr, nullptr, nullptr, &io, buffer,
                                                sizeof(buffer), FileDirectoryInformation, single ? 1 : 0,
                                                mask != nullptr ? &wanted.string : nullptr, restart ? 1 : 0);
  if (status != 0) return Status(status);
  std::vector<std::string> names;
  std::string attributes;
  for (size_t at = 0;;) {
    FILE_DIRECTORY_INFORMATION entry;
    memcpy(&entry, buffer + at, offsetof(FILE_DIRECTORY_INFORMATION, FileName));
    std::string name;
    for (ULONG i = 0; i < entry.FileNameLength / sizeof(WCHAR); ++i) {
      WCHAR letter;
      memcpy(&letter, buffer + at + offsetof(FILE_DIRECTORY_INFORMATION, FileName) + i * sizeof(WCHAR),
             sizeof(letter));
      name.push_back(letter < 0x80 ? static_cast<char>(letter) : '?');
    }
    names.push_back(name);
    if (attributesOf != nullptr && name == attributesOf)
      attributes = " " + name + "=" + Hex(entry.FileAttributes);
    if (entry.NextEntryOffset == 0) break;
    at += entry.NextEntryOffset;
  }
  std::string result;
  for (const std::string& name : names) result += (result.empty() ? "" : " ") + name;
  return result + attributes;
}

std::string Delete(const Native& native, HANDLE handle) {
  FILE_DISPOSITION_INFORMATION disposition = {};
  disposition.DoDeleteFile = TRUE;
  IO_STATUS_BLOCK io = {};
  return Status(
      native.setInformation(handle, &io, &disposition, sizeof(disposition), FileDispositionInformation));
}

void ProbeNative(const Native& native) {
  const char* area = "native";
  const std::string top = Path("N");
  MakeDirectory(top);
  Write(top + "\\FILE.TXT", "file");
  Write(top + "\\B.TXT", "b");
  Write(top + "\\LONG FILE NAME.TEXT", "long");
  MakeDirectory(top + "\\SUB");
  Write(top + "\\SUB\\IN.TXT", "in");
  MakeDirectory(Path("NTARGET"));
  Write(Path("NTARGET\\KEEP.TXT"), "keep");
  MakeLink(top + "\\LINK", Path("NTARGET"));
  HANDLE directory = Open(top, GENERIC_READ, FILE_SHARE_READ, kBackup);

  const ULONG kDirectory = FILE_DIRECTORY_FILE;
  const ULONG kFile = FILE_NON_DIRECTORY_FILE;
  const ULONG kItself = FILE_OPEN_REPARSE_POINT;
  const struct {
    const char* what;
    const char* name;
    ULONG options;
  } opens[] = {
      {"a file", "FILE.TXT", kFile},
      {"a file in another case", "file.txt", kFile},
      {"a file as a directory", "FILE.TXT", kDirectory},
      {"a directory", "SUB", kDirectory},
      {"a directory as a file", "SUB", kFile},
      {"a directory, either kind", "SUB", 0},
      {"a link itself as a directory", "LINK", kDirectory | kItself},
      {"a link itself as a file", "LINK", kFile | kItself},
      {"a link followed", "LINK", kDirectory},
      {"a missing name", "MISSING.TXT", 0},
      {"an empty name", "", 0},
      {"a path of two names", "SUB\\IN.TXT", 0},
      {"a name with a wildcard", "FILE.*", 0},
      {"a name with a trailing dot", "FILE.TXT.", 0},
      {"\".\"", ".", 0},
      {"\"..\"", "..", 0},
  };
  for (const auto& each : opens) {
    HANDLE opened;
    const NTSTATUS status =
        OpenAt(native, directory, each.name, FILE_READ_ATTRIBUTES, kShareAll, each.options, &opened);
    std::string result = Status(status);
    if (status == 0) {
      BY_HANDLE_FILE_INFORMATION info = {};
      result += GetFileInformationByHandle(opened, &info) ? ", attributes " + Hex(info.dwFileAttributes) : "";
      if (std::string(each.name).empty())
        result += IndexOf(opened) == IndexOf(directory) ? ", itself" : ", another";
      native.close(opened);
    }
    Emit(area, std::string("NtCreateFile ") + each.what, result);
  }
  {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((top + "\\LONG FILE NAME.TEXT").c_str(), &found);
    const std::string alias = search != INVALID_HANDLE_VALUE ? found.cAlternateFileName : "";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    HANDLE opened;
    const NTSTATUS status =
        alias.empty() ? -1
                      : OpenAt(native, directory, alias, FILE_READ_ATTRIBUTES, kShareAll, kFile, &opened);
    Emit(area, "NtCreateFile by an 8.3 alias", alias.empty() ? "no alias" : Status(status));
    if (!alias.empty() && status == 0) native.close(opened);
  }
  {
    HANDLE first;
    HANDLE second;
    OpenAt(native, directory, "FILE.TXT", GENERIC_READ, FILE_SHARE_READ, kFile, &first);
    Emit(area, "NtCreateFile GREAD/R then DELETE/RWD", [&] {
      const NTSTATUS status = OpenAt(native, directory, "FILE.TXT", DELETE, kShareAll, kFile, &second);
      if (status == 0) native.close(second);
      return Status(status);
    }());
    Emit(area, "NtCreateFile GREAD/R then RATTR/0", [&] {
      const NTSTATUS status = OpenAt(native, directory, "FILE.TXT", FILE_READ_ATTRIBUTES, 0, kFile, &second);
      if (status == 0) native.close(second);
      return Status(status);
    }());
    native.close(first);
  }
  {
    // A handle relative to a directory handle, while CreateFileA holds it.
    HANDLE held = Hold(top + "\\SUB");
    HANDLE opened;
    Emit(area, "NtCreateFile a held directory for delete", [&] {
      const NTSTATUS status = OpenAt(native, directory, "SUB", DELETE, kShareAll, kDirectory, &opened);
      if (status == 0) native.close(opened);
      return Status(status);
    }());
    Close(held);
  }

  // Listings.
  Emit(area, "NtQueryDirectoryFile all", Listing(native, directory, false, false, nullptr, "LINK"));
  Emit(area, "NtQueryDirectoryFile after the end", Listing(native, directory, false, false, nullptr));
  Emit(area, "NtQueryDirectoryFile restart, one", Listing(native, directory, true, true, nullptr));
  Emit(area, "NtQueryDirectoryFile next one", Listing(native, directory, true, false, nullptr));
  Emit(area, "NtQueryDirectoryFile the next one", Listing(native, directory, true, false, nullptr));
  Emit(area, "NtQueryDirectoryFile restart with a mask", Listing(native, directory, false, true, "*.TXT"));
  Emit(area, "NtQueryDirectoryFile restart with a DOS mask",
       Listing(native, directory, false, true, "<.TXT"));
  Emit(area, "NtQueryDirectoryFile restart with a mask that matches nothing",
       Listing(native, directory, false, true, "*.NONE"));
  {
    HANDLE fresh;
    OpenAt(native, directory, "SUB", FILE_LIST_DIRECTORY, kShareAll, kDirectory, &fresh);
    Emit(area, "NtQueryDirectoryFile first call, a mask that matches nothing",
         Listing(native, fresh, false, false, "*.NONE"));
    Emit(area, "NtQueryDirectoryFile the call after it", Listing(native, fresh, false, false, nullptr));
    native.close(fresh);
  }

  // Deleting through a handle.
  {
    HANDLE file;
    OpenAt(native, directory, "B.TXT", DELETE, kShareAll, kFile, &file);
    Emit(area, "FileDispositionInformation a file", Delete(native, file));
    Emit(area, "FileDispositionInformation a file, its attributes before the close",
         AttributesOf(top + "\\B.TXT"));
    native.close(file);
    Emit(area, "FileDispositionInformation a file, its attributes after the close",
         AttributesOf(top + "\\B.TXT"));
  }
  {
    Write(top + "\\RO.TXT", "read-only");
    SetFileAttributesA((top + "\\RO.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE file;
    OpenAt(native, directory, "RO.TXT", DELETE, kShareAll, kFile, &file);
    Emit(area, "FileDispositionInformation a read-only file", Delete(native, file));
    native.close(file);
    SetFileAttributesA((top + "\\RO.TXT").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  {
    HANDLE file;
    OpenAt(native, directory, "FILE.TXT", GENERIC_READ, kShareAll, kFile, &file);
    Emit(area, "FileDispositionInformation without delete access", Delete(native, file));
    native.close(file);
  }
  {
    HANDLE sub;
    OpenAt(native, directory, "SUB", DELETE | FILE_LIST_DIRECTORY, kShareAll, kDirectory, &sub);
    Emit(area, "FileDispositionInformation a directory not empty", Delete(native, sub));
    native.close(sub);
  }
  {
    HANDLE link;
    OpenAt(native, directory, "LINK", DELETE | FILE_READ_ATTRIBUTES, kShareAll, kItself, &link);
    Emit(area, "FileDispositionInformation a link", Delete(native, link));
    native.close(link);
    Emit(area, "FileDispositionInformation a link, the link after", AttributesOf(top + "\\LINK"));
    Emit(area, "FileDispositionInformation a link, its target's file after",
         AttributesOf(Path("NTARGET\\KEEP.TXT")));
  }
  {
    HANDLE file;
    OpenAt(native, directory, "FILE.TXT", FILE_READ_ATTRIBUTES, kShareAll, kFile, &file);
    Emit(area, "NtClose", Status(native.close(file)));
  }
  native.close(directory);
  RemoveTree(top);
  RemoveTree(Path("NTARGET"));
}

// ---- file IDs ----

void ProbeFileIds(const LaterCalls& later) {
  const char* area = "file-id";
  if (later.fileInformation == nullptr) {
    Emit(area, "GetFileInformationByHandleEx", "missing");
    return;
  }
  MakeDirectory(Path("ID DIRECTORY"));
  Write(Path("ID DIRECTORY\\ID FILE.TXT"), "id");
  MakeLink(Path("IDLINK"), Path("ID DIRECTORY"));
  const auto idOf = [&later](const std::string& path, DWORD flags, FILE_ID_INFO* id,
                             BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE handle = Open(path, 0, kShareAll, flags);
    if (handle == INVALID_HANDLE_VALUE) return Error();
    const BOOL got = later.fileInformation(handle, FileIdInfo, id, sizeof(*id));
    const std::string result = got ? "ok" : Error();
    GetFileInformationByHandle(handle, info);
    Close(handle);
    return result;
  };
  FILE_ID_INFO directory = {};
  FILE_ID_INFO alias = {};
  FILE_ID_INFO throughLink = {};
  FILE_ID_INFO file = {};
  BY_HANDLE_FILE_INFORMATION directoryInfo = {};
  BY_HANDLE_FILE_INFORMATION other = {};
  Emit(area, "FileIdInfo of a directory", idOf(Path("ID DIRECTORY"), kBackup, &directory, &directoryInfo));
  Emit(area, "FileIdInfo of a file", idOf(Path("ID DIRECTORY\\ID FILE.TXT"), 0, &file, &other));
  idOf(Path("id directory"), kBackup, &alias, &other);
  idOf(Path("IDLINK"), kBackup, &throughLink, &other);
  Emit(area, "the same ID in another case", memcmp(&alias, &directory, sizeof(alias)) == 0 ? "yes" : "no");
  Emit(area, "the same ID through a link",
       memcmp(&throughLink, &directory, sizeof(alias)) == 0 ? "yes" : "no");
  Emit(area, "another ID for a file",
       memcmp(&file.FileId, &directory.FileId, sizeof(file.FileId)) != 0 ? "yes" : "no");
  Emit(area, "the volume serial number's low half",
       static_cast<DWORD>(directory.VolumeSerialNumber) == directoryInfo.dwVolumeSerialNumber
           ? "the 32-bit one"
           : "another");
  ULONGLONG low = 0;
  for (int i = 7; i >= 0; --i) low = (low << 8) | directory.FileId.Identifier[i];
  const ULONGLONG index =
      (static_cast<ULONGLONG>(directoryInfo.nFileIndexHigh) << 32) | directoryInfo.nFileIndexLow;
  Emit(area, "the ID's low half", low == index ? "the file index" : "another");
  HANDLE handle = Open(Path("ID DIRECTORY"), 0, kShareAll, kBackup);
  FILE_ID_INFO small;
  Emit(area, "FileIdInfo into too small a buffer",
       Outcome(later.fileInformation(handle, FileIdInfo, &small, 8)));
  Close(handle);
  RemoveTree(Path("IDLINK"));
  RemoveTree(Path("ID DIRECTORY"));
}

// ---- security: descriptors, the token, Administrators ----

typedef DWORD(WINAPI* SecurityInfoCall)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                                        PSECURITY_DESCRIPTOR*);
typedef BOOL(WINAPI* OpenTokenCall)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* TokenInformationCall)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef NET_API_STATUS(WINAPI* GroupMembersCall)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD,
                                                 PDWORD_PTR);
typedef NET_API_STATUS(WINAPI* BufferFreeCall)(LPVOID);

std::string SidText(const void* sid) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  unsigned long long authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes[2 + i];
  std::string text = "S-" + Number(bytes[0]) + "-" + std::to_string(authority);
  for (int i = 0; i < bytes[1]; ++i) {
    DWORD sub = 0;
    memcpy(&sub, bytes + 8 + 4 * i, sizeof(sub));
    text += "-" + Number(sub);
  }
  return text;
}

// The entries of a DACL as a program walks them: type, SID, mask, flags.
std::string AclText(const ACL* acl) {
  if (acl == nullptr) return "null";
  std::string text;
  const BYTE* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER header;
    memcpy(&header, at, sizeof(header));
    ACCESS_MASK mask = 0;
    memcpy(&mask, at + sizeof(header), sizeof(mask));
    if (!text.empty()) text += ", ";
    text += std::string(header.AceType == ACCESS_DENIED_ACE_TYPE ? "deny " : "allow ") +
            SidText(at + sizeof(header) + sizeof(mask)) + " " + Hex(mask) + " " + Hex(header.AceFlags);
    at += header.AceSize;
  }
  const bool exact = at == reinterpret_cast<const BYTE*>(acl) + acl->AclSize;
  return (text.empty() ? "empty" : text) + (exact ? "" : " (size mismatch)");
}

void ProbeSecurity() {
  const char* area = "security";
  HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
  HMODULE netapi = LoadLibraryA("NETAPI32.DLL");
  const SecurityInfoCall securityInfo =
      advapi != nullptr ? AsCall<SecurityInfoCall>(GetProcAddress(advapi, "GetSecurityInfo")) : nullptr;
  const OpenTokenCall openToken =
      advapi != nullptr ? AsCall<OpenTokenCall>(GetProcAddress(advapi, "OpenProcessToken")) : nullptr;
  const TokenInformationCall tokenInformation =
      advapi != nullptr ? AsCall<TokenInformationCall>(GetProcAddress(advapi, "GetTokenInformation")) : nullptr;
  const GroupMembersCall groupMembers =
      netapi != nullptr ? AsCall<GroupMembersCall>(GetProcAddress(netapi, "NetLocalGroupGetMembers")) : nullptr;
  const BufferFreeCall bufferFree =
      netapi != nullptr ? AsCall<BufferFreeCall>(GetProcAddress(netapi, "NetApiBufferFree")) : nullptr;
  if (securityInfo == nullptr || openToken == nullptr || tokenInformation == nullptr || groupMembers == nullptr ||
      bufferFree == nullptr) {
    Emit(area, "the calls", "missing");
    return;
  }
  DWORD flags = 0;
  Emit(area, "C: keeps persistent ACLs",
       GetVolumeInformationA("C:\\", nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
           ? ((flags & FILE_PERSISTENT_ACLS) != 0 ? "yes" : "no")
           : Error());

  const std::string file = Path("SECURED.TXT");
  const std::string directory = Path("SECURED");
  Write(file, "x");
  MakeDirectory(directory);
  for (const auto& object : {std::make_pair("a new file", file), std::make_pair("a new directory", directory)}) {
    const std::string what = object.first;
    HANDLE handle = Open(object.second, READ_CONTROL, kShareAll, kBackup);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError()
                                                       : securityInfo(handle, SE_FILE_OBJECT,
                                                                      OWNER_SECURITY_INFORMATION |
                                                                          DACL_SECURITY_INFORMATION,
                                                                      &owner, nullptr, &dacl, nullptr, &descriptor);
    Emit(area, "GetSecurityInfo of " + what, error == 0 ? "ok" : "err " + Number(error));
    if (error == 0) {
      Emit(area, "the owner of " + what, owner != nullptr ? SidText(owner) : "none");
      Emit(area, "the DACL of " + what, AclText(dacl));
      LocalFree(descriptor);
    }
    Close(handle);
  }
  HANDLE attributesOnly = Open(file, FILE_READ_ATTRIBUTES, kShareAll, 0);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD refused = attributesOnly == INVALID_HANDLE_VALUE
                            ? GetLastError()
                            : securityInfo(attributesOnly, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, nullptr,
                                           nullptr, nullptr, nullptr, &descriptor);
  Emit(area, "GetSecurityInfo without READ_CONTROL", refused == 0 ? "ok" : "err " + Number(refused));
  if (refused == 0) LocalFree(descriptor);
  Close(attributesOnly);
  DeleteFileA(file.c_str());
  RemoveDirectoryA(directory.c_str());

  HANDLE token = nullptr;
  alignas(TOKEN_USER) BYTE user[256];
  DWORD size = 0;
  const bool opened = openToken(GetCurrentProcess(), TOKEN_QUERY, &token) != FALSE;
  const bool told = opened && tokenInformation(token, TokenUser, user, sizeof(user), &size) != FALSE;
  std::string tokenUser = told ? SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid) : Error();
  Emit(area, "the token's user", tokenUser);
  if (opened) CloseHandle(token);

  LPBYTE members = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  WCHAR group[16] = {};
  const char administrators[] = "Administrators";
  for (size_t i = 0; i < sizeof(administrators); ++i) group[i] = static_cast<WCHAR>(administrators[i]);
  const NET_API_STATUS status =
      groupMembers(nullptr, group, 0, &members, MAX_PREFERRED_LENGTH, &read, &total, nullptr);
  std::string result = status == 0 ? Number(read) + " members" : "err " + Number(status);
  bool userAmong = false;
  for (DWORD i = 0; status == 0 && i < read; ++i) {
    userAmong = userAmong || SidText(reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(members)[i].lgrmi0_sid) == tokenUser;
  }
  if (status == 0) result += userAmong ? ", the token's user among them" : ", the token's user not among them";
  Emit(area, "NetLocalGroupGetMembers Administrators", result);
  if (members != nullptr) bufferFree(members);

  // The group's name by its SID, as the trust check asks for it.
  typedef BOOL(WINAPI * AccountNameCall)(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
  const AccountNameCall accountName = AsCall<AccountNameCall>(GetProcAddress(advapi, "LookupAccountSidW"));
  BYTE administratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  WCHAR name[64];
  WCHAR domain[64];
  DWORD nameLength = 0;
  DWORD domainLength = 0;
  SID_NAME_USE use = SidTypeInvalid;
  std::string sizes = accountName == nullptr ? "missing"
                      : accountName(nullptr, administratorsSid, name, &nameLength, domain, &domainLength, &use)
                          ? "ok"
                          : Error() + ", " + Number(nameLength) + " and " + Number(domainLength) + " letters";
  Emit(area, "LookupAccountSidW Administrators, no room", sizes);
  nameLength = domainLength = 64;
  const auto ascii = [](const WCHAR* text, DWORD length) {
    std::string letters;
    for (DWORD i = 0; i < length && i < 64; ++i) letters += static_cast<char>(text[i] < 128 ? text[i] : '?');
    return letters;
  };
  const std::string named =
      accountName == nullptr ? "missing"
      : accountName(nullptr, administratorsSid, name, &nameLength, domain, &domainLength, &use)
          ? ascii(domain, domainLength) + "\\" + ascii(name, nameLength) + ", use " + Number(use)
          : Error();
  Emit(area, "LookupAccountSidW Administrators", named);
  Emit(area, "GetVersion's major version", Number(GetVersion() & 0xFF));
  FreeLibrary(netapi);
  FreeLibrary(advapi);
}

}  // namespace

int main() {
#ifndef _WIN32
  // A fresh emulated machine of the layer's defaults (NT, Windows 10).
  const char* temporary = getenv("TMPDIR");
  std::string machine = std::string(temporary != nullptr ? temporary : "/tmp") + "/preuninst-probe-XXXXXX";
  if (mkdtemp(&machine[0]) == nullptr || mkdir((machine + "/drive_c").c_str(), 0755) != 0) return 2;
  std::ofstream((machine + "/machine.ini").c_str()) << "[machine]\n";
  std::string error;
  if (!HostOpenMachine(machine.c_str(), &error)) {
    fprintf(stderr, "probe: %s\n", error.c_str());
    return 2;
  }
#endif
  RemoveTree(kRoot);
  if (!CreateDirectoryA(kRoot, nullptr)) {
    fprintf(stderr, "probe: cannot make %s (error %lu)\n", kRoot, static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  LaterCalls later;
  FindLaterCalls(&later);
  Write(Path("SHARE.TXT"), "shared");
  MakeDirectory(Path("SHARED"));
  ProbeSharing("file-share", Path("SHARE.TXT"), 0);
  ProbeSharing("dir-share", Path("SHARED"), kBackup);
  ProbeHeld();
  ProbeLinks();
  ProbeSearches();
  ProbePaths();
  ProbeFinalPaths(later);
  FARPROC found[4];
  Native native;
  if (FindSystemCalls("NTDLL.DLL", "NtCreateFile\0NtQueryDirectoryFile\0NtSetInformationFile\0NtClose\0",
                      found)) {
    native.createFile = AsCall<decltype(native.createFile)>(found[0]);
    native.queryDirectory = AsCall<decltype(native.queryDirectory)>(found[1]);
    native.setInformation = AsCall<decltype(native.setInformation)>(found[2]);
    native.close = AsCall<decltype(native.close)>(found[3]);
    ProbeNative(native);
  } else {
    Emit("native", "NTDLL's calls", "missing");
  }
  ProbeFileIds(later);
  ProbeSecurity();
  RemoveTree(kRoot);
  // What Wine's calls cannot take away (a link left dangling by its
  // RemoveDirectoryA) goes through the host.
  const std::string unixRoot = UnixNameOf(kRoot);
  if (Exists(kRoot) && !unixRoot.empty()) {
    RunOnTheHost("Z:\\bin\\rm -rf \"" + unixRoot + "\"", [] { return !Exists(kRoot); });
  }
  const bool clean = !Exists(kRoot);
  if (!clean) printf("left: %s\n", Search(std::string(kRoot) + "\\*").c_str());
#ifndef _WIN32
  HostCloseMachine();
  std::error_code ignored;
  std::filesystem::remove_all(machine, ignored);
#endif
  if (!clean) fprintf(stderr, "probe: %s is left behind\n", kRoot);
  return clean ? 0 : 1;
}
