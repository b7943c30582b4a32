#include "files/trust.h"

#include "common/bytes.h"
#include "common/later_calls.h"
#include "common/places.h"
#include "common/strings.h"

namespace {

typedef DWORD(WINAPI* SecurityInfoCall)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                        PACL*, PSECURITY_DESCRIPTOR*);
typedef BOOL(WINAPI* OpenTokenCall)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* TokenInformationCall)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef NET_API_STATUS(NET_API_FUNCTION* GroupMembersCall)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD,
                                                           LPDWORD, PDWORD_PTR);
typedef NET_API_STATUS(NET_API_FUNCTION* BufferFreeCall)(LPVOID);

// The rights an entry must not give anyone else, by CodeObject. On a
// directory FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are the bits of
// FILE_WRITE_DATA and FILE_APPEND_DATA.
const DWORD kChangingRights[] = {
    // The file: its data, its attributes, its name, its descriptor.
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
        WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL,
    // P: the same, and what is put in it or taken out.
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD |
        DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL,
    // A directory above P, the drive's root too: renamed or removed with
    // everything below, or the directory below it removed. GENERIC_WRITE
    // gives neither: FILE_GENERIC_WRITE holds no DELETE, WRITE_DAC or
    // FILE_DELETE_CHILD.
    DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_ALL,
};

// Accounts of NT AUTHORITY (S-1-5-...) that only administrators can act as.
// Before Vista, Power Users could change Program Files and the system
// directory anyway.
struct WellKnownAccount {
  BYTE count;
  DWORD subAuthorities[6];
  bool beforeVistaOnly;
};

const WellKnownAccount kTrustedAccounts[] = {
    {1, {18}, false},                                                                  // SYSTEM
    {2, {32, 544}, false},                                                             // Administrators
    {6, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}, false},  // TrustedInstaller
    {2, {32, 547}, true},                                                              // Power Users
};

const BYTE kNtAuthority[] = {0, 0, 0, 0, 0, 5};
// S-1-5-32-544, as a SID's bytes.
const BYTE kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const unsigned kMaxSubAuthorities = 15;

// The bytes of a SID, or 0 where it is none.
size_t SidLength(const BYTE* sid) {
  if (ByteAt(sid, 0) != 1 || ByteAt(sid, 1) > kMaxSubAuthorities) return 0;
  return 8 + 4 * ByteAt(sid, 1);
}

bool SameSid(const BYTE* left, const void* right) {
  const BYTE* const other = static_cast<const BYTE*>(right);
  const size_t length = SidLength(left);
  if (other == nullptr || length != SidLength(other)) return false;
  for (size_t i = 0; i < length; ++i) {
    if (left[i] != other[i]) return false;
  }
  return true;
}

bool IsWellKnown(const BYTE* sid, const WellKnownAccount& account) {
  if (ByteAt(sid, 1) != account.count) return false;
  for (size_t i = 0; i < sizeof(kNtAuthority); ++i) {
    if (ByteAt(sid, 2 + i) != kNtAuthority[i]) return false;
  }
  for (unsigned i = 0; i < account.count; ++i) {
    if (LongAt(sid, 8 + 4 * i) != account.subAuthorities[i]) return false;
  }
  return true;
}

// sid is a whole SID (SidLength not 0).
bool IsTrusted(const BYTE* sid, const Administrators& administrators) {
  for (const WellKnownAccount& account : kTrustedAccounts) {
    if ((!account.beforeVistaOnly || administrators.powerUsers) && IsWellKnown(sid, account)) return true;
  }
  if (SameSid(sid, administrators.user)) return true;
  for (DWORD i = 0; i < administrators.memberCount; ++i) {
    if (SameSid(sid, administrators.members[i].lgrmi0_sid)) return true;
  }
  return false;
}

// The entry types that only refuse: plain, object and callback denies.
bool OnlyRefuses(unsigned type) { return type == 1 || type == 6 || type == 10 || type == 12; }

