// Security descriptors of the machine's files and directories (NT only):
// the owner and DACL that [security] and "root acl" give each of them, the
// access check Windows makes for an elevated administrator's token, and the
// calls that read descriptors, the token and the Administrators group.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "win32/internal.h"

using namespace hostwin;

namespace {

typedef std::vector<BYTE> Sid;

const char* const kDefaultUser = "S-1-5-21-1004336348-1177238915-682003330-500";

// The rights of an ACE as Windows' ACL editor names them. Modify is read,
// write, execute and delete; Read the generic read of a file.
struct RightName {
  const char* name;
  DWORD mask;
};

const DWORD kModify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;

const RightName kRights[] = {
    {"full", FILE_ALL_ACCESS},
    {"modify", kModify},
    {"read", FILE_GENERIC_READ},
    {"write", FILE_GENERIC_WRITE},
    {"delete", DELETE},
    {"delete-child", FILE_DELETE_CHILD},
    {"add-file", FILE_ADD_FILE},
    {"add-subdirectory", FILE_ADD_SUBDIRECTORY},
    {"write-attributes", FILE_WRITE_ATTRIBUTES},
    {"write-dac", WRITE_DAC},
    {"write-owner", WRITE_OWNER},
    {"list", FILE_LIST_DIRECTORY},
};

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  const size_t end = text.find_last_not_of(" \t\r");
  return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    const size_t next = text.find(separator, at);
    parts.push_back(Trim(text.substr(at, next == std::string::npos ? std::string::npos : next - at)));
    if (next == std::string::npos) return parts;
    at = next + 1;
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size()) {
    const size_t begin = text.find_first_not_of(" \t", at);
    if (begin == std::string::npos) break;
    const size_t end = std::min(text.find_first_of(" \t", begin), text.size());
    words.push_back(text.substr(begin, end - begin));
    at = end;
  }
  return words;
}

bool ParseRights(const std::string& text, DWORD* mask) {
  *mask = 0;
  for (const std::string& part : Split(text, '+')) {
    if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
      char* end = nullptr;
      errno = 0;
      const unsigned long value = strtoul(part.c_str() + 2, &end, 16);
      if (*end != '\0' || errno != 0 || value > 0xFFFFFFFFUL) return false;
      *mask |= static_cast<DWORD>(value);
      continue;
    }
    const RightName* found = nullptr;
    for (const RightName& right : kRights) {
      if (EqualNoCase(part, right.name)) found = &right;
    }
    if (found == nullptr) return false;
    *mask |= found->mask;
  }
  return true;
}

Sid SidOf(const char* text) {
  Sid sid;
  ParseSid(text, &sid);
  return sid;
}

// Never destroyed: a library's destructors may call the layer after the
// process's statics are gone (a library still loaded at its end).
const Sid& Administrators() {
  static const Sid& sid = *new Sid(SidOf("S-1-5-32-544"));
  return sid;
}

const Sid& Everyone() {
  static const Sid& sid = *new Sid(SidOf("S-1-1-0"));
  return sid;
}

Sid UserSid(const Settings& settings) { return settings.user.empty() ? SidOf(kDefaultUser) : settings.user; }

// The groups of an elevated administrator's token: the user, Administrators,
// Users, Authenticated Users, INTERACTIVE, Everyone.
std::vector<Sid> TokenSids(const Settings& settings) {
  return {UserSid(settings), Administrators(), SidOf("S-1-5-32-545"),
          SidOf("S-1-5-11"), SidOf("S-1-5-4"), Everyone()};
}

bool InToken(const std::vector<Sid>& token, const Sid& sid) {
  return std::find(token.begin(), token.end(), sid) != token.end();
}

struct Ace {
  BYTE type;  // ACCESS_ALLOWED_ACE_TYPE or ACCESS_DENIED_ACE_TYPE
  BYTE flags;
  DWORD mask;
  Sid sid;
};

