// Windows paths on the emulated machine: drive letters map to drive_x/,
// every component is found without regard to case, and names get the 8.3
// aliases and wildcard matching Windows gives them.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "win32/internal.h"

namespace hostwin {
namespace {

struct ParsedPath {
  char drive = 'C';
  std::vector<std::string> parts;
  bool root = false;  // the top of a drive or a share, as given
};

bool InvalidNameChar(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char UpperDrive(char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

size_t FindSeparator(const std::string& text, size_t from) {
  for (size_t at = from; at < text.size(); at += LetterSize(text, at)) {
    if (IsSeparator(text[at])) return at;
  }
  return std::string::npos;
}

size_t LastSeparator(const std::string& text) {
  size_t found = std::string::npos;
  for (size_t at = FindSeparator(text, 0); at != std::string::npos; at = FindSeparator(text, at + 1)) found = at;
  return found;
}

bool EndsWithSeparator(const std::string& text) {
  return !text.empty() && LastSeparator(text) == text.size() - 1;
}

namespace {

// The full form of a path, as Windows makes it before it looks at the disk.
struct FullPath {
  std::string root;  // "C:\" or "\\server\share\", which ".." cannot climb above
  bool unc = false;
  std::vector<std::string> names;
  bool endsWithSeparator = false;
};

// Adds the names of text to a full path the way Windows does: empty names
// and "." vanish, ".." climbs, a name followed by a separator loses one
// trailing dot, the last name loses all its trailing dots and blanks (and,
// when nothing is left of it, the path ends with a separator instead).
void AddNames(const std::string& text, bool endsWithSeparator, FullPath* full) {
  std::vector<std::string>& names = full->names;
  bool separatorLast = endsWithSeparator;
  size_t begin = 0;
  for (;;) {
    size_t end = std::min(FindSeparator(text, begin), text.size());
    const bool last = end == text.size();
    std::string name = text.substr(begin, end - begin);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
      if (last) separatorLast = false;
    } else if (name == ".") {
      if (last) separatorLast = false;
    } else if (!name.empty()) {
      if (!last && name.back() == '.') name.pop_back();
      names.push_back(name);
    }
    if (last) break;
    begin = end + 1;
  }
  if (!separatorLast && !names.empty()) {
    std::string& tail = names.back();
    while (!tail.empty() && (tail.back() == '.' || tail.back() == ' ')) tail.pop_back();
    if (tail.empty()) {
      names.pop_back();
      separatorLast = true;
    }
  }
  full->endsWithSeparator = separatorLast;
}

FullPath MakeFullPath(const std::string& given, const std::string& current);

// The machine's current directory as a full path; C:\ when it is not one.
FullPath CurrentFullPath(const std::string& current) {
  if (current.size() >= 3 && IsDriveLetter(current[0]) && current[1] == ':' && IsSeparator(current[2])) {
    return MakeFullPath(current, "");
  }
  FullPath root;
  root.root = "C:\\";
  return root;
}

// Makes a path full as GetFullPathNameA does, without looking at the disk:
// names keep the spelling given. current is the machine's one current
// directory, so X:NAME on another drive starts at that drive's root.
FullPath MakeFullPath(const std::string& given, const std::string& current) {
  FullPath full;
  const bool endsWithSeparator = EndsWithSeparator(given);
  size_t restAt = 0;
  if (given.size() >= 2 && IsSeparator(given[0]) && IsSeparator(given[1])) {
    restAt = 2;
    for (int part = 0; part < 2; ++part) {  // server, then share
      restAt = std::min(FindSeparator(given, restAt), given.size());
      while (restAt < given.size() && IsSeparator(given[restAt])) ++restAt;
    }
    full.root = given.substr(0, restAt);
    std::replace(full.root.begin(), full.root.end(), '/', '\\');
    full.unc = true;
  } else if (given.size() >= 2 && IsDriveLetter(given[0]) && given[1] == ':') {
    const bool relative = given.size() == 2 || !IsSeparator(given[2]);
    if (relative) full = CurrentFullPath(current);
    if (!relative || UpperDrive(full.root[0]) != UpperDrive(given[0])) {
      full = FullPath();
      full.root = given.substr(0, 2) + "\\";
    }
    restAt = relative ? 2 : 3;
  } else {
    full = CurrentFullPath(current);
    if (!given.empty() && IsSeparator(given[0])) full.names.clear();  // from the root of that drive
  }
  AddNames(given.substr(restAt), endsWithSeparator, &full);
  return full;
}

std::string FullPathText(const FullPath& full) {
  std::string out = full.root;
  for (size_t i = 0; i < full.names.size(); ++i) {
    if (i != 0) out += "\\";
    out += full.names[i];
  }
  if (full.endsWithSeparator && !full.names.empty()) out += "\\";
  return out;
}

// Where a share root or a substituted drive leads: the full path of a plain
// drive; null when the root is neither.
const std::string* MappedRoot(const FullPath& full) {
  const Machine* machine = CurrentMachine();
  if (machine == nullptr) return nullptr;
  if (full.unc) {
    std::string root = Fold(full.root);
    while (!root.empty() && root.back() == '\\') root.pop_back();
    for (const auto& share : machine->settings.shares) {
      if (share.first == root) return &share.second;
    }
    return nullptr;
  }
  for (const auto& substitute : machine->settings.substitutes) {
    if (substitute.first == UpperDrive(full.root[0])) return &substitute.second;
  }
  return nullptr;
}

DWORD ParseWindowsPath(const std::string& given, const std::string& current, ParsedPath* out) {
  if (given.empty()) return ERROR_PATH_NOT_FOUND;
  FullPath full = MakeFullPath(given, current);
  for (const std::string& name : full.names) {
    for (size_t at = 0; at < name.size(); at += LetterSize(name, at)) {
      if (LetterSize(name, at) == 1 && InvalidNameChar(name[at])) return ERROR_INVALID_NAME;
    }
  }
  out->root = full.names.empty();
  if (const std::string* mapped = MappedRoot(full)) {
    // The same files as the directory it leads to.
    FullPath target = MakeFullPath(*mapped, "");
    target.names.insert(target.names.end(), full.names.begin(), full.names.end());
    full = target;
  } else if (full.unc) {
    return ERROR_BAD_NETPATH;  // no such share on this machine
  }
  out->drive = UpperDrive(full.root[0]);
  out->parts.swap(full.names);
  return 0;
}

std::string WindowsForm(const ParsedPath& parsed) {
  std::string out(1, parsed.drive);
  out += ":\\";
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    if (i != 0) out += "\\";
    out += parsed.parts[i];
  }
  return out;
}

bool IsDirectory(const std::string& hostPath) {
  struct stat info;
  return stat(hostPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ShortNameChar(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if (byte <= 0x20 || byte >= 0x80) return false;
  return std::string("\"*+,/:;<=>?[\\]|.").find(c) == std::string::npos;
}

}  // namespace

std::string JoinHost(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

bool ListDirectory(const std::string& hostDirectory, std::vector<std::string>* hostNames,
                   std::vector<std::string>* names) {
  DIR* directory = opendir(hostDirectory.c_str());
  if (directory == nullptr) return false;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    // No Windows name holds a backslash; shown, such a name would read as a
    // path and lead somewhere else.
    if (name == "." || name == ".." || name.find('\\') != std::string::npos) continue;
    hostNames->push_back(name);
    names->push_back(AnsiFromUtf8(name));
  }
  closedir(directory);
  return true;
}

bool FindChild(const std::string& hostDirectory, const std::string& ansiName, std::string* hostName) {
  const std::string exact = Utf8FromAnsi(ansiName);
  struct stat info;
  if (lstat(JoinHost(hostDirectory, exact).c_str(), &info) == 0) {
    *hostName = exact;
    return true;
  }
  std::vector<std::string> hostNames;
  std::vector<std::string> names;
  if (!ListDirectory(hostDirectory, &hostNames, &names)) return false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (SameNameNoCase(hostNames[i], ansiName)) {
      *hostName = hostNames[i];
      return true;
    }
  }
  // A short alias names the same file as its long name.
  if (ansiName.find('~') == std::string::npos || !ShortNamesEnabled()) return false;
  const std::vector<std::string> aliases = ShortNames(names);
  for (size_t i = 0; i < aliases.size(); ++i) {
    if (EqualNoCase(aliases[i], ansiName)) {
      *hostName = hostNames[i];
      return true;
    }
  }
  return false;
}

std::string FullPathName(const std::string& path, const std::string& current) {
  return FullPathText(MakeFullPath(path, current));
}

Resolved ResolvePath(const char* path) {
  Resolved resolved;
  Machine* machine = CurrentMachine();
  if (machine == nullptr || path == nullptr) {
    resolved.error = ERROR_PATH_NOT_FOUND;
    return resolved;
  }
  ParsedPath parsed;
  resolved.error = ParseWindowsPath(path, machine->settings.current, &parsed);
  if (resolved.error != 0) return resolved;
  resolved.windows = WindowsForm(parsed);
  std::string directory =
      JoinHost(machine->directory, std::string("drive_") + static_cast<char>(parsed.drive - 'A' + 'a'));
  if (!IsDirectory(directory)) {
    resolved.error = ERROR_PATH_NOT_FOUND;
    return resolved;
  }
  resolved.isDriveRoot = parsed.root;
  if (parsed.parts.empty()) {
    resolved.exists = true;
    resolved.host = directory;
    resolved.parentHost = directory;
    return resolved;
  }
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    std::string name;
    if (!FindChild(directory, parsed.parts[i], &name) || !IsDirectory(JoinHost(directory, name))) {
      resolved.error = ERROR_PATH_NOT_FOUND;
      return resolved;
    }
    directory = JoinHost(directory, name);
  }
  resolved.parentHost = directory;
  std::string name;
  resolved.exists = FindChild(directory, parsed.parts.back(), &name);
  resolved.host = JoinHost(directory, resolved.exists ? name : Utf8FromAnsi(parsed.parts.back()));
  return resolved;
}

// Where a host file really is: every link on its way resolved, and a link
// at its end too unless the link itself is meant.
std::string RealHostPath(const std::string& host, bool linkItself) {
  const size_t slash = host.rfind('/');
  const std::string resolve = linkItself ? host.substr(0, slash == 0 ? 1 : slash) : host;
  char* real = realpath(resolve.c_str(), nullptr);
  if (real == nullptr) return host;
  const std::string found(real);
  free(real);
  return linkItself ? JoinHost(found, host.substr(slash + 1)) : found;
}

std::string NormalHostPath(const std::string& host) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= host.size()) {
    size_t end = host.find('/', at);
    if (end == std::string::npos) end = host.size();
    const std::string part = host.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

bool HostAttributes(const std::string& hostPath, DWORD* attributes) {
  struct stat link;
  if (lstat(hostPath.c_str(), &link) != 0) return false;
  struct stat info = link;
  DWORD bits = 0;
  if (S_ISLNK(link.st_mode)) {
    // Like a junction or symbolic link on Windows: the link is reported, with
    // the reparse-point bit, as a directory when it leads to one.
    bits |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (stat(hostPath.c_str(), &info) != 0) info = link;
  }
  const bool directory = S_ISDIR(info.st_mode);
  if (directory) bits |= FILE_ATTRIBUTE_DIRECTORY;
  // Hidden, system and archive live where Wine keeps them too.
  char stored[64] = {};
  const ssize_t length = lgetxattr(hostPath.c_str(), "user.DOSATTRIB", stored, sizeof(stored) - 1);
  if (length > 0) {
    const unsigned long dos = strtoul(stored, nullptr, 16);
    bits |= static_cast<DWORD>(dos) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY);
    if (directory) bits |= static_cast<DWORD>(dos) & FILE_ATTRIBUTE_READONLY;
  } else if (!directory) {
    bits |= FILE_ATTRIBUTE_ARCHIVE;  // what a new file gets on Windows
  }
  if (!directory && (info.st_mode & S_IWUSR) == 0) bits |= FILE_ATTRIBUTE_READONLY;
  *attributes = bits != 0 ? bits : FILE_ATTRIBUTE_NORMAL;
  return true;
}

// A letter that may stand in an 8.3 name: ASCII but for the reserved
// characters, and in a double-byte code page any letter outside ASCII too
// (Windows of those languages keeps them in short names).
bool ShortNameLetter(const std::string& name, size_t at) {
  if (LetterSize(name, at) == 2) return true;
  return ShortNameChar(name[at]) ||
         (static_cast<unsigned char>(name[at]) >= 0x80 && IsKnownDoubleByte(AnsiCodePage()));
}

bool IsShortName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  const size_t dot = name.find('.');  // never the second byte of a letter
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != std::string::npos && extension.empty()) return false;
  for (const std::string* part : {&base, &extension}) {
    for (size_t at = 0; at < part->size(); at += LetterSize(*part, at)) {
      if (!ShortNameLetter(*part, at)) return false;
    }
  }
  return true;
}