// No handle reads as nothing: to GetSecurityInfo INVALID_HANDLE_VALUE is
// this very process.
Trust TrustOfObject(HANDLE object, CodeObject kind, SecurityInfoCall securityInfo,
                    const Administrators& administrators) {
  if (object == nullptr || object == INVALID_HANDLE_VALUE) return Trust::kUnknown;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (securityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                   nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return Trust::kUnknown;
  }
  const Trust trust = TrustOfDescriptor(owner, dacl, kind, administrators);
  LocalFree(descriptor);
  return trust;
}

typedef BOOL(WINAPI* AccountNameCall)(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);

// The members of Administrators, from NETAPI32 in the system directory
// (never by its bare name, which this program's directory or the current
// one could answer). Windows names the group in its own language
// ("Administratoren"), so its name is asked for by its SID; where that
// fails, only the accounts the check knows anyway count.
HMODULE LoadMembers(AccountNameCall accountName, Administrators* administrators, BufferFreeCall* bufferFree,
                    LPBYTE* members) {
  char path[260];
  WCHAR group[257];
  WCHAR domain[257];
  DWORD groupLength = CountOf(group);
  DWORD domainLength = CountOf(domain);
  SID_NAME_USE use;
  *members = nullptr;
  *bufferFree = nullptr;
  // LookupAccountSidW only reads the SID.
  if (!accountName(nullptr, const_cast<BYTE*>(kAdministratorsSid), group, &groupLength, domain, &domainLength,
                   &use)) {
    return nullptr;
  }
  const HMODULE netapi = SystemDirectoryWith(path, CountOf(path), "\\NETAPI32.DLL")
                             ? LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                             : nullptr;
  if (netapi == nullptr) return nullptr;
  const GroupMembersCall groupMembers =
      AsCall<GroupMembersCall>(GetProcAddress(netapi, "NetLocalGroupGetMembers"));
  *bufferFree = AsCall<BufferFreeCall>(GetProcAddress(netapi, "NetApiBufferFree"));
  DWORD read = 0;
  DWORD total = 0;
  if (groupMembers != nullptr && *bufferFree != nullptr &&
      groupMembers(nullptr, group, 0, members, MAX_PREFERRED_LENGTH, &read, &total, nullptr) ==
          NERR_Success &&
      *members != nullptr) {
    administrators->members = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_0*>(*members);
    administrators->memberCount = read;
  }
  return netapi;
}

}  // namespace

Trust TrustOfDescriptor(PSID owner, const ACL* dacl, CodeObject object,
                        const Administrators& administrators) {
  // The owner may always rewrite the DACL.
  const BYTE* const ownerSid = static_cast<const BYTE*>(owner);
  if (ownerSid == nullptr || SidLength(ownerSid) == 0) return Trust::kUnknown;
  if (!IsTrusted(ownerSid, administrators)) return Trust::kOpen;
  // A null DACL lets everyone do anything; NT gives one for a volume that
  // keeps no security (FAT).
  if (dacl == nullptr) return Trust::kOpen;
  const BYTE* const acl = reinterpret_cast<const BYTE*>(dacl);
  const DWORD changing = kChangingRights[static_cast<int>(object)];
  const size_t aclSize = WordAt(acl, 2);
  bool open = false;
  bool unknown = false;
  size_t at = sizeof(ACL);
  for (unsigned left = WordAt(acl, 4); left > 0; --left) {
    if (at + sizeof(ACE_HEADER) > aclSize) return Trust::kUnknown;
    const size_t aceSize = WordAt(acl, at + 2);
    if (aceSize < sizeof(ACE_HEADER) || aceSize % 4 != 0 || aceSize > aclSize - at) return Trust::kUnknown;
    const unsigned type = ByteAt(acl, at);
    // An entry only passed on to what is made inside applies to nothing
    // that is there now; denies make nothing safe.
    if ((ByteAt(acl, at + 1) & INHERIT_ONLY_ACE) == 0 && !OnlyRefuses(type)) {
      if (type == ACCESS_ALLOWED_ACE_TYPE) {
        // The type, flags and size, the mask, then the SID.
        const BYTE* const sid = acl + at + 8;
        if (aceSize < 16 || SidLength(sid) == 0 || SidLength(sid) > aceSize - 8) return Trust::kUnknown;
        if ((LongAt(acl, at + 4) & changing) != 0 && !IsTrusted(sid, administrators)) open = true;
      } else {
        // Object and callback entries grant in ways not read here.
        unknown = true;
      }
    }
    at += aceSize;
  }
  return open ? Trust::kOpen : unknown ? Trust::kUnknown : Trust::kTrusted;
}

