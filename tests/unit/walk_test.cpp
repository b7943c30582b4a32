#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/later_calls.h"
#include "files/walk.h"
#include "main/program_directory.h"
#include "support/product_files.h"
#include "support/sandbox.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "win32/hostapi.h"
#endif

namespace {

// The product's clean-up on NT: its places held, the tree walked through
// the holds' handles.
class Walk : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    later_ = {};
    FindLaterCalls(&later_);
    ASSERT_TRUE(FindNativeCalls(later_, &calls_));
  }

  // value: the directory value as the registry holds it.
  void CleanUp(const char* value) {
    char directory[260];
    strcpy(directory, value);
    while (strlen(directory) > 3 && directory[strlen(directory) - 1] == '\\') directory[strlen(directory) - 1] = '\0';
    ProgramPlaces places = {};
    ASSERT_TRUE(HoldPlaces(directory, later_, &places)) << value;
    ProductTree tree;
    ASSERT_TRUE(OpenProductTree(places, value, &tree)) << value;
    CleanProductTree(calls_, tree, &places.held);
    CloseProductTree(&tree);
    ReleaseAllHeld(&places.held);
  }

  LaterCalls later_;
  NativeCalls calls_;
};

// A name as NT keeps it: the letters given and the suffix, one letter or
// the longest Windows allows; longer is no name.
TEST(WidenName, TakesTheLettersGivenAndTheSuffix) {
  const std::string longest(kMaxNameLength, 'N');
  const std::string tooLong = longest + "N";
  struct {
    std::string name;
    const char* suffix;
    bool had;
  } const cases[] = {
      {"S", "", true}, {"SYSTEM", "USER", true}, {"", "USER", true}, {longest, "", true},
      {longest, "U", false}, {tooLong, "", false},
  };
  for (const auto& each : cases) {
    WideName name;
    const bool had = WidenName(each.name.c_str(), each.name.size(), each.suffix, &name);
    EXPECT_EQ(had, each.had) << each.name.size() << each.suffix;
    if (!had) continue;
    const std::string wanted = each.name + each.suffix;
    ASSERT_EQ(name.length, wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) EXPECT_EQ(name.text[i], static_cast<WCHAR>(wanted[i])) << i;
  }
}

// Which files go from which of the three directories: R is P itself for a
// value that ends in a backslash.
TEST_F(Walk, ProductFilesByDirectory) {
  for (const char* path : kProductFiles) WriteBytes(path, "data");
  WriteBytes(WindowsDirectory() + "\\TAVFAXDV.INI", "x");
  CleanUp("C:\\APP\\SYSTEM\\");
  for (const char* gone : kProductFilesGone) EXPECT_FALSE(PathExists(gone)) << gone;
  for (const char* kept : kProductFilesKept) EXPECT_TRUE(PathExists(kept)) << kept;
  EXPECT_FALSE(PathExists("C:\\APP\\SYSTEM\\TAVUPD.INF"));
  EXPECT_TRUE(PathExists("C:\\APP\\TAVUPD.INF"));
  // The Windows directory's file is no part of the tree.
  EXPECT_TRUE(PathExists(WindowsDirectory() + "\\TAVFAXDV.INI"));
}

// An emptied program directory goes, and so does the one above it but for
// a drive's root, whose own TAVUPD.INF and whose U go where the value puts
// them (C:\APP: R is C:\, U is C:\APPUSER\).
TEST_F(Walk, EmptiedProgramDirectoryAndTheOneAboveGo) {
  for (const char* value : {"C:\\APP\\SYSTEM\\", "C:\\APP\\SYSTEM", "C:\\APP"}) {
    std::string directory = value;
    if (directory.back() == '\\') directory.pop_back();
    WriteBytes(directory + "\\SRV\\S.CFG", "settings");
    WriteBytes("C:\\TAVUPD.INF", "the root's");
    WriteBytes("C:\\APPUSER\\A.VID", "recording");
    CleanUp(value);
    const bool belowTheRoot = directory == "C:\\APP";
    EXPECT_FALSE(PathExists("C:\\APP")) << value;
    EXPECT_EQ(PathExists("C:\\TAVUPD.INF"), !belowTheRoot) << value;
    EXPECT_EQ(PathExists("C:\\APPUSER\\A.VID"), !belowTheRoot) << value;
    EXPECT_TRUE(PathExists("C:\\APPUSER")) << value;  // U itself stays
    EXPECT_TRUE(PathExists("C:\\TESTLOG")) << value;  // and so does the drive's root
  }
  // Deeper, the directory above P goes relative to the one above it.
  WriteBytes("C:\\X\\APP\\SYSTEM\\SRV\\S.CFG", "settings");
  CleanUp("C:\\X\\APP\\SYSTEM\\");
  EXPECT_FALSE(PathExists("C:\\X\\APP"));
  EXPECT_TRUE(PathExists("C:\\X"));
}