bool ShortNamesEnabled() {
  const Machine* machine = CurrentMachine();
  return machine == nullptr || machine->settings.shortNames;
}

std::vector<std::string> ShortNames(const std::vector<std::string>& names) {
  // A volume without 8.3 names knows each file by its long name alone.
  if (!ShortNamesEnabled()) return names;
  std::set<std::string> taken;
  for (const std::string& name : names) {
    if (IsShortName(name)) taken.insert(Fold(name));
  }
  std::vector<size_t> order(names.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return Fold(names[a]) < Fold(names[b]); });
  std::vector<std::string> result(names.size());
  std::map<std::string, int> counters;
  for (size_t index : order) {
    const std::string& name = names[index];
    if (name == "." || name == ".." || IsShortName(name)) {
      result[index] = name;
      continue;
    }
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    // Each letter outside ASCII, one byte or two, becomes one _, so that
    // no cut falls inside a letter.
    std::string base;
    std::string extension;
    for (size_t i = 0; i < (hasExtension ? dot : name.size()); i += LetterSize(name, i)) {
      const char c = name[i];
      if (c == ' ' || c == '.') continue;
      base.push_back(LetterSize(name, i) == 1 && ShortNameChar(c) ? FoldChar(c) : '_');
    }
    if (hasExtension) {
      for (size_t i = dot + 1; i < name.size() && extension.size() < 3; i += LetterSize(name, i)) {
        const char c = name[i];
        if (c == ' ') continue;
        extension.push_back(LetterSize(name, i) == 1 && ShortNameChar(c) ? FoldChar(c) : '_');
      }
    }
    if (base.empty()) base = "_";
    std::string alias;
    int& counter = counters[base.substr(0, 6) + "." + extension];
    do {
      const std::string number = "~" + std::to_string(++counter);
      alias = base.substr(0, 8 - number.size()) + number;
      if (!extension.empty()) alias += "." + extension;
    } while (taken.count(alias) != 0);
    taken.insert(alias);
    result[index] = alias;
  }
  return result;
}

