// The trust check: who could have changed the code the removal runs
// elevated, read through the handles the removal holds. The descriptors
// come from machine.ini's [security] and "root acl", so these run on the
// host layer only (Wine keeps no descriptors); the ACL walk itself is also
// fed crafted bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/later_calls.h"
#include "files/held.h"
#include "files/trust.h"
#include "main/real_place.h"
#include "support/sandbox.h"

namespace {

const std::string kDomain = "S-1-5-21-1004336348-1177238915-682003330-";
const std::string kUser = kDomain + "500";       // the account the program runs as
const std::string kStandard = kDomain + "1001";  // a user who is no administrator
const std::string kExtra = kDomain + "1002";     // added to Administrators where a case says so
const std::string kAuthenticated = "S-1-5-11";
const std::string kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct Case {
  std::string settings;
  bool may;
};

class TrustCheck : public SandboxTest {
 protected:
  void Expect(const std::vector<Case>& cases) {
    for (const Case& one : cases) {
      SCOPED_TRACE(one.settings);
      Machine(one.settings);
      EXPECT_EQ(MayRun(), one.may);
    }
  }

  // A remover in P = <drive>\APP\SYSTEM, then a machine with these settings.
  void Machine(const std::string& settings, char drive = 'C') {
    ReopenMachine("");
    if (drive != 'C') {
      mkdir((machineDirectory_ + "/drive_" + static_cast<char>(drive - 'A' + 'a')).c_str(), 0755);
      ReopenMachine("");
    }
    WriteBytes(Program(drive), "MZ");
    ReopenMachine(settings);
  }

  static std::string Program(char drive = 'C') { return std::string(1, drive) + ":\\APP\\SYSTEM\\TAVCC.EXE"; }

  struct Handles {
    HeldDirectories held;
    HANDLE root;
    HANDLE file;
  };