bool MayRunCodeFrom(HANDLE root, const HeldDirectories& held, const HANDLE* files, int fileCount) {
  const int count = held.count;
  // Before Vista, Power Users count as administrators. GetVersion cannot
  // fail; its low byte is the major version.
  const bool beforeVista = (GetVersion() & 0xFF) < 6;
  FARPROC found[4];
  if (!FindSystemCalls("ADVAPI32.DLL",
                       "GetSecurityInfo\0OpenProcessToken\0GetTokenInformation\0LookupAccountSidW\0", found)) {
    return false;
  }
  const SecurityInfoCall securityInfo = AsCall<SecurityInfoCall>(found[0]);
  // The token's own user: who elevated may be an administrator only
  // through a group of a domain, which the members list names instead.
  // GetCurrentProcess is the constant (HANDLE)-1 Windows documents.
  HANDLE token = nullptr;
  const HANDLE self = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
  if (!AsCall<OpenTokenCall>(found[1])(self, TOKEN_QUERY, &token)) return false;
  // A TOKEN_USER and the SID it points to, the largest NT has.
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + 68];
  } tokenUser;
  DWORD needed = 0;
  const bool haveUser = AsCall<TokenInformationCall>(found[2])(token, TokenUser, &tokenUser,
                                                               sizeof(tokenUser), &needed) != FALSE;
  CloseHandle(token);
  if (!haveUser) return false;

  Administrators administrators = {};
  administrators.user = tokenUser.user.User.Sid;
  administrators.powerUsers = beforeVista;
  BufferFreeCall bufferFree;
  LPBYTE members;
  const HMODULE netapi = LoadMembers(AsCall<AccountNameCall>(found[3]), &administrators, &bufferFree, &members);

  // The files, P, then each directory above it up to the drive's root. A
  // link on the way could be turned elsewhere by whoever may write it, as
  // P could be filled.
  bool may = count > 0;
  for (int i = 0; may && i < fileCount; ++i) {
    may = files[i] == INVALID_HANDLE_VALUE ||
          TrustOfObject(files[i], CodeObject::kFile, securityInfo, administrators) == Trust::kTrusted;
  }
  for (int i = count - 1; may && i >= -1; --i) {
    const CodeObject kind = i == count - 1 || (i >= 0 && held.links[i]) ? CodeObject::kProgramDirectory
                                                                          : CodeObject::kDirectoryAbove;
    may = TrustOfObject(i >= 0 ? held.handles[i] : root, kind, securityInfo, administrators) == Trust::kTrusted;
  }
  // Where others can change Windows' own system directory as well, they
  // can already replace what administrators run every day: there is no
  // boundary left for this code to cross. Only a directory seen open
  // counts; one that cannot be read keeps the code from running.
  if (!may) {
    char systemDir[260];
    const HANDLE system =
        SystemDirectoryWith(systemDir, CountOf(systemDir), "")
            ? CreateFileA(systemDir, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
            : INVALID_HANDLE_VALUE;
    may = TrustOfObject(system, CodeObject::kProgramDirectory, securityInfo, administrators) == Trust::kOpen;
    if (system != INVALID_HANDLE_VALUE) CloseHandle(system);
  }

  if (members != nullptr) bufferFree(members);
  if (netapi != nullptr) FreeLibrary(netapi);
  return may;
}
