// Win32 behaviour the program relies on. These run against the host layer and
// against real Win32 alike, so that the two cannot drift apart unnoticed.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "main/process.h"
#include "support/sandbox.h"

namespace {

class Win32 : public SandboxTest {};

TEST_F(Win32, DirectoriesReportTheSizeTheyNeed) {
  const std::string windows = WindowsDirectory();
  for (auto query : {&GetWindowsDirectoryA, &GetSystemDirectoryA}) {
    char buffer[MAX_PATH];
    const UINT length = query(buffer, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(strlen(buffer), length);
    EXPECT_NE(buffer[length - 1], '\\');
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(query(buffer, length), length + 1);  // no room for the terminator
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(query(buffer, length + 1), length);
  }
  EXPECT_EQ(SystemDirectory().compare(0, windows.size() + 1, windows + "\\"), 0);
}

TEST_F(Win32, ShortPathsKeepTheirShape) {
  MakeDirectories("C:\\APP\\SYSTEM");
  char out[MAX_PATH];
  struct {
    const char* path;
    const char* shortPath;
  } const cases[] = {
      {"C:\\APP\\SYSTEM", "C:\\APP\\SYSTEM"},
      {"C:\\APP\\SYSTEM\\", "C:\\APP\\SYSTEM\\"},
      {"C:\\APP\\\\SYSTEM\\\\", "C:\\APP\\\\SYSTEM\\\\"},
      {"C:\\app\\system", "C:\\APP\\SYSTEM"},  // the names as stored
  };
  for (const auto& each : cases) {
    memset(out, '#', sizeof(out));
    const DWORD length = GetShortPathNameA(each.path, out, MAX_PATH);
    EXPECT_EQ(length, strlen(each.shortPath)) << each.path;
    EXPECT_STREQ(out, each.shortPath) << each.path;
  }
  memset(out, '#', sizeof(out));
  EXPECT_EQ(GetShortPathNameA("C:\\APP\\SYSTEM", out, 5), 14u);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(GetShortPathNameA("C:\\APP\\MISSING", out, MAX_PATH), 0u);
  EXPECT_EQ(GetShortPathNameA("C:\\MISSING\\SYSTEM", out, MAX_PATH), 0u);
  EXPECT_EQ(GetShortPathNameA("", out, MAX_PATH), 0u);
}

TEST_F(Win32, FullPathsKeepTheSpellingAndTheFinalSeparator) {
  struct {
    const char* path;
    const char* full;
    const char* filePart;  // null: none
  } const cases[] = {
      {"C:\\APP\\SYSTEM\\", "C:\\APP\\SYSTEM\\", nullptr},
      {"C:\\APP\\..\\", "C:\\", nullptr},
      {"C:\\.\\", "C:\\", nullptr},
      {"C:\\Programme/TAVCOM/SYSTEM", "C:\\Programme\\TAVCOM\\SYSTEM", "SYSTEM"},
      {"c:\\app\\\\Missing.Dll", "c:\\app\\Missing.Dll", "Missing.Dll"},  // no disk, no case change
      {"C:\\APP//SYSTEM//", "C:\\APP\\SYSTEM\\", nullptr},
      {"C:\\APP\\..\\..\\..\\X", "C:\\X", "X"},
      {"C:\\APP\\SYSTEM\\..", "C:\\APP", "APP"},
      {"C:\\APP\\.", "C:\\APP", "APP"},
      {"C:\\APP\\NAME. .", "C:\\APP\\NAME", "NAME"},
      {"C:\\APP.\\X", "C:\\APP\\X", "X"},
      {"\\\\server\\share\\a\\..\\b", "\\\\server\\share\\b", "b"},
      {"\\\\server\\share\\..\\..\\x\\", "\\\\server\\share\\x\\", nullptr},
  };
  for (const auto& each : cases) {
    char out[MAX_PATH];
    char* filePart = out;
    const DWORD length = GetFullPathNameA(each.path, MAX_PATH, out, &filePart);
    EXPECT_EQ(length, strlen(each.full)) << each.path;
    EXPECT_STREQ(out, each.full) << each.path;
    EXPECT_STREQ(filePart, each.filePart) << each.path;
  }
  // Too small a buffer: the size needed, terminator included, and the buffer untouched.
  char out[16];
  memset(out, '#', sizeof(out));
  EXPECT_EQ(GetFullPathNameA("C:\\APP\\SYSTEM", 13, out, nullptr), 14u);
  EXPECT_EQ(GetFullPathNameA("C:\\APP\\SYSTEM", 0, nullptr, nullptr), 14u);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(GetFullPathNameA("C:\\APP\\SYSTEM", 14, out, nullptr), 13u);
  EXPECT_EQ(GetFullPathNameA("", MAX_PATH, out, nullptr), 0u);
}

TEST_F(Win32, AnUnquotedProgramIsTheShortestRunOfTheLineThatNamesAFile) {
  // RunProgram gives 1 for a program that ran and ended with 0.
  const auto runs = [](std::string line) { return RunProgram(&line[0], 1, ""); };
  InstallStandIn("C:\\APP\\Other Tool\\UNINST.EXE");
  EXPECT_EQ(runs("C:\\APP\\Other Tool\\UNINST.EXE --exit=0"), 1);
  // C:\APP\Other.exe comes first once it exists, program or not.
  WriteBytes("C:\\APP\\Other.exe", "not a program");
  EXPECT_EQ(runs("C:\\APP\\Other Tool\\UNINST.EXE --exit=0"), 0);
  EXPECT_EQ(runs("\"C:\\APP\\Other Tool\\UNINST.EXE\" --exit=0"), 1);
}

TEST_F(Win32, RegistryFollowsNtRules) {
  CreateKey(HKEY_CURRENT_USER, "Software\\PreuninstTest\\Parent\\Child");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PreuninstTest\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "software\\preuninsttest\\parent\\CHILD"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PreuninstTest\\Parent"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PreuninstTest\\Parent"), ERROR_FILE_NOT_FOUND);

  SetString(HKEY_CURRENT_USER, "Software\\PreuninstTest", "v", "hello");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\PreuninstTest", 0, KEY_READ, &key), ERROR_SUCCESS);
  BYTE data[4];
  memset(data, '#', sizeof(data));
  DWORD type = 0;
  DWORD size = sizeof(data);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  const BYTE one = 1;
  EXPECT_EQ(RegSetValueExA(key, "w", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED);  // opened for reading
  RegCloseKey(key);
}

}  // namespace