  static void Open(char drive, Handles* handles) {
    LaterCalls calls;
    FindLaterCalls(&calls);
    handles->held.count = 0;
    const std::string directory = std::string(1, drive) + ":\\APP\\SYSTEM";
    const std::string root = std::string(1, drive) + ":\\";
    EXPECT_TRUE(HoldPathWithoutLinks(directory.c_str(), calls, &handles->held));
    EXPECT_EQ(handles->held.count, 2);
    handles->root =
        CreateFileA(root.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_NE(handles->root, INVALID_HANDLE_VALUE);
    handles->file = CreateFileA(Program(drive).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    EXPECT_NE(handles->file, INVALID_HANDLE_VALUE);
  }

  static void Close(Handles* handles) {
    if (handles->file != INVALID_HANDLE_VALUE) CloseHandle(handles->file);
    if (handles->root != INVALID_HANDLE_VALUE) CloseHandle(handles->root);
    ReleaseAllHeld(&handles->held);
  }

  // As the removal asks before it starts the remover: P's path held, the
  // drive's root, the file open for reading, sharing reading only.
  bool MayRun(char drive = 'C') {
    Handles handles;
    Open(drive, &handles);
    const bool may = MayRunCodeFrom(handles.root, handles.held, &handles.file, 1);
    Close(&handles);
    return may;
  }
};

// The owner of the file, of P and of each directory above may rewrite its
// DACL: each must be an administrator.
TEST_F(TrustCheck, Owners) {
  Expect({
      {"", true},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kStandard, false},
      {"[security]\nC:\\APP\\SYSTEM = owner " + kStandard, false},
      {"[security]\nC:\\APP = owner " + kStandard, false},
      {"[security]\nC:\\ = owner " + kStandard, false},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner S-1-5-18", true},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kTrustedInstaller, true},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kUser, true},
      // Another member of Administrators, and the same account where it is none.
      {"administrators=" + kStandard + "," + kExtra + "\n[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " +
           kExtra,
       true},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kExtra, false},
      // Power Users count before Vista only.
      {"version=5.1\n[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner S-1-5-32-547", true},
      {"version=6.1\n[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner S-1-5-32-547", false},
      // A SID that only looks like a well-known one: another authority.
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner S-1-3-18", false},
  });
}

// Which rights others may have depends on the object: the file's data and
// name; P's contents too; for a directory above, what renames or removes it
// or the directory below it. Entries of the object's own, not passed on.
TEST_F(TrustCheck, RightsByObject) {
  const struct {
    const char* path;
    std::vector<std::pair<const char*, bool>> rights;
  } objects[] = {
      {"C:\\APP\\SYSTEM\\TAVCC.EXE",
       {{"read", true},
        {"list", true},
        {"0x20", true},  // execute
        {"write", false},
        {"0x2", false},
        {"0x4", false},
        {"0x10", false},
        {"write-attributes", false},
        {"delete", false},
        {"write-dac", false},
        {"write-owner", false},
        {"0x40000000", false},    // GENERIC_WRITE
        {"0x10000000", false}}},  // GENERIC_ALL
      {"C:\\APP\\SYSTEM",
       {{"read", true},
        {"add-file", false},
        {"add-subdirectory", false},
        {"delete-child", false},
        {"write-attributes", false},
        {"delete", false},
        {"write-dac", false},
        {"0x40000000", false}}},
      {"C:\\APP",
       {{"read", true},
        {"add-file", true},
        {"add-subdirectory", true},
        {"write", true},
        {"0x40000000", true},
        {"delete", false},
        {"delete-child", false},
        {"write-dac", false},
        {"write-owner", false},
        {"0x10000000", false}}},
      {"C:\\",
       {{"add-subdirectory", true}, {"delete-child", false}, {"write-dac", false}, {"0x10000000", false}}},
  };
  for (const auto& object : objects) {
    for (const auto& right : object.rights) {
      Expect({{std::string("[security]\n") + object.path + " = allow " + kAuthenticated + " " + right.first,
               right.second}});
    }
  }
}

// Only an allow entry that applies to the object itself counts, and one
// for an administrator changes nothing; a deny entry never helps.
TEST_F(TrustCheck, WhichEntriesCount) {
  const std::string adminOnly =
      "C:\\APP = protected; allow S-1-5-18 full inherit; allow S-1-5-32-544 full inherit\n";
  const std::string windowsOwn =
      "C:\\WINDOWS = protected; allow S-1-5-18 full inherit; allow S-1-5-32-544 full inherit; "
      "allow S-1-5-32-545 read inherit\n";
  Expect({
      // Since Vista a directory made below C:\ lets Authenticated Users
      // modify it; Windows' own directory keeps its own entries.
      {"root acl=vista\n[security]\n" + windowsOwn, false},
      {"root acl=vista\n[security]\n" + windowsOwn + adminOnly, true},
      // Passed on to what is made inside only, or given where it applies.
      {"[security]\n" + adminOnly + "C:\\ = allow " + kAuthenticated + " full inherit-only", true},
      {"[security]\n" + adminOnly + "C:\\ = allow " + kAuthenticated + " full", false},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = allow " + kStandard + " modify inherit-only", true},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = deny " + kStandard + " modify; allow " + kStandard +
           " modify",
       false},
      {"[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = deny " + kStandard + " write", true},
      // Inherited from above P down to the file.
      {"[security]\nC:\\APP = allow " + kStandard + " write inherit", false},
      {"[security]\nC:\\APP = allow " + kUser + " full inherit; allow S-1-5-18 full inherit", true},
      {"administrators=" + kExtra + "\n[security]\nC:\\APP = allow " + kExtra + " full inherit", true},
      {"version=5.1\n[security]\nC:\\APP = allow S-1-5-32-547 modify inherit", true},
      {"version=6.1\n[security]\nC:\\APP = allow S-1-5-32-547 modify inherit", false},
  });
}

// Where anyone may change anything, nothing is trusted: a null DACL, a
// volume without ACLs (FAT), whose null DACL GetSecurityInfo reports.
TEST_F(TrustCheck, WithoutSecurity) {
  for (const char* path : {"C:\\APP\\SYSTEM\\TAVCC.EXE", "C:\\APP\\SYSTEM", "C:\\APP"}) {
    Machine(std::string("[security]\n") + path + " = null-dacl");
    EXPECT_FALSE(MayRun()) << path;
  }
  Machine("acls=D:", 'D');
  EXPECT_FALSE(MayRun('D'));
  // Without ACLs on C: either, Windows' own directory is open to all: no
  // boundary to keep.
  Machine("acls=no", 'D');
  EXPECT_TRUE(MayRun('D'));
}

