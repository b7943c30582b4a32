// Security descriptors of the emulated NT machine: what [security] and
// "root acl" give each file and directory, read back as a Windows program
// reads them, and the opens the access check refuses. Host only.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "win32/hostapi.h"

namespace {

const char kUser[] = "S-1-5-21-1004336348-1177238915-682003330-500";

typedef DWORD(WINAPI* GetSecurityInfoCall)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                           PACL*, PSECURITY_DESCRIPTOR*);

// A SID in its text form, read from its bytes.
std::string SidText(const BYTE* sid) {
  unsigned long long authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (int i = 0; i < sid[1]; ++i) {
    DWORD sub = 0;
    memcpy(&sub, sid + 8 + 4 * i, sizeof(sub));
    text += "-" + std::to_string(sub);
  }
  return text;
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(value));
  return text;
}

std::string FlagsText(BYTE flags) {
  std::string text;
  const struct {
    BYTE bit;
    const char* name;
  } names[] = {{OBJECT_INHERIT_ACE, "OI"},
               {CONTAINER_INHERIT_ACE, "CI"},
               {INHERIT_ONLY_ACE, "IO"},
               {INHERITED_ACE, "ID"}};
  for (const auto& name : names) {
    if (flags & name.bit) text += std::string(text.empty() ? "" : "|") + name.name;
  }
  return text.empty() ? "-" : text;
}

// What GetSecurityInfo gave, walked as a Windows program walks it.
struct ReadBack {
  DWORD error = 0xDEADBEEF;
  std::string owner;
  WORD control = 0;
  bool daclNull = false;
  std::vector<std::string> aces;  // "allow SID MASK FLAGS"
};

ReadBack ReadSecurity(HANDLE handle) {
  ReadBack result;
  // Looked up at run time, as the program must: Windows 95 lacks the call.
  HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
  EXPECT_NE(advapi, nullptr);
  const GetSecurityInfoCall call = reinterpret_cast<GetSecurityInfoCall>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "GetSecurityInfo")));
  EXPECT_NE(call, nullptr);
  if (call == nullptr) return result;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  result.error = call(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor);
  if (result.error != ERROR_SUCCESS) {
    EXPECT_EQ(descriptor, nullptr);
    return result;
  }
  const BYTE* base = static_cast<const BYTE*>(descriptor);
  SECURITY_DESCRIPTOR_RELATIVE header;
  memcpy(&header, base, sizeof(header));
  EXPECT_EQ(header.Revision, SECURITY_DESCRIPTOR_REVISION);
  EXPECT_NE(header.Control & SE_SELF_RELATIVE, 0);
  EXPECT_NE(header.Control & SE_DACL_PRESENT, 0);
  result.control = header.Control;
  // The pointers handed back lie inside the block, where its offsets say.
  EXPECT_EQ(owner, header.Owner != 0 ? base + header.Owner : nullptr);
  EXPECT_EQ(static_cast<const void*>(dacl), header.Dacl != 0 ? base + header.Dacl : nullptr);
  if (owner != nullptr) result.owner = SidText(static_cast<const BYTE*>(owner));
  result.daclNull = dacl == nullptr;
  if (dacl != nullptr) {
    EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
    EXPECT_EQ(dacl->AclSize % 4, 0);
    const BYTE* at = reinterpret_cast<const BYTE*>(dacl) + sizeof(ACL);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
      ACE_HEADER ace;
      memcpy(&ace, at, sizeof(ace));
      ACCESS_ALLOWED_ACE allowed;
      memcpy(&allowed, at, sizeof(allowed));
      const BYTE* sid = at + offsetof(ACCESS_ALLOWED_ACE, SidStart);
      EXPECT_EQ(ace.AceSize, offsetof(ACCESS_ALLOWED_ACE, SidStart) + 8 + 4 * sid[1]);
      EXPECT_TRUE(ace.AceType == ACCESS_ALLOWED_ACE_TYPE || ace.AceType == ACCESS_DENIED_ACE_TYPE);
      result.aces.push_back(std::string(ace.AceType == ACCESS_DENIED_ACE_TYPE ? "deny " : "allow ") +
                            SidText(sid) + " " + Hex(allowed.Mask) + " " + FlagsText(ace.AceFlags));
      at += ace.AceSize;
    }
    // The entries fill the list exactly.
    EXPECT_EQ(at, reinterpret_cast<const BYTE*>(dacl) + dacl->AclSize);
  }
  EXPECT_EQ(LocalFree(descriptor), nullptr);
  return result;
}