std::string ShortNameOf(const std::string& hostPath) {
  const size_t slash = hostPath.rfind('/');
  const std::string hostName = hostPath.substr(slash + 1);
  const std::string name = AnsiFromUtf8(hostName);
  if (IsShortName(name) || !ShortNamesEnabled()) return name;
  // The alias depends on the other names in the same directory.
  std::vector<std::string> hostNames;
  std::vector<std::string> names;
  ListDirectory(hostPath.substr(0, slash), &hostNames, &names);
  for (size_t i = 0; i < hostNames.size(); ++i) {
    if (hostNames[i] == hostName) return ShortNames(names)[i];
  }
  return ShortNames({name})[0];
}

namespace {

const char32_t kDosStar = '<';
const char32_t kDosQm = '>';
const char32_t kDosDot = '"';

// Matching as MS-FSA 2.1.4.4 has it: * any run of letters, ? one letter;
// the DOS wildcards < (any run that stops before the name's last dot), >
// (one letter, or at a dot or the end nothing, and so the >s after it) and
// " (a dot, or nothing at the end).
bool MatchFrom(const std::u32string& pattern, size_t p, const std::u32string& name, size_t n, size_t lastDot) {
  while (p < pattern.size()) {
    const char32_t c = pattern[p];
    if (c == '*' || c == kDosStar) {
      ++p;
      const size_t limit = c == '*' || lastDot == std::u32string::npos ? name.size() : std::max(n, lastDot);
      for (size_t start = n; start <= limit; ++start) {
        if (MatchFrom(pattern, p, name, start, lastDot)) return true;
      }
      return false;
    }
    if (c == kDosQm && (n == name.size() || name[n] == '.')) {
      while (p < pattern.size() && pattern[p] == kDosQm) ++p;
      continue;
    }
    if (c == kDosDot && n == name.size()) {
      ++p;
      continue;
    }
    if (n >= name.size()) return false;
    if (c == kDosDot ? name[n] != '.' : c != '?' && c != kDosQm && c != name[n]) return false;
    ++p;
    ++n;
  }
  return n == name.size();
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // Compared letter by letter, as Windows does in Unicode.
  const unsigned codePage = AnsiCodePage();
  return WildcardMatch(DecodeAnsi(pattern, codePage), DecodeAnsi(name, codePage));
}

bool WildcardMatch(const std::u32string& pattern, const std::u32string& name) {
  const std::u32string any = U"*";
  if (pattern == U"*.*" || pattern == any) return true;
  std::u32string wanted = FoldText(pattern);
  const std::u32string candidate = FoldText(name);
  // A pattern of * and ? that ends in a dot asks for names without an
  // extension.
  const bool dos = pattern.find_first_of(U"<>\"") != std::u32string::npos;
  if (!dos && !wanted.empty() && wanted.back() == '.') {
    if (name.find(U'.') != std::u32string::npos && name != U"." && name != U"..") return false;
    wanted.pop_back();
  }
  return MatchFrom(wanted, 0, candidate, 0, candidate.rfind(U'.'));
}

bool IsInUseFile(dev_t device, ino_t inode) {
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return false;
  // Whatever spelling opens it: the entries are files, not names.
  for (const std::string& path : machine->settings.inUse) {
    const Resolved entry = ResolvePath(path.c_str());
    struct stat held;
    if (entry.exists && stat(entry.host.c_str(), &held) == 0 && held.st_dev == device && held.st_ino == inode) {
      return true;
    }
  }
  return false;
}

bool IsNamedInUse(const Resolved& resolved) {
  struct stat file;
  return resolved.exists && stat(resolved.host.c_str(), &file) == 0 && IsInUseFile(file.st_dev, file.st_ino);
}

bool IsHeldElsewhere(const Resolved& resolved) {
  if (!resolved.exists) return false;
  if (IsNamedInUse(resolved)) return true;
  const int fd = open(resolved.host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  // This process's own shared locks would stand against an exclusive one:
  // beside them only another process's exclusive lock is seen.
  struct stat status;
  bool ours = false;
  if (fstat(fd, &status) == 0) {
    for (Object* object : ObjectsOf(Object::Kind::kFile)) {
      const FileObject* open = static_cast<const FileObject*>(object);
      ours = ours || (open->locked && open->device == status.st_dev && open->inode == status.st_ino);
    }
  }
  const bool held = flock(fd, (ours ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

}  // namespace hostwin