// Where Windows' system directory is open to others, the code runs as
// before; only a directory seen open counts, not one that cannot be read.
TEST_F(TrustCheck, SystemDirectoryOpenToOthers) {
  const std::string standardOwner = "[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kStandard + "\n";
  Machine("root acl=nt4");
  EXPECT_TRUE(MayRun());
  Machine("root acl=nt4\n" + standardOwner);
  EXPECT_TRUE(MayRun());
  Machine("root acl=vista\n" + standardOwner + "C:\\WINDOWS\\SYSTEM32 = owner " + kStandard);
  EXPECT_TRUE(MayRun());
  // The file is read first, the system directory next.
  Machine("root acl=nt4\n[fail calls]\nGetSecurityInfo 2");
  EXPECT_FALSE(MayRun());
  Machine(
      "root acl=nt4\n[security]\nC:\\WINDOWS = protected; allow S-1-5-18 full inherit; allow S-1-5-32-544 "
      "full "
      "inherit");
  EXPECT_FALSE(MayRun());
  Machine(standardOwner);
  EXPECT_FALSE(MayRun());
}

// Any call that fails leaves the code untrusted; the members of
// Administrators only add accounts, so without them the well-known ones
// and the token's user still count.
TEST_F(TrustCheck, FailingCalls) {
  const std::string extraOwner =
      "administrators=" + kExtra + "\n[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kExtra + "\n";
  const std::string userOwner = "[security]\nC:\\APP\\SYSTEM\\TAVCC.EXE = owner " + kUser + "\n";
  Expect({
      // The file, P, C:\APP, the root; the system directory is not asked.
      {"[fail calls]\nGetSecurityInfo 1", false},
      {"[fail calls]\nGetSecurityInfo 2", false},
      {"[fail calls]\nGetSecurityInfo 3", false},
      {"[fail calls]\nGetSecurityInfo 4", false},
      {"[fail calls]\nGetSecurityInfo 5", true},
      {"[fail calls]\nOpenProcessToken 1", false},
      {"[fail calls]\nGetTokenInformation 1", false},
      {extraOwner, true},
      {extraOwner + "[fail calls]\nNetLocalGroupGetMembers 1", false},
      // The group's name is asked for by its SID, Windows naming it in its
      // own language.
      {extraOwner + "[fail calls]\nLookupAccountSidW 1", false},
      {extraOwner + "[fail calls]\nLoadLibraryExA 1", false},
      {userOwner + "[fail calls]\nNetLocalGroupGetMembers 1", true},
      {"[fail calls]\nNetLocalGroupGetMembers 1", true},
      // Freeing what was read changes nothing about what it said.
      {extraOwner + "[fail calls]\nNetApiBufferFree 1\nLocalFree 1", true},
  });
}

// Without P or the root nothing is known to be safe; a file that could not
// be opened is not known either, one that is not there runs nothing.
TEST_F(TrustCheck, MissingHandles) {
  Machine("");
  Handles handles;
  Open('C', &handles);
  const HANDLE absent = INVALID_HANDLE_VALUE;
  const HANDLE unopened = nullptr;
  EXPECT_TRUE(MayRunCodeFrom(handles.root, handles.held, &handles.file, 1));
  EXPECT_FALSE(MayRunCodeFrom(handles.root, HeldDirectories{}, &handles.file, 1));
  EXPECT_TRUE(MayRunCodeFrom(handles.root, handles.held, &absent, 1));
  EXPECT_FALSE(MayRunCodeFrom(INVALID_HANDLE_VALUE, handles.held, &handles.file, 1));
  EXPECT_FALSE(MayRunCodeFrom(handles.root, handles.held, &unopened, 1));
  Close(&handles);
}