HANDLE OpenForSecurity(const std::string& path, DWORD access = READ_CONTROL) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

ReadBack SecurityOf(const std::string& path) {
  HANDLE handle = OpenForSecurity(path);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path << ": " << GetLastError();
  if (handle == INVALID_HANDLE_VALUE) return ReadBack();
  const ReadBack result = ReadSecurity(handle);
  CloseHandle(handle);
  return result;
}

// The error an open gives, 0 when it succeeds.
DWORD OpenError(const std::string& path, DWORD access) {
  SetLastError(0xDEADBEEF);
  HANDLE handle = OpenForSecurity(path, access);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

const std::string kFull = " 0x1f01ff ";
const std::string kModify = " 0x1301bf ";
const std::string kRead = " 0x120089 ";

class Security : public SandboxTest {
 protected:
  // The tree the tests look at, made on a machine without [security],
  // then a machine with these settings.
  void Machine(const std::string& settings) {
    ReopenMachine("");
    MakeDirectories("C:\\APP\\SUB");
    WriteBytes("C:\\APP\\SUB\\FILE.TXT", "x");
    WriteBytes("C:\\APP\\TOP.TXT", "x");
    ReopenMachine(settings);
  }
};

// The three drive roots "root acl" makes, on the root itself, on a
// directory below it (which inherits on) and on a file (which keeps no
// inheritance flags).
TEST_F(Security, RootDefaults) {
  const struct {
    const char* setting;
    std::vector<std::string> root;
    std::vector<std::string> directory;
    std::vector<std::string> file;
  } cases[] = {
      {"root acl=admin",
       {"allow S-1-5-18" + kFull + "OI|CI", "allow S-1-5-32-544" + kFull + "OI|CI",
        "allow S-1-5-32-545" + kRead + "OI|CI"},
       {"allow S-1-5-18" + kFull + "OI|CI|ID", "allow S-1-5-32-544" + kFull + "OI|CI|ID",
        "allow S-1-5-32-545" + kRead + "OI|CI|ID"},
       {"allow S-1-5-18" + kFull + "ID", "allow S-1-5-32-544" + kFull + "ID",
        "allow S-1-5-32-545" + kRead + "ID"}},
      {"root acl=vista",
       {"allow S-1-5-18" + kFull + "OI|CI", "allow S-1-5-32-544" + kFull + "OI|CI",
        "allow S-1-5-32-545" + kRead + "OI|CI", "allow S-1-5-11 0x4 -",
        "allow S-1-5-11" + kModify + "OI|CI|IO"},
       {"allow S-1-5-18" + kFull + "OI|CI|ID", "allow S-1-5-32-544" + kFull + "OI|CI|ID",
        "allow S-1-5-32-545" + kRead + "OI|CI|ID", "allow S-1-5-11" + kModify + "OI|CI|ID"},
       {"allow S-1-5-18" + kFull + "ID", "allow S-1-5-32-544" + kFull + "ID",
        "allow S-1-5-32-545" + kRead + "ID", "allow S-1-5-11" + kModify + "ID"}},
      {"root acl=nt4",
       {"allow S-1-5-18" + kFull + "OI|CI", "allow S-1-5-32-544" + kFull + "OI|CI",
        "allow S-1-1-0" + kModify + "OI|CI"},
       {"allow S-1-5-18" + kFull + "OI|CI|ID", "allow S-1-5-32-544" + kFull + "OI|CI|ID",
        "allow S-1-1-0" + kModify + "OI|CI|ID"},
       {"allow S-1-5-18" + kFull + "ID", "allow S-1-5-32-544" + kFull + "ID",
        "allow S-1-1-0" + kModify + "ID"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.setting);
    Machine(test.setting);
    const ReadBack root = SecurityOf("C:\\");
    EXPECT_EQ(root.error, ERROR_SUCCESS);
    EXPECT_EQ(root.owner, "S-1-5-32-544");
    EXPECT_EQ(root.aces, test.root);
    EXPECT_EQ(root.control & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED), 0);
    const ReadBack directory = SecurityOf("C:\\APP\\SUB");
    EXPECT_EQ(directory.aces, test.directory);
    EXPECT_NE(directory.control & SE_DACL_AUTO_INHERITED, 0);
    EXPECT_EQ(SecurityOf("c:\\app\\sub\\file.txt").aces, test.file);
  }
}

// An object's own entries come first, then the inheritable entries of each
// directory above, nearest first; inherit-only entries do not apply where
// they are set; the owner is the line's or Administrators.
TEST_F(Security, InheritanceOrderAndFlags) {
  Machine(
      "[security]\n"
      "C:\\APP = owner S-1-5-21-1-2-3-1001; allow S-1-5-11 modify inherit; allow S-1-5-4 list\n"
      "c:\\app\\sub = deny S-1-1-0 0x116+delete inherit-only; allow S-1-5-32-545 0x20 inherit\n"
      "C:\\APP\\SUB\\FILE.TXT = allow S-1-5-21-1-2-3-1001 read\n");
  const ReadBack app = SecurityOf("C:\\APP");
  EXPECT_EQ(app.owner, "S-1-5-21-1-2-3-1001");
  EXPECT_EQ(app.aces, (std::vector<std::string>{"allow S-1-5-11" + kModify + "OI|CI", "allow S-1-5-4 0x1 -",
                                                "allow S-1-5-18" + kFull + "OI|CI|ID",
                                                "allow S-1-5-32-544" + kFull + "OI|CI|ID",
                                                "allow S-1-5-32-545" + kRead + "OI|CI|ID"}));
  const ReadBack sub = SecurityOf("C:\\APP\\SUB");
  EXPECT_EQ(sub.owner, "S-1-5-32-544");
  EXPECT_EQ(sub.aces,
            (std::vector<std::string>{
                "deny S-1-1-0 0x10116 OI|CI|IO", "allow S-1-5-32-545 0x20 OI|CI",
                "allow S-1-5-11" + kModify + "OI|CI|ID", "allow S-1-5-18" + kFull + "OI|CI|ID",
                "allow S-1-5-32-544" + kFull + "OI|CI|ID", "allow S-1-5-32-545" + kRead + "OI|CI|ID"}));
  EXPECT_EQ(SecurityOf("C:\\APP\\SUB\\FILE.TXT").aces,
            (std::vector<std::string>{"allow S-1-5-21-1-2-3-1001" + kRead + "-", "deny S-1-1-0 0x10116 ID",
                                      "allow S-1-5-32-545 0x20 ID", "allow S-1-5-11" + kModify + "ID",
                                      "allow S-1-5-18" + kFull + "ID", "allow S-1-5-32-544" + kFull + "ID",
                                      "allow S-1-5-32-545" + kRead + "ID"}));
  // The inherited deny comes before every allow: writing FILE.TXT is
  // refused although Administrators have full control further down. SUB
  // itself, where the entry is inherit-only, may be written.
  EXPECT_EQ(OpenError("C:\\APP\\SUB\\FILE.TXT", GENERIC_WRITE), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenError("C:\\APP\\SUB\\FILE.TXT", GENERIC_READ), 0u);
  EXPECT_EQ(OpenError("C:\\APP\\SUB", GENERIC_WRITE), 0u);
}

// A path through a substituted drive or a share is where it really is: its
// security is the directory's, whichever spelling the line or the open uses.
TEST_F(Security, PathsResolveToWhatTheyReallyAre) {
  Machine(
      "[substitutes]\n"
      "Z:=C:\\APP\n"
      "[shares]\n"
      "\\\\LOCALHOST\\C$=C:\\\n"
      "[security]\n"
      "Z:\\SUB = deny S-1-5-32-544 0x1\n"
      "\\\\localhost\\c$\\app\\top.txt = deny S-1-5-32-544 0x1\n");
  EXPECT_EQ(OpenError("Z:\\TOP.TXT", GENERIC_READ), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenError("C:\\APP\\TOP.TXT", GENERIC_WRITE), 0u);
  for (const char* path : {"C:\\APP\\SUB", "Z:\\SUB", "\\\\LOCALHOST\\C$\\APP\\SUB"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(OpenError(path, FILE_LIST_DIRECTORY), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const std::vector<std::string> aces = SecurityOf(path).aces;
    ASSERT_FALSE(aces.empty());
    EXPECT_EQ(aces.front(), "deny S-1-5-32-544 0x1 -");
  }
  WIN32_FIND_DATAA found;
  SetLastError(0);
  EXPECT_EQ(FindFirstFileA("C:\\APP\\SUB\\*", &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Every open of the layer is checked: CreateFileA and NtCreateFile refuse
// what a deny entry names (error 5), and what no entry allows; the owner
// keeps READ_CONTROL and WRITE_DAC; a null DACL allows everything;
// MAXIMUM_ALLOWED fails only when nothing at all is granted.
TEST_F(Security, OpensRefusedByTheDacl) {
  WriteBytes("C:\\APP\\MINE.TXT", "x");
  WriteBytes("C:\\APP\\SYSTEMS.TXT", "x");
  WriteBytes("C:\\APP\\OPEN.TXT", "x");
  WriteBytes("C:\\APP\\NOBODY.TXT", "x");
  Machine(std::string("[security]\n") + "C:\\APP\\TOP.TXT = deny " + kUser +
          " 0x1\n"
          "C:\\APP\\MINE.TXT = owner " +
          kUser +
          "; protected; allow S-1-1-0 0x100000\n"
          "C:\\APP\\SYSTEMS.TXT = owner S-1-5-18; protected; allow S-1-5-32-545 read\n"
          "C:\\APP\\OPEN.TXT = null-dacl\n"
          "C:\\APP\\NOBODY.TXT = owner S-1-5-18; protected\n");
  const DWORD denied = ERROR_ACCESS_DENIED;
  const struct {
    const char* path;
    DWORD access;
    DWORD error;
  } cases[] = {
      {"C:\\APP\\TOP.TXT", GENERIC_READ, denied},  // the user's own SID denied reading data
      {"C:\\APP\\TOP.TXT", FILE_READ_DATA, denied},
      {"C:\\APP\\TOP.TXT", GENERIC_WRITE, 0},
      {"C:\\APP\\TOP.TXT", 0, 0},
      // The owner's rights, where the DACL allows no more than SYNCHRONIZE
      // (which CreateFileA asks for).
      {"C:\\APP\\MINE.TXT", READ_CONTROL | WRITE_DAC, 0},
      {"C:\\APP\\MINE.TXT", WRITE_OWNER, denied},
      {"C:\\APP\\MINE.TXT", GENERIC_READ, denied},
      {"C:\\APP\\SYSTEMS.TXT", GENERIC_READ, 0},    // Users may read
      {"C:\\APP\\SYSTEMS.TXT", WRITE_DAC, denied},  // someone else owns it
      {"C:\\APP\\SYSTEMS.TXT", GENERIC_WRITE, denied},
      {"C:\\APP\\SYSTEMS.TXT", MAXIMUM_ALLOWED, 0},
      {"C:\\APP\\OPEN.TXT", GENERIC_ALL | WRITE_OWNER, 0},
      {"C:\\APP\\NOBODY.TXT", 0, denied},  // SYNCHRONIZE, which nobody is allowed
      {"C:\\APP\\NOBODY.TXT", READ_CONTROL, denied},
      {"C:\\APP\\NOBODY.TXT", MAXIMUM_ALLOWED, denied},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.path) + " " + Hex(test.access));
    EXPECT_EQ(OpenError(test.path, test.access), test.error);
  }
  const ReadBack open = SecurityOf("C:\\APP\\OPEN.TXT");
  EXPECT_TRUE(open.daclNull);
  EXPECT_TRUE(open.aces.empty());
  // Listing C:\APP gives reading the attributes of what it holds.
  EXPECT_NE(GetFileAttributesA("C:\\APP\\NOBODY.TXT"), INVALID_FILE_ATTRIBUTES);
  const ReadBack mine = SecurityOf("C:\\APP\\MINE.TXT");
  EXPECT_FALSE(mine.daclNull);
  EXPECT_EQ(mine.aces, std::vector<std::string>{"allow S-1-1-0 0x100000 -"});
  EXPECT_NE(mine.control & SE_DACL_PROTECTED, 0);
  EXPECT_EQ(mine.owner, kUser);

  // NTDLL's open relative to a directory's handle keeps the same rules.
  typedef NTSTATUS(NTAPI * NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                             PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
  const NtCreateFileCall create = reinterpret_cast<NtCreateFileCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("NTDLL.DLL"), "NtCreateFile")));
  ASSERT_NE(create, nullptr);
  HANDLE directory = OpenForSecurity("C:\\APP", FILE_LIST_DIRECTORY);
  ASSERT_NE(directory, INVALID_HANDLE_VALUE);
  for (const auto& test :
       {std::make_pair(FILE_READ_DATA, 0xC0000022u), std::make_pair(FILE_WRITE_DATA, 0u)}) {
    std::u16string name = u"top.txt";
    UNICODE_STRING unicode = {static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                              &name[0]};
    OBJECT_ATTRIBUTES attributes = {sizeof(OBJECT_ATTRIBUTES), directory, &unicode, 0, nullptr, nullptr};
    IO_STATUS_BLOCK io = {};
    HANDLE file = nullptr;
    const NTSTATUS status =
        create(&file, static_cast<ACCESS_MASK>(test.first) | SYNCHRONIZE, &attributes, &io, nullptr, 0,
               FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, nullptr, 0);
    EXPECT_EQ(static_cast<DWORD>(status), test.second);
    if (status == 0) CloseHandle(file);
  }
  CloseHandle(directory);

  // GetSecurityInfo needs a handle with READ_CONTROL.
  HANDLE attributesOnly = OpenForSecurity("C:\\APP\\TOP.TXT", FILE_READ_ATTRIBUTES);
  ASSERT_NE(attributesOnly, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadSecurity(attributesOnly).error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(attributesOnly);
}

// Deleting needs DELETE on the object or FILE_DELETE_CHILD on its
// directory (which wins over a deny on the object); making a file or a
// directory needs FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY on the directory.
TEST_F(Security, DeletingAndCreating) {
  MakeDirectories("C:\\KEEP\\EMPTY");
  MakeDirectories("C:\\CHILDREN");
  MakeDirectories("C:\\FILESONLY");
  WriteBytes("C:\\KEEP\\A.TXT", "x");
  WriteBytes("C:\\KEEP\\B.TXT", "x");
  WriteBytes("C:\\CHILDREN\\C.TXT", "x");
  Machine(
      "[security]\n"
      "C:\\KEEP = protected; allow S-1-5-32-544 read+0x20 inherit\n"
      "C:\\KEEP\\B.TXT = allow S-1-5-32-544 delete\n"
      "C:\\CHILDREN = protected; allow S-1-5-32-544 delete-child+list+add-file+add-subdirectory; "
      "allow S-1-5-32-544 read inherit-only\n"
      "C:\\CHILDREN\\C.TXT = deny S-1-1-0 delete\n"
      "C:\\FILESONLY = protected; allow S-1-5-32-544 add-file+list\n");
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA("C:\\KEEP\\A.TXT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(RemoveDirectoryA("C:\\KEEP\\EMPTY"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(MoveFileExA("C:\\KEEP\\A.TXT", "C:\\A.TXT", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetFileAttributesA("C:\\KEEP\\A.TXT", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(PathExists("C:\\KEEP\\A.TXT"));
  EXPECT_TRUE(DeleteFileA("C:\\KEEP\\B.TXT")) << GetLastError();      // its own DELETE
  EXPECT_TRUE(DeleteFileA("C:\\CHILDREN\\C.TXT")) << GetLastError();  // the directory's delete-child

  EXPECT_EQ(CreateFileA("C:\\KEEP\\NEW.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(CreateDirectoryA("C:\\KEEP\\NEW", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(CreateDirectoryA("C:\\FILESONLY\\NEW", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE made = CreateFileA("C:\\FILESONLY\\NEW.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  EXPECT_NE(made, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(made);
  // What inherits nothing was given the default of an administrator's token.
  EXPECT_EQ(SecurityOf("C:\\FILESONLY\\NEW.TXT").aces,
            (std::vector<std::string>{"allow S-1-5-18" + kFull + "-", "allow S-1-5-32-544" + kFull + "-"}));
  EXPECT_TRUE(CreateDirectoryA("C:\\CHILDREN\\NEW", nullptr)) << GetLastError();
  EXPECT_TRUE(MoveFileExA("C:\\CHILDREN\\NEW", "C:\\CHILDREN\\RENAMED", 0)) << GetLastError();
}

// A drive "acls" names has no security: nothing is refused, the volume
// reports no persistent ACLs, and GetSecurityInfo answers as NT does for
// a FAT volume: Everyone the owner, a null DACL.
TEST_F(Security, DriveWithoutAcls) {
  ASSERT_EQ(mkdir((machineDirectory_ + "/drive_d").c_str(), 0755), 0);
  WriteBytes("D:\\DATA\\F.TXT", "x");
  Machine(
      "acls=d:\n"
      "[security]\n"
      "D:\\DATA = deny S-1-1-0 full\n"
      "C:\\APP = deny S-1-1-0 full\n");
  EXPECT_EQ(OpenError("D:\\DATA", GENERIC_READ), 0u);
  EXPECT_EQ(OpenError("D:\\DATA\\F.TXT", GENERIC_ALL), 0u);
  EXPECT_EQ(OpenError("C:\\APP", GENERIC_READ), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  const ReadBack fat = SecurityOf("D:\\DATA\\F.TXT");
  EXPECT_EQ(fat.error, ERROR_SUCCESS);
  EXPECT_EQ(fat.owner, "S-1-1-0");
  EXPECT_TRUE(fat.daclNull);

  const struct {
    const char* root;
    DWORD flags;
    const char* system;
  } volumes[] = {{"C:\\", FILE_PERSISTENT_ACLS, "NTFS"}, {"D:\\", 0, "FAT"}};
  for (const auto& volume : volumes) {
    DWORD flags = 0xDEADBEEF;
    char system[16] = "";
    ASSERT_TRUE(
        GetVolumeInformationA(volume.root, nullptr, 0, nullptr, nullptr, &flags, system, sizeof(system)));
    EXPECT_EQ(flags & FILE_PERSISTENT_ACLS, volume.flags) << volume.root;
    EXPECT_STREQ(system, volume.system);
  }
  // acls=no: every volume.
  Machine("acls=no\n[security]\nC:\\APP = deny S-1-1-0 full\n");
  EXPECT_EQ(OpenError("C:\\APP", GENERIC_READ), 0u);
}

// Windows 95 has no security: nothing refused, and no security call to be
// found; NT finds them in ADVAPI32 and in NETAPI32 once loaded.
TEST_F(Security, OnlyOnNt) {
  Machine("platform=95\n[security]\nC:\\APP = deny S-1-1-0 full\n");
  EXPECT_EQ(OpenError("C:\\APP\\TOP.TXT", GENERIC_READ), 0u);
  EXPECT_TRUE(DeleteFileA("C:\\APP\\TOP.TXT"));
  HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
  ASSERT_NE(advapi, nullptr);
  for (const char* name : {"GetSecurityInfo", "OpenProcessToken", "GetTokenInformation"}) {
    EXPECT_EQ(GetProcAddress(advapi, name), nullptr) << name;
  }
  EXPECT_EQ(LoadLibraryA("NETAPI32.DLL"), nullptr);
  DWORD flags = 0xDEADBEEF;
  char system[16] = "";
  ASSERT_TRUE(GetVolumeInformationA("C:\\", nullptr, 0, nullptr, nullptr, &flags, system, sizeof(system)));
  EXPECT_EQ(flags, 0u);
  EXPECT_STREQ(system, "FAT");

  Machine("");
  EXPECT_EQ(GetModuleHandleA("NETAPI32.DLL"), nullptr);  // not loaded yet
  HMODULE netapi = LoadLibraryA("netapi32");
  ASSERT_NE(netapi, nullptr);
  EXPECT_EQ(GetModuleHandleA("NETAPI32.DLL"), netapi);
  EXPECT_NE(GetProcAddress(netapi, "NetLocalGroupGetMembers"), nullptr);
  EXPECT_NE(GetProcAddress(netapi, "NetApiBufferFree"), nullptr);
  EXPECT_EQ(GetProcAddress(netapi, "GetSecurityInfo"), nullptr);  // ADVAPI32's
  EXPECT_NE(GetProcAddress(advapi, "GetSecurityInfo"), nullptr);
  EXPECT_TRUE(FreeLibrary(netapi));

  // By its full path it is the system directory's, and only there.
  const std::string inSystem = SystemDirectory() + "\\netapi32.dll";
  netapi = LoadLibraryExA(inSystem.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(netapi, nullptr);
  EXPECT_EQ(GetModuleHandleA("NETAPI32.DLL"), netapi);
  EXPECT_NE(GetProcAddress(netapi, "NetLocalGroupGetMembers"), nullptr);
  EXPECT_TRUE(FreeLibrary(netapi));
  SetLastError(0xDEADBEEF);
  EXPECT_EQ(LoadLibraryExA("C:\\APP\\NETAPI32.DLL", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// The account the program runs as, from its token, and the members of
// Administrators: the user and those "administrators" adds.
TEST_F(Security, TokenUserAndAdministrators) {
  Machine(
      "user=S-1-5-21-7-8-9-1001\n"
      "administrators=S-1-5-21-7-8-9-500, S-1-5-21-7-8-9-1001 ,S-1-5-21-1-1-1-1005\n");
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD needed = 0;
  SetLastError(0);
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_EQ(needed, sizeof(TOKEN_USER) + 8 + 4 * 5);
  std::vector<BYTE> buffer(needed + 4, 0xAB);
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed));
  EXPECT_EQ(buffer[needed], 0xAB);  // nothing past what it said
  TOKEN_USER user;
  memcpy(&user, buffer.data(), sizeof(user));
  EXPECT_EQ(SidText(static_cast<const BYTE*>(user.User.Sid)), "S-1-5-21-7-8-9-1001");
  EXPECT_TRUE(CloseHandle(token));

  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), READ_CONTROL, &token));
  SetLastError(0);
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));  // no TOKEN_QUERY
  EXPECT_TRUE(CloseHandle(token));

  LPBYTE members = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  ASSERT_EQ(NetLocalGroupGetMembers(nullptr, u"administrators", 0, &members, MAX_PREFERRED_LENGTH, &read,
                                    &total, nullptr),
            static_cast<DWORD>(NERR_Success));
  ASSERT_EQ(read, 3u);
  EXPECT_EQ(total, 3u);
  std::vector<std::string> sids;
  for (DWORD i = 0; i < read; ++i) {
    LOCALGROUP_MEMBERS_INFO_0 member;
    memcpy(&member, members + i * sizeof(member), sizeof(member));
    sids.push_back(SidText(static_cast<const BYTE*>(member.lgrmi0_sid)));
  }
  EXPECT_EQ(sids,
            (std::vector<std::string>{"S-1-5-21-7-8-9-1001", "S-1-5-21-7-8-9-500", "S-1-5-21-1-1-1-1005"}));
  EXPECT_EQ(NetApiBufferFree(members), static_cast<DWORD>(NERR_Success));
  EXPECT_EQ(
      NetLocalGroupGetMembers(nullptr, u"Users", 0, &members, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
      static_cast<DWORD>(ERROR_NO_SUCH_ALIAS));
  EXPECT_EQ(NetLocalGroupGetMembers(nullptr, u"Administrators", 1, &members, MAX_PREFERRED_LENGTH, &read,
                                    &total, nullptr),
            static_cast<DWORD>(ERROR_INVALID_LEVEL));
}

// The group's name by its SID, as the check asks for it before its members;
// a buffer too small is told both sizes, terminators included.
TEST_F(Security, AdministratorsByTheirSid) {
  Machine("");
  const BYTE administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  const BYTE users[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
  WCHAR name[32];
  WCHAR domain[32];
  DWORD nameLength = 14;
  DWORD domainLength = 32;
  SID_NAME_USE use = SidTypeInvalid;
  SetLastError(0);
  EXPECT_FALSE(LookupAccountSidW(nullptr, const_cast<BYTE*>(administrators), name, &nameLength, domain,
                                 &domainLength, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(nameLength, 15u);
  EXPECT_EQ(domainLength, 8u);
  ASSERT_TRUE(LookupAccountSidW(nullptr, const_cast<BYTE*>(administrators), name, &nameLength, domain,
                                &domainLength, &use));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"Administrators");
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(domain)), u"BUILTIN");
  EXPECT_EQ(nameLength, 14u);
  EXPECT_EQ(domainLength, 7u);
  EXPECT_EQ(use, SidTypeAlias);
  SetLastError(0);
  EXPECT_FALSE(
      LookupAccountSidW(nullptr, const_cast<BYTE*>(users), name, &nameLength, domain, &domainLength, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
  // The version in GetVersion's low bytes, as GetVersionExA tells it.
  ReopenMachine("version=5.1");
  EXPECT_EQ(GetVersion() & 0xFFFF, 0x0105u);
  ReopenMachine("version=10.0");
  EXPECT_EQ(GetVersion() & 0xFFFF, 0x000Au);
}

// Each new call fails through [fail calls] as it reports failure: the
// security and NETAPI32 calls return their error, the others set it.
TEST_F(Security, FailCalls) {
  Machine(
      "[fail calls]\nGetSecurityInfo 1\nGetSecurityInfo 2 8\nNetLocalGroupGetMembers 1\n"
      "OpenProcessToken 1\nGetTokenInformation 1 6\n");
  HANDLE handle = OpenForSecurity("C:\\APP");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadSecurity(handle).error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadSecurity(handle).error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(ReadSecurity(handle).error, static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(handle);

  LPBYTE members = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  EXPECT_EQ(NetLocalGroupGetMembers(nullptr, u"Administrators", 0, &members, MAX_PREFERRED_LENGTH, &read,
                                    &total, nullptr),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(members, nullptr);

  HANDLE token = nullptr;
  SetLastError(0);
  EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD needed = 0;
  SetLastError(0);
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), 6u);
  EXPECT_TRUE(CloseHandle(token));
}

// GetSecurityInfo refuses what it cannot answer, returning the error and
// leaving every output alone.
TEST_F(Security, GetSecurityInfoArguments) {
  Machine("");
  HANDLE handle = OpenForSecurity("C:\\APP");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("C:\\APP\\*", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  PSID owner = reinterpret_cast<PSID>(1);
  PACL dacl = reinterpret_cast<PACL>(1);
  PSECURITY_DESCRIPTOR descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(1);
  const struct {
    HANDLE handle;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION wanted;
    PSECURITY_DESCRIPTOR* descriptor;
    DWORD error;
  } cases[] = {
      {handle, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, &descriptor, ERROR_INVALID_PARAMETER},
      {search, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, &descriptor, ERROR_INVALID_HANDLE},
      {handle, SE_FILE_OBJECT, SACL_SECURITY_INFORMATION, &descriptor, ERROR_PRIVILEGE_NOT_HELD},
      {handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const auto& test : cases) {
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(GetSecurityInfo(test.handle, test.type, test.wanted, &owner, nullptr, &dacl, nullptr,
                              test.descriptor),
              test.error);
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);  // the error is returned, not set
    EXPECT_EQ(owner, reinterpret_cast<PSID>(1));
    EXPECT_EQ(dacl, reinterpret_cast<PACL>(1));
    EXPECT_EQ(descriptor, reinterpret_cast<PSECURITY_DESCRIPTOR>(1));
  }
  FindClose(search);
  CloseHandle(handle);
}

// An ACL's size is a WORD: one that would pass 64 KB is refused, never
// handed out with a size that wrapped.
TEST_F(Security, AclOfAtMost64Kilobytes) {
  // Each allow for S-1-5-21-1-2-3-N takes 4 + 4 + 28 = 36 bytes; the root
  // adds SYSTEM's 20, Administrators' 24 and Users' 24, the header 8. 1,818
  // own entries make 65,524 bytes, 1,819 make 65,560.
  for (const int count : {1818, 1819}) {
    std::string line = "C:\\APP\\TOP.TXT = owner S-1-5-32-544";
    for (int i = 0; i < count; ++i) line += "; allow S-1-5-21-1-2-3-" + std::to_string(1000 + i) + " read";
    Machine("[security]\n" + line + "\n");
    HANDLE handle = OpenForSecurity("C:\\APP\\TOP.TXT");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &dacl, nullptr, &descriptor);
    if (count == 1818) {
      ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
      EXPECT_EQ(dacl->AclSize, 65524u);
      EXPECT_EQ(dacl->AceCount, 1821u);
      LocalFree(descriptor);
    } else {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_ACL));
    }
    CloseHandle(handle);
  }
}

// Lines of the settings that cannot be read make the machine unusable.
TEST_F(Security, SettingsRefused) {
  for (const char* settings :
       {"root acl=open", "user=S-1-5-x", "administrators=S-1-5-32-544,,", "acls=maybe", "acls=D",
        "[security]\nC:\\APP = allow S-1-5-11 everything", "[security]\nC:\\APP = allow S-1-5-11 full always",
        "[security]\nAPP = allow S-1-5-11 full", "[security]\nC:\\APP = owner S-1-5-11 S-1-5-11"}) {
    SCOPED_TRACE(settings);
    std::ofstream((machineDirectory_ + "/machine.ini").c_str(), std::ios::trunc) << "[machine]\n"
                                                                                 << settings << "\n";
    std::string error;
    EXPECT_FALSE(HostOpenMachine(machineDirectory_.c_str(), &error));
    EXPECT_NE(error.find("machine.ini line"), std::string::npos) << error;
  }
  ReopenMachine("");
}

}  // namespace
