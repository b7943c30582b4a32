#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

#include "main/uninstall.h"
#include "registry/values.h"
#include "support/boxes.h"
#include "support/sandbox.h"
#ifndef _WIN32
#include "win32/hostapi.h"
#endif

namespace {

const char kDirectoriesKey[] = "Software\\TAV Datentechnik\\TAV-COM Version 1.0\\Directories";

// A machine with the suite installed in C:\APP\SYSTEM and a stand-in for
// every program and library the removal starts or loads.
class Removal : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    InstallSuite();
  }

  void InstallSuite() {
    for (const char* program : {"TAVCC.EXE", "FXPSET.EXE", "LNKSETUP.EXE", "QBPMNLDR.EXE", "UNINST.EXE"}) {
      InstallStandIn(std::string("C:\\APP\\SYSTEM\\") + program);
    }
    InstallStandInLibrary("C:\\APP\\SYSTEM\\TAVMDM.OCX");
    InstallStandInLibrary("C:\\APP\\SYSTEM\\mxhook32.dll");
    InstallStandIn(WindowsDirectory() + "\\COMMAND.COM");
    MakeDirectories("C:\\APP\\USER");
  }

  void SetDirectory(const std::string& value) {
    SetString(HKEY_LOCAL_MACHINE, kDirectoriesKey, "SYSTEM", value);
  }

  // Runs one removal, answering Yes to the confirmation.
  int Remove(std::string commandLine = "C:\\APP\\SYSTEM\\UNINST.EXE --exit=0") {
    ScriptedBoxes boxes({IDYES});
    const int code = UninstallMain(nullptr, &commandLine[0], SW_SHOWDEFAULT);
    shown_ = boxes.Shown();
    return code;
  }

  std::vector<std::string> shown_;
};

TEST_F(Removal, ControlLibraryWithoutUnregisterIsLoadedAndReleased) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  InstallBareLibrary("C:\\APP\\SYSTEM\\TAVMDM.OCX");

  EXPECT_EQ(Remove(), 0);

  const std::vector<std::string> log = StandInLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "loaded TAVMDM.OCX");
  EXPECT_EQ(log[1], "released TAVMDM.OCX");
  EXPECT_EQ(log[2], "started C:\\APP\\SYSTEM\\\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=");
  EXPECT_EQ(shown_.size(), 2u);  // the run goes on to the restart notice
}

// Without a usable program directory only the main uninstaller runs; nothing
// is started from the root of the current drive, where a planted program
// would run with the uninstaller's rights.
TEST_F(Removal, UnusableDirectoryValueStartsNoRemover) {
  for (const char* program : {"TAVCC.EXE", "FXPSET.EXE", "LNKSETUP.EXE"}) {
    InstallStandIn(std::string("C:\\") + program);
    InstallStandIn(std::string("C:\\A\\SYSTEM\\") + program);  // where A\SYSTEM\ would lead
  }
  // Where a library named without a directory would be looked for.
  for (const std::string& directory : {std::string("C:"), WindowsDirectory(), SystemDirectory()})
    InstallStandInLibrary(directory + "\\mxhook32.dll");
  const std::string uninstaller = "C:\\APP\\SYSTEM\\UNINST.EXE --exit=0";
  const std::string onlyTheUninstaller = "started " + uninstaller + "\tflags=0 title=Uninstall";
  struct {
    const char* what;
    DWORD type;
    std::string data;
  } const cases[] = {
      {"missing", REG_NONE, ""},
      {"a number", REG_DWORD, Dword(7)},
      {"expandable", REG_EXPAND_SZ, std::string("C:\\APP\\SYSTEM\\") + '\0'},
      {"a directory that is gone", REG_SZ, std::string("C:\\GONE\\") + '\0'},
      {"a relative directory", REG_SZ, std::string("APP\\SYSTEM\\") + '\0'},
      {"a drive-relative directory", REG_SZ, std::string("C:APP\\SYSTEM\\") + '\0'},
      {"a directory without its drive", REG_SZ, std::string("\\A\\SYSTEM\\") + '\0'},
      {"a relative directory of one letter", REG_SZ, std::string("A\\SYSTEM\\") + '\0'},
      {"a device path", REG_SZ, std::string("\\\\.\\C:\\APP\\SYSTEM\\") + '\0'},
      {"a long-path prefix", REG_SZ, std::string("\\\\?\\C:\\APP\\SYSTEM\\") + '\0'},
      {"a share", REG_SZ, std::string("\\\\SERVER\\SHARE\\") + '\0'},
      {"empty", REG_SZ, std::string(1, '\0')},
  };
  for (const auto& each : cases) {
    RegDeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\TAV Datentechnik");
    if (each.type != REG_NONE) SetValue(HKEY_LOCAL_MACHINE, kDirectoriesKey, "SYSTEM", each.type, each.data);
    DeleteFileA(kStandInLog);

    EXPECT_EQ(Remove(uninstaller), 0) << each.what;

    EXPECT_EQ(StandInLog(), std::vector<std::string>{onlyTheUninstaller}) << each.what;
    EXPECT_EQ(shown_.size(), 2u) << each.what;  // the run completes with the restart notice
  }
}

