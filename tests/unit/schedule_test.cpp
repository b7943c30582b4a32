#include <gtest/gtest.h>

#include <string>

#include "files/schedule.h"
#include "support/sandbox.h"

#ifndef _WIN32
#include "win32/hostapi.h"
#endif

namespace {

const char kIni[] = "C:\\SANDBOX\\WININIT.INI";
const char kValue[] = "C:\\WINDOWS\\TAVUNINS.EXE";

class WininitEntries : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    MakeDirectories("C:\\SANDBOX");
  }
  // The file after one entry was added to `before` (null: no file yet).
  std::string AfterAdding(const std::string* before) {
    if (before != nullptr) WriteBytes(kIni, *before);
    IniAddEntry("Rename", "NUL", kValue, kIni);
    std::string after;
    EXPECT_TRUE(ReadBytes(kIni, &after));
    return after;
  }
};

TEST_F(WininitEntries, WhereTheEntryGoes) {
  EXPECT_EQ(AfterAdding(nullptr), "[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE");  // no file yet
  const std::string zero("[x]\r\n\0[Rename]\r\n", 16);
  struct {
    const char* what;
    std::string before;
    std::string after;
  } const cases[] = {
      {"first line of an existing section", "[Other]\r\nA=1\r\n[Rename]\r\nNUL=C:\\OLD.EXE\r\n[Last]\r\n",
       "[Other]\r\nA=1\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\nNUL=C:\\OLD.EXE\r\n[Last]\r\n"},
      {"letters in another case", "[rENAME]\r\n", "[rENAME]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\n"},
      {"blanks inside the brackets", "[ Rename ]\r\n",
       "[ Rename ]\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"another name as long", "[Delete]\r\n", "[Delete]\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"a longer name", "[Renamed]\r\nX=1\r\n",
       "[Renamed]\r\nX=1\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"search goes on after the [", "[a[Rename]\r\n", "[a[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\n"},
      {"first match wins", "[Rename]\r\n[RENAME]\r\n",
       "[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\n[RENAME]\r\n"},
      {"header as the last line", "[Rename]", "[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      // Text after the bracket stays on the header's line.
      {"comment after the header", "[Rename] ; pending\r\nNUL=C:\\OLD.EXE\r\n",
       "[Rename] ; pending\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\nNUL=C:\\OLD.EXE\r\n"},
      // A header must start its own line, or Windows 95 would not find it.
      {"last line without a break", "[boot]\r\nshell=Explorer.exe",
       "[boot]\r\nshell=Explorer.exe\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"empty file", "", "[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"one byte", "x", "x\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"last line of one character", "[a]\r\nx", "[a]\r\nx\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"a name without its [", "xRename]\r\n", "xRename]\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"brackets that never close", "[[[\r\n", "[[[\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
      {"one ] for several [", "[x[y[Rename]\r\n", "[x[y[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\n"},
      {"a zero byte ends the search, not the file", zero, zero + "[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE"},
  };
  for (const auto& each : cases) {
    EXPECT_EQ(AfterAdding(&each.before), each.after) << each.what;
  }
}

#ifndef _WIN32
// Host only (another code page on demand): in code page 932 a letter of two
// bytes may end in [ (0x83 0x5B is a katakana letter): the header is found
// by letters, as Windows 95 of that language reads the file, and that [ is
// no header's.
TEST_F(WininitEntries, HeadersAreFoundByLetters) {
  ReopenMachine("code page=932");
  const std::string before = "\x83[Rename]\r\nNUL=C:\\OLD.EXE\r\n";
  EXPECT_EQ(AfterAdding(&before), before + "[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE");
  const std::string real = "[\x83]]\r\n[Rename]\r\n";
  EXPECT_EQ(AfterAdding(&real), "[\x83]]\r\n[Rename]\r\nNUL=C:\\WINDOWS\\TAVUNINS.EXE\r\n");
}

// Host only: failing file calls on purpose.
TEST_F(WininitEntries, FailedWritePutsTheFileBack) {
  const std::string before = "[Other]\r\nA=1\r\n[Rename]\r\nNUL=C:\\OLD.EXE\r\n[Last]\r\nB=2\r\n";
  struct {
    const char* what;
    const char* call;
    unsigned long after;
  } const cases[] = {
      {"write", "WriteFile", 0},  {"truncation", "SetEndOfFile", 0}, {"positioning", "SetFilePointer", 0},
      {"size", "GetFileSize", 0}, {"read", "ReadFile", 0},
  };
  for (const auto& each : cases) {
    WriteBytes(kIni, before);
    HostFailCall(each.call, each.after);
    IniAddEntry("Rename", "NUL", kValue, kIni);
    HostClearFaults();
    std::string text;
    ASSERT_TRUE(ReadBytes(kIni, &text));
    EXPECT_EQ(text, before) << each.what;
  }
}

// Host only: a Windows 95 machine, which refuses MoveFileExA. A file in use
// goes into WININIT.INI by its short name; one that has none is not written.
TEST_F(WininitEntries, FileInUseOnWindows95GoesInByItsShortName) {
  ReopenMachine("platform=95");
  const std::string wininit = WindowsDirectory() + "\\WININIT.INI";
  DeleteOrScheduleFile("C:\\WINDOWS\\VANISHED.EXE");
  EXPECT_FALSE(PathExists(wininit));
  const std::string path = "C:\\Programme\\Communication Suite\\Uninstaller.exe";
  WriteBytes(path, "x");
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DeleteOrScheduleFile(path.c_str());
  CloseHandle(held);
  std::string text;
  ASSERT_TRUE(ReadBytes(wininit, &text));
  EXPECT_EQ(text, "[Rename]\r\nNUL=C:\\PROGRA~1\\COMMUN~1\\UNINST~1.EXE");
}
#endif

}  // namespace