// The files are judged together: one open to others, wherever it stands
// in the list, keeps all of them from running.
TEST_F(TrustCheck, EveryFileCounts) {
  Machine("[security]\nC:\\APP\\SYSTEM\\FXPSET.EXE = allow S-1-5-32-545 write\n");
  WriteBytes("C:\\APP\\SYSTEM\\FXPSET.EXE", "MZ");
  Handles handles;
  Open('C', &handles);
  const HANDLE other = CreateFileA("C:\\APP\\SYSTEM\\FXPSET.EXE", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const HANDLE absent = INVALID_HANDLE_VALUE;
  const HANDLE first[] = {other, handles.file};
  const HANDLE last[] = {handles.file, absent, other};
  const HANDLE trusted[] = {absent, handles.file};
  EXPECT_FALSE(MayRunCodeFrom(handles.root, handles.held, first, 2));
  EXPECT_FALSE(MayRunCodeFrom(handles.root, handles.held, last, 3));
  EXPECT_TRUE(MayRunCodeFrom(handles.root, handles.held, trusted, 2));
  CloseHandle(other);
  Close(&handles);
}

// A link on P's way is judged as P is: whoever may write it could turn it
// elsewhere. One that refuses to be held, as Windows' own C:\Programme
// refuses everyone SYNCHRONIZE, is only asked about; where it leads is held.
TEST_F(TrustCheck, LinksOnTheWay) {
  const std::string compatibility =
      "[security]\nC:\\LINK = owner S-1-5-18; protected; deny S-1-1-0 0x100001; allow S-1-1-0 0x1200a9; "
      "allow S-1-5-18 full; allow S-1-5-32-544 full";
  const std::vector<Case> cases = {
      {"", true},
      {compatibility, true},
      {"[security]\nC:\\LINK = allow S-1-5-32-545 write-attributes", false},
      {compatibility + "; allow S-1-5-11 add-file", false},
  };
  for (const Case& one : cases) {
    SCOPED_TRACE(one.settings);
    Machine("version=10.0");
    if (GetFileAttributesA("C:\\LINK") == INVALID_FILE_ATTRIBUTES) {
      ASSERT_TRUE(CreateSymbolicLinkA("C:\\LINK", "C:\\APP", SYMBOLIC_LINK_FLAG_DIRECTORY));
    }
    ReopenMachine("version=10.0\n" + one.settings);
    LaterCalls calls;
    FindLaterCalls(&calls);
    ProgramPlaces places;
    places.held.count = 0;
    ASSERT_TRUE(HoldPlaces("C:\\LINK\\SYSTEM", calls, &places));
    // C:\LINK, SYSTEM through it, then C:\APP and C:\APP\SYSTEM.
    ASSERT_EQ(places.held.count, 4);
    EXPECT_TRUE(places.held.links[0]);
    EXPECT_FALSE(places.held.links[1] || places.held.links[2] || places.held.links[3]);
    const HANDLE root = CreateFileA("C:\\", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const HANDLE file =
        CreateFileA("C:\\LINK\\SYSTEM\\TAVCC.EXE", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(MayRunCodeFrom(root, places.held, &file, 1), one.may);
    CloseHandle(file);
    CloseHandle(root);
    ReleaseAllHeld(&places.held);
  }
}

// ACLs as bytes, each in a block of exactly its size, so that a read past
// what AclSize allows is caught by the sanitizer.
class CraftedAcl {
 public:
  CraftedAcl& Entry(BYTE type, BYTE flags, DWORD mask, const std::vector<BYTE>& sid, int sizeChange = 0) {
    const size_t size = 8 + sid.size() + static_cast<size_t>(sizeChange);
    entries_.push_back(type);
    entries_.push_back(flags);
    entries_.push_back(static_cast<BYTE>(size));
    entries_.push_back(static_cast<BYTE>(size >> 8));
    for (int i = 0; i < 4; ++i) entries_.push_back(static_cast<BYTE>(mask >> (8 * i)));
    entries_.insert(entries_.end(), sid.begin(), sid.end());
    if (sizeChange > 0) entries_.insert(entries_.end(), static_cast<size_t>(sizeChange), 0);
    ++count_;
    return *this;
  }
  // countChange: entries claimed beyond those made.
  std::vector<BYTE> Bytes(int countChange = 0) const {
    const size_t size = 8 + entries_.size();
    const unsigned count = count_ + static_cast<unsigned>(countChange);
    std::vector<BYTE> bytes = {2,
                               0,
                               static_cast<BYTE>(size),
                               static_cast<BYTE>(size >> 8),
                               static_cast<BYTE>(count),
                               static_cast<BYTE>(count >> 8),
                               0,
                               0};
    bytes.insert(bytes.end(), entries_.begin(), entries_.end());
    return bytes;
  }

 private:
  std::vector<BYTE> entries_;
  unsigned count_ = 0;
};

std::vector<BYTE> NtSid(std::vector<DWORD> subAuthorities) {
  std::vector<BYTE> sid = {1, static_cast<BYTE>(subAuthorities.size()), 0, 0, 0, 0, 0, 5};
  for (DWORD sub : subAuthorities) {
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<BYTE>(sub >> (8 * i)));
  }
  return sid;
}

Trust Judge(const std::vector<BYTE>& acl, CodeObject object = CodeObject::kFile,
            std::vector<BYTE> owner = NtSid({32, 544})) {
  const Administrators administrators = {};
  // Its own block, no larger than the bytes.
  std::vector<BYTE> block(acl);
  return TrustOfDescriptor(owner.empty() ? nullptr : owner.data(), reinterpret_cast<const ACL*>(block.data()),
                           object, administrators);
}

TEST(TrustOfDescriptor, WalksTheAclByItsOwnSizes) {
  const std::vector<BYTE> system = NtSid({18});
  const std::vector<BYTE> users = NtSid({32, 545});
  const std::vector<BYTE> authenticated = NtSid({11});
  EXPECT_EQ(Judge(CraftedAcl().Bytes()), Trust::kTrusted);  // nobody may do anything
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1F01FF, system).Entry(0, 0, 0x1200A9, users).Bytes()),
            Trust::kTrusted);
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1F01FF, system).Entry(0, 0, 0x2, users).Bytes()), Trust::kOpen);
  // Padding after the SID is allowed; the next entry starts after it.
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1F01FF, system, 4).Entry(0, 0, 0x2, users).Bytes()),
            Trust::kOpen);
  // The kind of object picks the rights: FILE_ADD_FILE is nothing above P.
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x2, users).Bytes(), CodeObject::kProgramDirectory), Trust::kOpen);
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x2, users).Bytes(), CodeObject::kDirectoryAbove),
            Trust::kTrusted);
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x40, users).Bytes(), CodeObject::kDirectoryAbove), Trust::kOpen);

  // Entries that do not add up.
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1F01FF, system).Bytes(1)), Trust::kUnknown);
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1F01FF, system, -12).Bytes()),
            Trust::kUnknown);                                                                // size 8: no SID
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1F01FF, system, 2).Bytes()), Trust::kUnknown);  // not aligned
  std::vector<BYTE> longSid = authenticated;
  longSid[1] = 2;  // claims a sub-authority past the entry
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1, longSid).Bytes()), Trust::kUnknown);
  std::vector<BYTE> badRevision = authenticated;
  badRevision[0] = 2;
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x1, badRevision).Bytes()), Trust::kUnknown);
  // A size of zero must not walk the same entry forever.
  std::vector<BYTE> zero = CraftedAcl().Entry(0, 0, 0x1, users).Bytes();
  zero[10] = zero[11] = 0;
  EXPECT_EQ(Judge(zero), Trust::kUnknown);
  zero[8] = 1;  // a deny, whose SID is never read
  EXPECT_EQ(Judge(zero), Trust::kUnknown);
  // An entry size past the ACL's end.
  std::vector<BYTE> past = CraftedAcl().Entry(0, 0, 0x1, users).Bytes();
  past[10] = static_cast<BYTE>(past[10] + 4);
  EXPECT_EQ(Judge(past), Trust::kUnknown);
  // A malformed entry after one that gives others write access still is one.
  EXPECT_EQ(Judge(CraftedAcl().Entry(0, 0, 0x2, users).Bytes(1)), Trust::kUnknown);
}