// Hidden and system files go like any other; a read-only file stays, and
// with it its directory and every one above it in the tree.
TEST_F(Walk, WhatStaysKeepsItsDirectories) {
  WriteBytes("C:\\APP\\SYSTEM\\HUBCORE.DLL", "core");
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\DEEP\\KEEP.TMP", "read-only");
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\DEEP\\GONE.TMP", "x");
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\HIDDEN.TMP", "x");
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\OTHER\\A.TMP", "x");
  WriteBytes("C:\\APP\\SYSTEM\\INFO\\SYSTEM.INF", "x");
  // Entries of long names take more than 256 bytes of a listing each.
  const std::string longName = "C:\\APP\\SYSTEM\\TMP\\" + std::string(150, 'L');
  WriteBytes(longName + "1.TMP", "x");
  WriteBytes(longName + "2.TMP", "x");
  ASSERT_TRUE(SetFileAttributesA("C:\\APP\\SYSTEM\\TMP\\DEEP\\KEEP.TMP", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA("C:\\APP\\SYSTEM\\TMP\\HIDDEN.TMP", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\APP\\SYSTEM\\INFO\\SYSTEM.INF", FILE_ATTRIBUTE_SYSTEM));
  CleanUp("C:\\APP\\SYSTEM");
  EXPECT_TRUE(PathExists("C:\\APP\\SYSTEM\\TMP\\DEEP\\KEEP.TMP"));
  for (const char* gone : {"C:\\APP\\SYSTEM\\TMP\\DEEP\\GONE.TMP", "C:\\APP\\SYSTEM\\TMP\\HIDDEN.TMP",
                           "C:\\APP\\SYSTEM\\TMP\\OTHER", "C:\\APP\\SYSTEM\\INFO"}) {
    EXPECT_FALSE(PathExists(gone)) << gone;
  }
  EXPECT_FALSE(PathExists(longName + "1.TMP"));
  EXPECT_FALSE(PathExists(longName + "2.TMP"));
  SetFileAttributesA("C:\\APP\\SYSTEM\\TMP\\DEEP\\KEEP.TMP", FILE_ATTRIBUTE_NORMAL);
}

#ifndef _WIN32
// Host only: Wine 8 follows a link even when asked for the link itself.
// A link in the tree is removed itself; where it leads stays untouched.
TEST_F(Walk, LinksAreRemovedNeverEntered) {
  WriteBytes("C:\\APP\\SYSTEM\\HUBCORE.DLL", "core");
  WriteBytes("C:\\OTHER\\KEEP.TXT", "another program's");
  WriteBytes("C:\\OTHER\\MAIL.MBX", "another program's");
  MakeDirectories("C:\\APP\\SYSTEM\\MAIL");
  ASSERT_TRUE(CreateSymbolicLinkA("C:\\APP\\SYSTEM\\MAIL\\OUT", "C:\\OTHER", SYMBOLIC_LINK_FLAG_DIRECTORY));
  ASSERT_TRUE(CreateSymbolicLinkA("C:\\APP\\SYSTEM\\TMP", "C:\\OTHER", SYMBOLIC_LINK_FLAG_DIRECTORY));
  ASSERT_TRUE(CreateSymbolicLinkA("C:\\APP\\USER", "C:\\OTHER", SYMBOLIC_LINK_FLAG_DIRECTORY));
  WriteBytes("C:\\OTHER\\SESSION.VID", "another program's");
  CleanUp("C:\\APP\\SYSTEM\\");
  for (const char* kept : {"C:\\OTHER\\KEEP.TXT", "C:\\OTHER\\MAIL.MBX", "C:\\OTHER\\SESSION.VID"}) {
    EXPECT_TRUE(PathExists(kept)) << kept;
  }
  EXPECT_FALSE(PathExists("C:\\APP\\SYSTEM\\MAIL"));
  EXPECT_FALSE(PathExists("C:\\APP\\SYSTEM\\TMP"));
  EXPECT_TRUE(PathExists("C:\\APP\\USER"));  // U is never removed, a link there neither
}

// Host only (names made on the host): no path is built, so a name no Win32
// path reaches as itself goes where its pattern matches it.
TEST_F(Walk, NamesNoPathCanSpellGoWhereTheyMatch) {
  WriteBytes("C:\\APP\\SYSTEM\\HUBCORE.DLL", "core");
  MakeDirectories("C:\\APP\\SYSTEM\\MAIL");
  const std::string host = HostPathOf("C:\\APP\\SYSTEM");
  for (const char* name : {"/MAIL/LETTER.", "/MAIL/NOTE ", "/HELP.GID.", "/XFRLOGS1.TXT"}) {
    close(open((host + name).c_str(), O_CREAT | O_WRONLY, 0644));
  }
  ASSERT_EQ(mkdir((host + "/TMP").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((host + "/TMP/DIR.").c_str(), 0755), 0);
  close(open((host + "/TMP/DIR./A.TMP").c_str(), O_CREAT | O_WRONLY, 0644));
  CleanUp("C:\\APP\\SYSTEM");
  struct stat status;
  for (const char* gone : {"/MAIL", "/TMP", "/XFRLOGS1.TXT"}) {
    EXPECT_NE(lstat((host + gone).c_str(), &status), 0) << gone;
  }
  EXPECT_EQ(lstat((host + "/HELP.GID.").c_str(), &status), 0);  // its long name is no *.GID
}

// Host only (failures on demand): without every one of its native calls
// there is no walk; and where Windows refuses the option that opens a link
// itself (NT 4 may), a name is opened once more without it, and no more.
TEST_F(Walk, NativeCallsAsWindowsHasThem) {
  for (unsigned long missing = 0; missing < 4; ++missing) {
    HostFailCall("GetProcAddress", missing, ERROR_PROC_NOT_FOUND);
    NativeCalls calls;
    EXPECT_FALSE(FindNativeCalls(later_, &calls)) << missing;
    HostClearFaults();
  }
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\A.TMP", "x");
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\B.TMP", "x");
  HANDLE tmp = CreateFileA("C:\\APP\\SYSTEM\\TMP", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(tmp, INVALID_HANDLE_VALUE);
  const unsigned long kInvalidParameter = 0xC000000D;
  HostFailCall("NtCreateFile", 0, kInvalidParameter);
  DeleteMatchesIn(calls_, tmp, "A.TMP");
  EXPECT_FALSE(PathExists("C:\\APP\\SYSTEM\\TMP\\A.TMP"));
  HostFailCall("NtCreateFile", 0, kInvalidParameter);
  HostFailCall("NtCreateFile", 1, kInvalidParameter);
  DeleteMatchesIn(calls_, tmp, "B.TMP");
  EXPECT_TRUE(PathExists("C:\\APP\\SYSTEM\\TMP\\B.TMP"));
  CloseHandle(tmp);
}

// Host only (another process on demand): a directory the walk holds is
// emptied by another user and made a link to elsewhere. The walk's handle
// stays on the directory it opened: nothing where the link leads goes, and
// the link is removed as what the directory became.
TEST_F(Walk, ADirectoryMadeALinkWhileHeldLeadsNowhere) {
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\SUB\\A.TMP", "x");
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\B.TMP", "x");
  WriteBytes("C:\\LURE\\A.TMP", "another program's");
  WriteBytes("C:\\LURE\\SUB\\B.TMP", "another program's");
  ReopenMachine("[races]\nNtQueryDirectoryFile 1 = hollow C:\\APP\\SYSTEM\\TMP = C:\\LURE\n");
  HANDLE program = CreateFileA("C:\\APP\\SYSTEM", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(program, INVALID_HANDLE_VALUE);
  WideName name;
  ASSERT_TRUE(WidenName("TMP", 3, "", &name));
  RemoveTreeBelow(calls_, program, name);
  CloseHandle(program);
  for (const char* kept : {"C:\\LURE\\A.TMP", "C:\\LURE\\SUB\\B.TMP", "C:\\APP\\SYSTEM\\TMP.moved\\B.TMP",
                           "C:\\APP\\SYSTEM\\TMP.moved\\SUB\\A.TMP"}) {
    EXPECT_TRUE(PathExists(kept)) << kept;
  }
  EXPECT_FALSE(PathExists("C:\\APP\\SYSTEM\\TMP"));
}
#endif

}  // namespace
