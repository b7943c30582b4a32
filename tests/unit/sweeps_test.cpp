#include <gtest/gtest.h>

#include <string.h>

#include "files/sweeps.h"
#include "support/sandbox.h"

namespace {

TEST(StripLastDirectory, CutsOneDirectoryAndKeepsTheBackslash) {
  struct {
    const char* path;
    const char* result;
  } const cases[] = {
      {"C:\\APP\\SYSTEM\\", "C:\\APP\\"},
      {"C:\\APP\\SYSTEM\\\\", "C:\\APP\\SYSTEM\\"},  // only the doubled one goes
      {"C:\\APP\\", "C:\\"},
      {"C:\\APP\\SYSTEM", "C:\\APP\\SYSTEM"},  // no trailing backslash: unchanged
      {"C:/APP/", "C:/APP/"},                  // only the backslash separates
      {"", ""},
      {"C:\\", "C:\\"},  // a drive root has nothing above it
      {"\\", "\\"},
      {"\\\\", "\\"},
      {"APP\\", "APP\\"},
      {"\\APP\\", "\\"},
  };
  for (const auto& each : cases) {
    char path[32];
    memset(path, '#', sizeof(path));
    strcpy(path, each.path);
    const size_t length = strlen(each.path);
    StripLastDirectory(path);
    EXPECT_STREQ(path, each.result) << each.path;
    EXPECT_EQ(path[length + 1], '#') << each.path;  // nothing written past the old end
  }
}

#ifndef _WIN32
class DoubleByteStrip : public SandboxTest {};

// Host only (the Wine suites run in code page 1252): in code page 932 the
// second byte of a letter is never the backslash that ends a directory.
TEST_F(DoubleByteStrip, CutsWholeLetters) {
  ReopenMachine("code page=932");
  struct {
    const char* path;
    const char* result;
  } const cases[] = {
      {"C:\\APPS\\\x92\xca\x90\x4d\x83\x5c\\", "C:\\APPS\\"},   // 通信ソ ends in 0x5C
      {"C:\\\x83\x5c\\SYSTEM\\\\", "C:\\\x83\x5c\\SYSTEM\\"},  // ソ
      {"C:\\\x83\x5c\\", "C:\\"},
      {"C:\\APP\\\x83\x5c", "C:\\APP\\\x83\x5c"},  // ends in a letter, not a backslash
      {"\x83\x5c\\", "\x83\x5c\\"},
  };
  for (const auto& each : cases) {
    char path[32];
    strcpy(path, each.path);
    StripLastDirectory(path);
    EXPECT_STREQ(path, each.result) << each.path;
  }
}
#endif

// The product's tree, and what the sweeps leave of it.
class Sweeps : public SandboxTest {
 protected:
  void Files(std::initializer_list<const char*> paths) {
    for (const char* path : paths) WriteBytes(path, "data");
  }
};

// Which files go from which of the three directories.
TEST_F(Sweeps, ProductFilesByDirectory) {
  Files(
      {"C:\\APP\\TAVUPD.INF",           "C:\\APP\\SYSTEM\\TAVUPD.INF",    "C:\\APP\\SYSTEM\\TAVUPD.EXE",
       "C:\\APP\\SYSTEM\\APP\\DLG.XBH", "C:\\APP\\SYSTEM\\APP\\KEEP.XBH", "C:\\APP\\USER\\A.VID",
       "C:\\APP\\SYSTEM\\A.VID",        "C:\\APP\\USER\\XFRLOGS1.TXT",    "C:\\APP\\SYSTEM\\XFRLOGS.TXT",
       "C:\\APP\\USER\\SESLOGS.TXT",    "C:\\APP\\SYSTEM\\SESLOGS9.TXT",  "C:\\APP\\SYSTEM\\HELP.GID",
       "C:\\APP\\USER\\HELP.GID",       "C:\\APP\\SYSTEM\\HELP.FTS",      "C:\\APP\\USER\\HELP.FTS",
       "C:\\APP\\SYSTEM\\USER.PW",      "C:\\APP\\SYSTEM\\MAIL\\IN.MBX",  "C:\\APP\\SYSTEM\\NETQUEUE\\Q\\J.Q",
       "C:\\APP\\SYSTEM\\KEEP.DLL",     "C:\\APP\\USER\\FAX.SFF"});
  WriteBytes(WindowsDirectory() + "\\TAVFAXDV.INI", "x");
  char programDir[] = "C:\\APP\\SYSTEM\\";
  HeldDirectories held = {};
  EXPECT_EQ(CleanProductFiles("C:\\APP\\", programDir, "C:\\APP\\USER\\", &held), 0);
  for (const char* gone :
       {"C:\\APP\\TAVUPD.INF", "C:\\APP\\SYSTEM\\TAVUPD.EXE", "C:\\APP\\SYSTEM\\APP\\DLG.XBH",
        "C:\\APP\\USER\\A.VID", "C:\\APP\\USER\\XFRLOGS1.TXT", "C:\\APP\\SYSTEM\\XFRLOGS.TXT",
        "C:\\APP\\USER\\SESLOGS.TXT", "C:\\APP\\SYSTEM\\SESLOGS9.TXT", "C:\\APP\\SYSTEM\\HELP.GID",
        "C:\\APP\\SYSTEM\\HELP.FTS", "C:\\APP\\SYSTEM\\USER.PW", "C:\\APP\\SYSTEM\\MAIL",
        "C:\\APP\\SYSTEM\\NETQUEUE"}) {
    EXPECT_FALSE(PathExists(gone)) << gone;
  }
  for (const char* kept : {"C:\\APP\\SYSTEM\\TAVUPD.INF", "C:\\APP\\SYSTEM\\APP\\KEEP.XBH",
                           "C:\\APP\\SYSTEM\\A.VID", "C:\\APP\\USER\\HELP.GID", "C:\\APP\\USER\\HELP.FTS",
                           "C:\\APP\\SYSTEM\\KEEP.DLL", "C:\\APP\\USER\\FAX.SFF"}) {
    EXPECT_TRUE(PathExists(kept)) << kept;
  }
  EXPECT_FALSE(PathExists(WindowsDirectory() + "\\TAVFAXDV.INI"));
  EXPECT_STREQ(programDir, "C:\\");
}

// An emptied program directory goes and so does the one above it, for a
// value stored with a backslash (P ends in two) and without, whether the
// directories are held (NT) or not (Windows 95).
TEST_F(Sweeps, EmptiedProgramDirectoryAndTheOneAboveGo) {
  HeldDirectories held = {};
  for (HeldDirectories* holds : {&held, static_cast<HeldDirectories*>(nullptr)})
  for (const char* program : {"C:\\APP\\SYSTEM\\\\", "C:\\APP\\SYSTEM\\"}) {
    Files({"C:\\APP\\SYSTEM\\SRV\\S.CFG"});
    char programDir[32];
    char root[32];
    strcpy(programDir, program);
    strcpy(root, program);
    StripLastDirectory(root);  // the removal's own way to the directory above
    CleanProductFiles(root, programDir, "C:\\APP\\USER\\", holds);
    EXPECT_FALSE(PathExists("C:\\APP")) << program;
    EXPECT_TRUE(PathExists("C:\\TESTLOG")) << program;  // C:\ itself never goes
  }
}

#ifndef _WIN32
// Host only: Windows keeps ANSI paths below 260 characters.
TEST_F(Sweeps, PathsTooLongForTheirBufferAreSkipped) {
  std::string directory = "C:\\APP";
  while (directory.size() < 440) directory += "\\ABCDEFGH";
  const std::string longName = directory + "\\" + std::string(80, 'N') + ".TXT";  // past 520 characters
  WriteBytes(longName, "x");
  WriteBytes(directory + "\\S.TXT", "x");
  DeleteFiles((directory + "\\").c_str(), "*.TXT", true);
  EXPECT_TRUE(PathExists(longName));
  EXPECT_FALSE(PathExists(directory + "\\S.TXT"));
  RemoveDirectoryTree("C:\\APP\\", true);
  EXPECT_TRUE(PathExists(longName));  // and the directories that hold it
}
#endif

}  // namespace