struct Descriptor {
  Sid owner;
  bool nullDacl = false;
  bool isProtected = false;
  std::vector<Ace> aces;
};

BYTE OwnFlags(const SecurityEntry& entry) {
  if (entry.inheritOnly) return OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
  return entry.inherit ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
}

Ace AceOf(const SecurityEntry& entry, BYTE flags) {
  return Ace{static_cast<BYTE>(entry.deny ? ACCESS_DENIED_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE), flags,
             entry.mask, entry.sid};
}

// What "root acl" puts on a drive root.
std::vector<SecurityEntry> RootEntries(RootAcl kind) {
  const auto entry = [](const char* sid, DWORD mask, bool inherit, bool inheritOnly) {
    SecurityEntry made;
    made.sid = SidOf(sid);
    made.mask = mask;
    made.inherit = inherit;
    made.inheritOnly = inheritOnly;
    return made;
  };
  std::vector<SecurityEntry> entries = {entry("S-1-5-18", FILE_ALL_ACCESS, true, false),
                                        entry("S-1-5-32-544", FILE_ALL_ACCESS, true, false)};
  if (kind == RootAcl::kNt4) {
    entries.push_back(entry("S-1-1-0", kModify, true, false));
    return entries;
  }
  entries.push_back(entry("S-1-5-32-545", FILE_GENERIC_READ, true, false));
  if (kind == RootAcl::kVista) {
    entries.push_back(entry("S-1-5-11", FILE_ADD_SUBDIRECTORY, false, false));
    entries.push_back(entry("S-1-5-11", kModify, false, true));
  }
  return entries;
}