TEST(TrustOfDescriptor, EntryTypesAndOwners) {
  std::vector<BYTE> users = NtSid({32, 545});
  const std::vector<BYTE> objectEntry = {0, 0, 0, 0};  // ACCESS_ALLOWED_OBJECT_ACE's flags, no GUIDs
  std::vector<BYTE> objectBody = objectEntry;
  objectBody.insert(objectBody.end(), users.begin(), users.end());
  // Object and callback allows are not read: not known to be safe.
  for (BYTE type : {4, 5, 9, 11, 42}) {
    EXPECT_EQ(Judge(CraftedAcl().Entry(type, 0, 0x1, objectBody).Bytes()), Trust::kUnknown) << int(type);
    EXPECT_EQ(Judge(CraftedAcl().Entry(type, INHERIT_ONLY_ACE, 0x1, objectBody).Bytes()), Trust::kTrusted)
        << int(type);
  }
  // Denies of every kind only refuse.
  for (BYTE type : {1, 6, 10, 12}) {
    EXPECT_EQ(Judge(CraftedAcl().Entry(type, 0, 0x1F01FF, objectBody).Bytes()), Trust::kTrusted) << int(type);
  }
  // An allow seen open says more than one that cannot be read.
  EXPECT_EQ(Judge(CraftedAcl().Entry(5, 0, 0x1, objectBody).Entry(0, 0, 0x2, users).Bytes()), Trust::kOpen);

  EXPECT_EQ(Judge(CraftedAcl().Bytes(), CodeObject::kFile, {}), Trust::kUnknown);  // no owner
  EXPECT_EQ(Judge(CraftedAcl().Bytes(), CodeObject::kFile, users), Trust::kOpen);
  EXPECT_EQ(Judge(CraftedAcl().Bytes(), CodeObject::kFile,
                  NtSid({80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u})),
            Trust::kTrusted);
  EXPECT_EQ(Judge(CraftedAcl().Bytes(), CodeObject::kFile,
                  NtSid({80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478465u})),
            Trust::kOpen);
  // Power Users where the caller says so, and the caller's accounts.
  Administrators administrators = {};
  std::vector<BYTE> powerUsers = NtSid({32, 547});
  std::vector<BYTE> acl = CraftedAcl().Bytes();
  EXPECT_EQ(TrustOfDescriptor(powerUsers.data(), reinterpret_cast<const ACL*>(acl.data()), CodeObject::kFile,
                              administrators),
            Trust::kOpen);
  administrators.powerUsers = true;
  EXPECT_EQ(TrustOfDescriptor(powerUsers.data(), reinterpret_cast<const ACL*>(acl.data()), CodeObject::kFile,
                              administrators),
            Trust::kTrusted);
  std::vector<BYTE> member = NtSid({21, 1, 2, 3, 1002});
  std::vector<BYTE> sameMember = member;
  LOCALGROUP_MEMBERS_INFO_0 members[] = {{users.data()}, {sameMember.data()}};
  EXPECT_EQ(TrustOfDescriptor(member.data(), reinterpret_cast<const ACL*>(acl.data()), CodeObject::kFile,
                              administrators),
            Trust::kOpen);
  administrators.members = members;
  administrators.memberCount = 1;
  EXPECT_EQ(TrustOfDescriptor(member.data(), reinterpret_cast<const ACL*>(acl.data()), CodeObject::kFile,
                              administrators),
            Trust::kOpen);
  administrators.memberCount = 2;
  EXPECT_EQ(TrustOfDescriptor(member.data(), reinterpret_cast<const ACL*>(acl.data()), CodeObject::kFile,
                              administrators),
            Trust::kTrusted);
  // A null DACL behind a trusted owner.
  EXPECT_EQ(TrustOfDescriptor(member.data(), nullptr, CodeObject::kFile, administrators), Trust::kOpen);
}

}  // namespace
