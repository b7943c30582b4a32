#include <gtest/gtest.h>

#include <string.h>

#include "common/paths.h"
#include "files/sweeps.h"
#include "support/product_files.h"
#include "support/sandbox.h"

namespace {

// The product's tree, and what the sweeps by name (Windows 95) leave of it.
class Sweeps : public SandboxTest {
 protected:
  void Files(std::initializer_list<const char*> paths) {
    for (const char* path : paths) WriteBytes(path, "data");
  }
};

// Which files go from which of the three directories.
TEST_F(Sweeps, ProductFilesByDirectory) {
  for (const char* path : kProductFiles) WriteBytes(path, "data");
  WriteBytes(WindowsDirectory() + "\\TAVFAXDV.INI", "x");
  char programDir[] = "C:\\APP\\SYSTEM\\";
  EXPECT_EQ(CleanProductFiles("C:\\APP\\", programDir, "C:\\APP\\USER\\"), 0);
  for (const char* gone : kProductFilesGone) EXPECT_FALSE(PathExists(gone)) << gone;
  for (const char* kept : kProductFilesKept) EXPECT_TRUE(PathExists(kept)) << kept;
  EXPECT_FALSE(PathExists("C:\\APP\\TAVUPD.INF"));
  EXPECT_TRUE(PathExists("C:\\APP\\SYSTEM\\TAVUPD.INF"));
  EXPECT_FALSE(PathExists(WindowsDirectory() + "\\TAVFAXDV.INI"));
  EXPECT_STREQ(programDir, "C:\\");
}

// An emptied program directory goes and so does the one above it, for a
// value stored with a backslash (P ends in two) and without.
TEST_F(Sweeps, EmptiedProgramDirectoryAndTheOneAboveGo) {
  for (const char* program : {"C:\\APP\\SYSTEM\\\\", "C:\\APP\\SYSTEM\\"}) {
    Files({"C:\\APP\\SYSTEM\\SRV\\S.CFG"});
    char programDir[32];
    char root[32];
    strcpy(programDir, program);
    strcpy(root, program);
    StripLastDirectory(root);  // the removal's own way to the directory above
    CleanProductFiles(root, programDir, "C:\\APP\\USER\\");
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
  DeleteFiles((directory + "\\").c_str(), "*.TXT");
  EXPECT_TRUE(PathExists(longName));
  EXPECT_FALSE(PathExists(directory + "\\S.TXT"));
  RemoveDirectoryTree("C:\\APP\\");
  EXPECT_TRUE(PathExists(longName));  // and the directories that hold it
}
#endif

}  // namespace