// Only Windows and what lies above it are refused: C:\WINDO is neither.
TEST_F(Removal, ADirectoryThatOnlyBeginsLikeWindowsIsUsable) {
  const std::string lookalike = WindowsDirectory().substr(0, WindowsDirectory().size() - 2);
  InstallStandIn(lookalike + "\\TAVCC.EXE");
  SetDirectory(lookalike + "\\");
  EXPECT_EQ(Remove(), 0);
  const std::vector<std::string> log = StandInLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "started " + lookalike + "\\\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=");
}

TEST_F(Removal, UnterminatedValueIsUsedUpToItsLength) {
  SetValue(HKEY_LOCAL_MACHINE, kDirectoriesKey, "SYSTEM", REG_SZ, "C:\\APP\\SYSTEM");
  EXPECT_EQ(Remove(), 0);
  const std::vector<std::string> log = StandInLog();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], "started C:\\APP\\SYSTEM\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=");
}

#ifndef _WIN32
// Host only: another drive's root is no place for a product either, though
// Windows lies elsewhere; and Windows keeps ANSI paths below 260 characters,
// so a longer value is no full path GetFullPathNameA can give. Nothing is
// started or swept from either.
TEST_F(Removal, AnotherDrivesRootAndValuesLongerThanAWindowsPathAreUnusable) {
  ASSERT_EQ(mkdir((machineDirectory_ + "/drive_d").c_str(), 0755), 0);
  InstallStandIn("D:\\TAVCC.EXE");
  std::string tooLong = "C:";
  while (tooLong.size() < 300) tooLong += "\\ABCDEFGH";
  for (const std::string& directory : {std::string("D:"), tooLong}) {
    WriteBytes(directory + "\\TAVUPD.EXE", "another program's");
    SetDirectory(directory + "\\");
    DeleteFileA(kStandInLog);

    EXPECT_EQ(Remove(), 0);

    EXPECT_EQ(StandInLog().size(), 1u) << directory;  // the main uninstaller alone
    EXPECT_TRUE(PathExists(directory + "\\TAVUPD.EXE")) << directory;
  }
}

// Where Windows' own directories cannot be had, nothing rules out that the
// value is one of them: it is unusable, and only the main uninstaller runs.
TEST_F(Removal, ValueUnusableWhereWindowsPlacesCannotBeHad) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  for (const char* call : {"GetWindowsDirectoryA", "GetSystemDirectoryA"}) {
    WriteBytes("C:\\APP\\SYSTEM\\TMP\\A.TMP", "x");
    DeleteFileA(kStandInLog);
    for (unsigned long after = 0; after < 12; ++after) HostFailCall(call, after);

    EXPECT_EQ(Remove(), 0) << call;
    HostClearFaults();

    EXPECT_EQ(StandInLog().size(), 1u) << call;  // the main uninstaller alone
    EXPECT_TRUE(PathExists("C:\\APP\\SYSTEM\\TMP\\A.TMP")) << call;
  }
}
#endif

}  // namespace