// The Windows path of a host path, links and substitutes resolved, folded
// for comparison and split into its names: the drive ("C:") first.
std::vector<std::u32string> FoldedNames(const std::string& windows) {
  std::vector<std::u32string> names;
  const std::u32string folded = FoldText(DecodeAnsi(windows, AnsiCodePage()));
  size_t at = 0;
  while (at < folded.size()) {
    size_t end = folded.find(U'\\', at);
    if (end == std::u32string::npos) end = folded.size();
    if (end > at) names.push_back(folded.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

// Where a host path really is on the machine's drives: its Windows path,
// or empty outside them.
std::string RealWindowsPath(const std::string& host, bool linkItself) {
  return WindowsPathOfHost(RealHostPath(NormalHostPath(host), linkItself));
}

bool DriveHasAcls(const Settings& settings, char letter) {
  if (!settings.nt || settings.allWithoutAcls) return false;
  return settings.drivesWithoutAcls.find(letter) == std::string::npos;
}

// The descriptor of what lies at a Windows path (really there, every link
// resolved): its own entries, then the inheritable ones of each directory
// above it, nearest first, down to the drive root's.
Descriptor DescriptorOf(const Settings& settings, const std::string& windows, bool directory) {
  const std::vector<std::u32string> names = FoldedNames(windows);
  // Each [security] line by how many names deep it lies on this path; the
  // last line for a path wins, as later lines of the file do.
  std::vector<const SecurityLine*> lines(names.size() + 1, nullptr);
  // A line names the object at its path: a link there is the link itself,
  // with a descriptor of its own, as Windows keeps one for a junction.
  for (const SecurityLine& line : settings.security) {
    const Resolved resolved = ResolvePath(line.path.c_str());
    if (resolved.error != 0 && resolved.host.empty()) continue;
    const std::vector<std::u32string> path = FoldedNames(RealWindowsPath(resolved.host, true));
    if (path.empty() || path.size() > names.size() || !std::equal(path.begin(), path.end(), names.begin()))
      continue;
    lines[path.size()] = &line;
  }
  Descriptor descriptor;
  descriptor.owner = Administrators();
  const SecurityLine* own = lines[names.size()];
  if (own != nullptr && !own->owner.empty()) descriptor.owner = own->owner;
  // Entries inherited by a directory inherit on; a file keeps none of the
  // inheritance flags.
  const BYTE inherited =
      static_cast<BYTE>(INHERITED_ACE | (directory ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0));
  for (size_t depth = names.size(); depth >= 1; --depth) {
    const bool itself = depth == names.size();
    const SecurityLine* line = lines[depth];
    std::vector<SecurityEntry> entries;
    if (line != nullptr) entries = line->entries;
    // A drive root's own entries are followed by those "root acl" gives it.
    if (depth == 1) {
      const std::vector<SecurityEntry> root = RootEntries(settings.rootAcl);
      entries.insert(entries.end(), root.begin(), root.end());
    }
    if (line != nullptr && line->nullDacl) {
      // A null DACL allows everything and leaves nothing to inherit.
      if (itself) descriptor.nullDacl = true;
      break;
    }
    for (const SecurityEntry& entry : entries) {
      if (itself) {
        descriptor.aces.push_back(AceOf(entry, OwnFlags(entry)));
      } else if (entry.inherit || entry.inheritOnly) {
        descriptor.aces.push_back(AceOf(entry, inherited));
      }
    }
    if (line != nullptr && line->isProtected) {
      if (itself) descriptor.isProtected = true;
      break;
    }
  }
  // What inherits nothing and was given nothing got, when it was made, the
  // default DACL of an administrator's token: SYSTEM and Administrators.
  if (!descriptor.nullDacl && !descriptor.isProtected && descriptor.aces.empty()) {
    descriptor.aces.push_back(Ace{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, SidOf("S-1-5-18")});
    descriptor.aces.push_back(Ace{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, Administrators()});
  }
  return descriptor;
}

// The rights a descriptor grants the token out of wanted, as Windows'
// access check walks the DACL: entries in order, an inherit-only one
// skipped, a right denied before it is allowed stays refused. The owner
// always has READ_CONTROL and WRITE_DAC.
ACCESS_MASK Granted(const Descriptor& descriptor, const std::vector<Sid>& token, ACCESS_MASK wanted) {
  if (descriptor.nullDacl) return wanted;
  ACCESS_MASK granted = 0;
  ACCESS_MASK denied = 0;
  if (InToken(token, descriptor.owner)) granted |= wanted & (READ_CONTROL | WRITE_DAC);
  for (const Ace& ace : descriptor.aces) {
    if ((ace.flags & INHERIT_ONLY_ACE) != 0 || !InToken(token, ace.sid)) continue;
    const ACCESS_MASK mask = MapFileAccess(ace.mask);
    if (ace.type == ACCESS_DENIED_ACE_TYPE) {
      denied |= mask & wanted & ~granted;
    } else {
      granted |= mask & wanted & ~denied;
    }
  }
  return granted;
}

// The security of one object: whether it has any, its descriptor, and the
// descriptor of the directory that holds it (for the rights a parent
// gives over its children).
struct Subject {
  bool secured = false;
  bool directory = false;
  bool hasParent = false;
  Descriptor own;
  Descriptor parent;
};

Subject SubjectAt(const std::string& host, bool linkItself) {
  Subject subject;
  const Machine* machine = CurrentMachine();
  if (machine == nullptr) return subject;
  const std::string real = RealHostPath(NormalHostPath(host), linkItself);
  std::string drive;
  char letter = 0;
  if (!DriveOfHost(real, &drive, &letter) || !DriveHasAcls(machine->settings, letter)) return subject;
  const std::string windows = WindowsPathOfHost(real);
  struct stat status;
  subject.secured = true;
  subject.directory = linkItself || (stat(real.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
  subject.own = DescriptorOf(machine->settings, windows, subject.directory);
  const size_t slash = windows.rfind('\\');
  if (slash != std::string::npos && slash + 1 < windows.size()) {
    subject.hasParent = true;
    subject.parent = DescriptorOf(machine->settings, windows.substr(0, std::max<size_t>(slash, 3)), true);
  }
  return subject;
}

std::vector<Sid> CurrentToken() {
  const Machine* machine = CurrentMachine();
  return machine != nullptr ? TokenSids(machine->settings) : TokenSids(Settings());
}

// Everything an access check may grant a file or directory.
const ACCESS_MASK kAllFileRights = FILE_ALL_ACCESS;

}  // namespace

namespace hostwin {

bool ParseSid(const std::string& text, std::vector<BYTE>* sid) {
  // S-1-AUTHORITY-SUB..., at most 15 sub-authorities.
  if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return false;
  const std::vector<std::string> parts = Split(text.substr(2), '-');
  if (parts.size() < 2 || parts.size() > 17 || parts[0] != "1") return false;
  std::vector<unsigned long long> values;
  for (const std::string& part : parts) {
    if (part.empty() || part.size() > 15 || part.find_first_not_of("0123456789") != std::string::npos)
      return false;
    values.push_back(strtoull(part.c_str(), nullptr, 10));
  }
  if (values[1] >= (1ULL << 48)) return false;
  sid->assign(8, 0);
  (*sid)[0] = 1;
  (*sid)[1] = static_cast<BYTE>(values.size() - 2);
  // The identifier authority is big-endian, the sub-authorities little.
  for (int i = 0; i < 6; ++i) (*sid)[2 + i] = static_cast<BYTE>(values[1] >> (8 * (5 - i)));
  for (size_t i = 2; i < values.size(); ++i) {
    if (values[i] > 0xFFFFFFFFULL) return false;
    for (int b = 0; b < 4; ++b) sid->push_back(static_cast<BYTE>(values[i] >> (8 * b)));
  }
  return true;
}

bool ParseAclsSetting(const std::string& value, Settings* settings, std::string* error) {
  settings->allWithoutAcls = false;
  settings->drivesWithoutAcls.clear();
  if (EqualNoCase(value, "yes")) return true;
  if (EqualNoCase(value, "no")) {
    settings->allWithoutAcls = true;
    return true;
  }
  for (const std::string& drive : Split(value, ',')) {
    const char letter = FoldChar(drive.empty() ? '\0' : drive[0]);
    if (drive.size() != 2 || drive[1] != ':' || letter < 'A' || letter > 'Z') {
      *error = "acls must be yes, no or drives such as D:,E:";
      return false;
    }
    settings->drivesWithoutAcls.push_back(letter);
  }
  return true;
}

bool ParseSecurityLine(const std::string& text, SecurityLine* parsed, std::string* error) {
  const size_t equals = text.find('=');
  parsed->path = Trim(text.substr(0, equals == std::string::npos ? 0 : equals));
  const std::string& path = parsed->path;
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool share = path.size() >= 5 && path[0] == '\\' && path[1] == '\\';
  if (equals == std::string::npos || (!drive && !share)) {
    *error = "expected C:\\PATH or \\\\SERVER\\SHARE\\PATH = [owner SID][; ENTRY]...";
    return false;
  }
  const std::vector<std::string> parts = Split(text.substr(equals + 1), ';');
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::vector<std::string> words = Words(parts[i]);
    if (words.empty()) {
      if (parts.size() == 1) continue;  // nothing given: the defaults
      *error = "an empty entry";
      return false;
    }
    const std::string kind = Fold(words[0]);
    if (kind == "OWNER" && i == 0 && words.size() == 2) {
      if (!ParseSid(words[1], &parsed->owner)) {
        *error = "not a SID: " + words[1];
        return false;
      }
    } else if (kind == "PROTECTED" && words.size() == 1) {
      parsed->isProtected = true;
    } else if (kind == "NULL-DACL" && words.size() == 1) {
      parsed->nullDacl = true;
    } else if ((kind == "ALLOW" || kind == "DENY") && (words.size() == 3 || words.size() == 4)) {
      SecurityEntry entry;
      entry.deny = kind == "DENY";
      if (!ParseSid(words[1], &entry.sid)) {
        *error = "not a SID: " + words[1];
        return false;
      }
      if (!ParseRights(words[2], &entry.mask)) {
        *error = "unknown rights " + words[2];
        return false;
      }
      if (words.size() == 4) {
        const std::string flags = Fold(words[3]);
        entry.inherit = flags == "INHERIT";
        entry.inheritOnly = flags == "INHERIT-ONLY";
        if (!entry.inherit && !entry.inheritOnly) {
          *error = "the flags must be inherit or inherit-only";
          return false;
        }
      }
      parsed->entries.push_back(entry);
    } else {
      *error = "expected owner SID, allow or deny SID RIGHTS [FLAGS], protected or null-dacl";
      return false;
    }
  }
  return true;
}

ACCESS_MASK MapFileAccess(ACCESS_MASK access) {
  ACCESS_MASK mapped =
      access & ~static_cast<ACCESS_MASK>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
  return mapped;
}

bool HasPersistentAcls(const std::string& host) {
  const Machine* machine = CurrentMachine();
  std::string drive;
  char letter = 0;
  return machine != nullptr && DriveOfHost(RealHostPath(NormalHostPath(host), false), &drive, &letter) &&
         DriveHasAcls(machine->settings, letter);
}

DWORD CheckAccess(const std::string& host, ACCESS_MASK access, bool linkItself) {
  // Without [security] every root acl gives Administrators, and so the
  // token, full control of everything: nothing to look up.
  const Machine* machine = CurrentMachine();
  const ACCESS_MASK specific = MapFileAccess(access) & ~static_cast<ACCESS_MASK>(MAXIMUM_ALLOWED);
  if (machine != nullptr && machine->settings.security.empty() && (specific & ~kAllFileRights) == 0) return 0;
  const Subject subject = SubjectAt(host, linkItself);
  if (!subject.secured) return 0;
  const std::vector<Sid> token = CurrentToken();
  const bool maximum = (access & MAXIMUM_ALLOWED) != 0;
  ACCESS_MASK wanted = MapFileAccess(access) & ~static_cast<ACCESS_MASK>(MAXIMUM_ALLOWED);
  // NTFS gives what the directory above grants over its children: reading
  // a child's attributes to who may list it, deleting to who may delete
  // its children, whatever the child's own DACL says.
  ACCESS_MASK fromParent = 0;
  if (subject.hasParent) {
    const ACCESS_MASK parent = Granted(subject.parent, token, FILE_LIST_DIRECTORY | FILE_DELETE_CHILD);
    if (parent & FILE_LIST_DIRECTORY) fromParent |= FILE_READ_ATTRIBUTES;
    if (parent & FILE_DELETE_CHILD) fromParent |= DELETE;
  }
  const ACCESS_MASK needed = wanted & ~fromParent;
  if (Granted(subject.own, token, needed) != needed) return ERROR_ACCESS_DENIED;
  // MAXIMUM_ALLOWED alone is refused only when nothing at all is granted.
  if (maximum && wanted == 0 && fromParent == 0 && Granted(subject.own, token, kAllFileRights) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  return 0;
}

DWORD CheckDelete(const std::string& host) { return CheckAccess(host, DELETE, false); }

DWORD CheckCreate(const std::string& parentHost, bool directory) {
  return CheckAccess(parentHost, directory ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE, false);
}

}  // namespace hostwin

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

struct TokenObject : Object {
  explicit TokenObject(DWORD a) : Object(Kind::kToken), access(a) {}
  DWORD access;
};

void Append(std::vector<BYTE>* out, const void* data, size_t size) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

// An ACL as Windows lays it out: the header, then each ACE (header, mask,
// SID), every size a multiple of four. Its size is a WORD: an ACL over
// 64 KB, which Windows cannot store, is none (empty), never one whose size
// wrapped.
std::vector<BYTE> AclBytes(const std::vector<Ace>& aces) {
  std::vector<BYTE> out(sizeof(ACL), 0);
  size_t size = sizeof(ACL);
  for (const Ace& ace : aces) size += sizeof(ACE_HEADER) + sizeof(DWORD) + ace.sid.size();
  if (size > 0xFFFF) return std::vector<BYTE>();
  for (const Ace& ace : aces) {
    ACE_HEADER header = {ace.type, ace.flags,
                         static_cast<WORD>(sizeof(ACE_HEADER) + sizeof(DWORD) + ace.sid.size())};
    Append(&out, &header, sizeof(header));
    Append(&out, &ace.mask, sizeof(ace.mask));
    Append(&out, ace.sid.data(), ace.sid.size());
  }
  ACL acl = {ACL_REVISION, 0, static_cast<WORD>(out.size()), static_cast<WORD>(aces.size()), 0};
  memcpy(out.data(), &acl, sizeof(acl));
  return out;
}

}  // namespace

extern "C" HANDLE WINAPI GetCurrentProcess(void) {
  const ApiCall call("GetCurrentProcess");
  return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

extern "C" BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  const ApiCall call("OpenProcessToken");
  if (call.Fails()) return FALSE;
  const Machine* machine = CurrentMachine();
  // Windows 95 has no tokens.
  if (machine == nullptr || !machine->settings.nt) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  // The program's own process only, as GetCurrentProcess names it.
  if (process != GetCurrentProcess() || token == nullptr) {
    SetLastError(token == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *token = AddObject(new TokenObject(access), "token");
  return TRUE;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info,
                                           DWORD size, PDWORD returned) {
  const ApiCall call("GetTokenInformation", SubjectOf(token));
  if (call.Fails()) return FALSE;
  const TokenObject* object = static_cast<const TokenObject*>(LookUp(token, Object::Kind::kToken));
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Querying needs TOKEN_QUERY; GENERIC_READ stands for TOKEN_READ.
  if ((object->access & (TOKEN_QUERY | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED)) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (kind != TokenUser || returned == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Machine* machine = CurrentMachine();
  const Sid user = UserSid(machine != nullptr ? machine->settings : Settings());
  const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + user.size());
  *returned = needed;
  if (info == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  BYTE* bytes = static_cast<BYTE*>(info);
  TOKEN_USER result = {};
  result.User.Sid = bytes + sizeof(TOKEN_USER);
  memcpy(bytes, &result, sizeof(result));
  memcpy(bytes + sizeof(TOKEN_USER), user.data(), user.size());
  return TRUE;
}

// A descriptor as GetSecurityInfo hands it out: one self-relative block,
// the parts asked for pointing into it.
static DWORD Relative(const Descriptor& found, SECURITY_INFORMATION wanted, PSID* owner, PSID* group,
                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  // Self-relative, as NT lays it out: the header, the DACL, the owner, the
  // group (the owner again: the layer keeps no primary group).
  std::vector<BYTE> bytes(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  SECURITY_DESCRIPTOR_RELATIVE header = {};
  header.Revision = SECURITY_DESCRIPTOR_REVISION;
  header.Control = SE_SELF_RELATIVE;
  if (wanted & DACL_SECURITY_INFORMATION) {
    header.Control |= SE_DACL_PRESENT;
    if (found.isProtected) header.Control |= SE_DACL_PROTECTED;
    const bool anyInherited = std::any_of(found.aces.begin(), found.aces.end(),
                                          [](const Ace& ace) { return (ace.flags & INHERITED_ACE) != 0; });
    if (anyInherited) header.Control |= SE_DACL_AUTO_INHERITED;
    if (!found.nullDacl) {
      const std::vector<BYTE> acl = AclBytes(found.aces);
      if (acl.empty()) return ERROR_INVALID_ACL;
      header.Dacl = static_cast<DWORD>(bytes.size());
      bytes.insert(bytes.end(), acl.begin(), acl.end());
    }
  }
  if (wanted & OWNER_SECURITY_INFORMATION) {
    header.Owner = static_cast<DWORD>(bytes.size());
    bytes.insert(bytes.end(), found.owner.begin(), found.owner.end());
  }
  if (wanted & GROUP_SECURITY_INFORMATION) {
    header.Group = static_cast<DWORD>(bytes.size());
    bytes.insert(bytes.end(), found.owner.begin(), found.owner.end());
  }
  memcpy(bytes.data(), &header, sizeof(header));
  // LocalFree releases it, as Windows has it.
  BYTE* block = static_cast<BYTE*>(malloc(bytes.size()));
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  memcpy(block, bytes.data(), bytes.size());
  if (owner != nullptr) *owner = header.Owner != 0 ? block + header.Owner : nullptr;
  if (group != nullptr) *group = header.Group != 0 ? block + header.Group : nullptr;
  if (dacl != nullptr) *dacl = header.Dacl != 0 ? reinterpret_cast<PACL>(block + header.Dacl) : nullptr;
  if (sacl != nullptr) *sacl = nullptr;
  *descriptor = block;
  return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION wanted,
                                        PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                        PSECURITY_DESCRIPTOR* descriptor) {
  const ApiCall call("GetSecurityInfo", SubjectOf(handle));
  // The call returns its error rather than setting the last one.
  if (call.Fails()) return call.Error();
  const Machine* machine = CurrentMachine();
  if (machine == nullptr || !machine->settings.nt) return ERROR_CALL_NOT_IMPLEMENTED;
  const FileObject* file = FileOf(handle);
  // INVALID_HANDLE_VALUE is the process itself, whose descriptor NT gives
  // whatever kind of object the caller names.
  const bool process = handle == INVALID_HANDLE_VALUE;
  if (type != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  if (file == nullptr && !process) return ERROR_INVALID_HANDLE;
  if (descriptor == nullptr ||
      (wanted & ~static_cast<DWORD>(OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                    DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION)) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  // Reading the SACL needs ACCESS_SYSTEM_SECURITY, which needs a privilege
  // the program never enables.
  if (wanted & SACL_SECURITY_INFORMATION) return ERROR_PRIVILEGE_NOT_HELD;
  Descriptor found;
  if (process) {
    // An elevated administrator's process: owned by Administrators, all of
    // it SYSTEM's and Administrators'.
    found.owner = Administrators();
    found.aces.push_back(Ace{ACCESS_ALLOWED_ACE_TYPE, 0, 0x1FFFFF, SidOf("S-1-5-18")});
    found.aces.push_back(Ace{ACCESS_ALLOWED_ACE_TYPE, 0, 0x1FFFFF, Administrators()});
    return Relative(found, wanted, owner, group, dacl, sacl, descriptor);
  }
  // The owner, group and DACL are read through a handle with READ_CONTROL.
  const std::string host = HostPathOfHandle(*file);
  const bool readControl =
      (MapFileAccess(file->access) & READ_CONTROL) != 0 ||
      ((file->access & MAXIMUM_ALLOWED) != 0 && CheckAccess(host, READ_CONTROL, file->link) == 0);
  if (!readControl) return ERROR_ACCESS_DENIED;
  if (HasPersistentAcls(file->link ? host.substr(0, host.rfind('/')) : host)) {
    const std::string real = RealHostPath(NormalHostPath(host), file->link);
    found = DescriptorOf(machine->settings, WindowsPathOfHost(real), file->directory);
  } else {
    // A file system without security is answered by NT's I/O manager with
    // a descriptor of its own: Everyone the owner and group, a null DACL.
    found.owner = Everyone();
    found.nullDacl = true;
  }
  return Relative(found, wanted, owner, group, dacl, sacl, descriptor);
}

// Only Administrators has a name here, "BUILTIN\\Administrators" as
// English Windows gives it (Windows of other languages gives its own: German
// "VORDEFINIERT\\Administratoren"); any other SID is none mapped. This
// machine only.
extern "C" BOOL WINAPI LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameLength, LPWSTR domain,
                                         LPDWORD domainLength, PSID_NAME_USE use) {
  const ApiCall call("LookupAccountSidW");
  if (call.Fails()) return FALSE;
  const Machine* machine = CurrentMachine();
  if (machine == nullptr || !machine->settings.nt) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (sid == nullptr || nameLength == nullptr || domainLength == nullptr || use == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const BYTE* const bytes = static_cast<const BYTE*>(sid);
  const Sid& administrators = Administrators();
  if ((system != nullptr && system[0] != 0) || bytes[0] != 1 || 8u + 4u * bytes[1] != administrators.size() ||
      memcmp(bytes, administrators.data(), administrators.size()) != 0) {
    return Fail(ERROR_NONE_MAPPED);
  }
  const char kName[] = "Administrators";
  const char kDomain[] = "BUILTIN";
  // Too small: both sizes the call needs, terminators included.
  if (name == nullptr || domain == nullptr || *nameLength < sizeof(kName) || *domainLength < sizeof(kDomain)) {
    *nameLength = sizeof(kName);
    *domainLength = sizeof(kDomain);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  for (size_t i = 0; i < sizeof(kName); ++i) name[i] = static_cast<WCHAR>(kName[i]);
  for (size_t i = 0; i < sizeof(kDomain); ++i) domain[i] = static_cast<WCHAR>(kDomain[i]);
  *nameLength = sizeof(kName) - 1;
  *domainLength = sizeof(kDomain) - 1;
  *use = SidTypeAlias;
  return TRUE;
}

extern "C" NET_API_STATUS NET_API_FUNCTION NetLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level,
                                                                   LPBYTE* buffer, DWORD, LPDWORD read,
                                                                   LPDWORD total, PDWORD_PTR resume) {
  const ApiCall call("NetLocalGroupGetMembers");
  if (call.Fails()) return call.Error();
  const Machine* machine = CurrentMachine();
  if (machine == nullptr || !machine->settings.nt) return ERROR_CALL_NOT_IMPLEMENTED;
  if (buffer == nullptr || read == nullptr || total == nullptr || group == nullptr)
    return ERROR_INVALID_PARAMETER;
  // This machine only.
  if (server != nullptr && server[0] != 0) return ERROR_BAD_NETPATH;
  if (level != 0) return ERROR_INVALID_LEVEL;
  size_t length = 0;
  while (group[length] != 0) ++length;
  if (FoldText(DecodeUtf16(group, length)) != FoldText(DecodeUtf8("Administrators")))
    return ERROR_NO_SUCH_ALIAS;
  std::vector<Sid> members = {UserSid(machine->settings)};
  for (const Sid& member : machine->settings.administrators) {
    if (!InToken(members, member)) members.push_back(member);
  }
  // One block: the array of entries, then the SIDs they point to.
  size_t size = members.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
  for (const Sid& member : members) size += member.size();
  BYTE* block = static_cast<BYTE*>(malloc(size));
  if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  BYTE* sids = block + members.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
  for (size_t i = 0; i < members.size(); ++i) {
    LOCALGROUP_MEMBERS_INFO_0 entry = {sids};
    memcpy(block + i * sizeof(entry), &entry, sizeof(entry));
    memcpy(sids, members[i].data(), members[i].size());
    sids += members[i].size();
  }
  *buffer = block;
  *read = static_cast<DWORD>(members.size());
  *total = static_cast<DWORD>(members.size());
  if (resume != nullptr) *resume = 0;
  return NERR_Success;
}

extern "C" NET_API_STATUS NET_API_FUNCTION NetApiBufferFree(LPVOID buffer) {
  const ApiCall call("NetApiBufferFree");
  if (call.Fails()) {
    // Kept until the process ends, as a failing LocalFree keeps its block.
    KeepMemory(buffer);
    return call.Error();
  }
  free(buffer);
  return NERR_Success;
}
