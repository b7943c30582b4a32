#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/uninstall.h"
#include "support/boxes.h"
#include "support/sandbox.h"
#include "text/texts.h"

#ifndef _WIN32
#include <sys/stat.h>

#include "win32/hostapi.h"
#endif

namespace {

const char kDirectoriesKey[] = "Software\\TAV Datentechnik\\TAV-COM Version 1.0\\Directories";
const char kCaptionText[] = "Deinstallationsprogramm";
const std::string kConfirmation =
    "Wollen Sie das folgende Programm wirklich entfernen: TAV-COM f\xFCr Windows 95 und NT";

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

  // Runs one removal, answering the confirmation with `answer`.
  int Remove(int answer, std::string commandLine = "C:\\APP\\SYSTEM\\UNINST.EXE --exit=0") {
    ScriptedBoxes boxes({answer});
    const int code = UninstallMain(nullptr, &commandLine[0], SW_SHOWDEFAULT);
    shown_ = boxes.Shown();
    return code;
  }

  std::vector<ShownBox> shown_;
};

TEST_F(Removal, DecliningChangesNothing) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  WriteBytes("C:\\APP\\SYSTEM\\HUBCORE.DLL", "core");
  SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
           (SystemDirectory() + "\\AWLHUT32.DLL").c_str(), 3);
  WriteBytes(SystemDirectory() + "\\MFC40.DLL", "mfc");
#ifndef _WIN32
  std::string error;
  ASSERT_TRUE(HostSaveMachine(&error)) << error;
  struct stat before;
  ASSERT_EQ(stat((machineDirectory_ + "/registry.reg").c_str(), &before), 0);
#endif
  const std::string snapshot = MachineSnapshot();

  EXPECT_EQ(Remove(IDNO), 1);

  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].caption, kCaptionText);
  EXPECT_EQ(shown_[0].text, kConfirmation);
  EXPECT_EQ(shown_[0].type, static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_TRUE(StandInLog().empty());
  EXPECT_EQ(MachineSnapshot(), snapshot);
#ifndef _WIN32
  ASSERT_TRUE(HostSaveMachine(&error)) << error;
  struct stat after;
  ASSERT_EQ(stat((machineDirectory_ + "/registry.reg").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);  // not even written back
  EXPECT_EQ(after.st_ino, before.st_ino);
#endif
}

TEST_F(Removal, NtStartsItsRemoversInOrder) {
  SetDirectory("C:\\APP\\SYSTEM\\");  // stored with a backslash: P ends in two

  EXPECT_EQ(Remove(IDYES), 0);

  const std::vector<std::string> expected = {
      "loaded TAVMDM.OCX",
      "called TAVMDM.OCX!DllUnregisterServer",
      "released TAVMDM.OCX",
      "started C:\\APP\\SYSTEM\\\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=",
      "started C:\\APP\\SYSTEM\\\\FXPSET.EXE -r -d\tflags=0 title=",
      "started C:\\APP\\SYSTEM\\\\LNKSETUP.EXE -r\tflags=0 title=",
      "loaded mxhook32.dll",
      "called mxhook32.dll!RemoveMailHook",
      "released mxhook32.dll",
      "started C:\\APP\\SYSTEM\\UNINST.EXE --exit=0\tflags=0 title=Uninstall",
  };
  EXPECT_EQ(StandInLog(), expected);
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[1].caption, kCaptionText);
  EXPECT_EQ(shown_[1].text, kRestartNotice);
  EXPECT_EQ(shown_[1].type, static_cast<unsigned>(MB_OK | MB_ICONWARNING));
}

TEST_F(Removal, ValueWithoutTrailingBackslashGivesSingleBackslashes) {
  SetDirectory("C:\\APP\\SYSTEM");

  EXPECT_EQ(Remove(IDYES), 0);

  const std::vector<std::string> log = StandInLog();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], "started C:\\APP\\SYSTEM\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=");
  EXPECT_EQ(log[4], "started C:\\APP\\SYSTEM\\FXPSET.EXE -r -d\tflags=0 title=");
  EXPECT_EQ(log[5], "started C:\\APP\\SYSTEM\\LNKSETUP.EXE -r\tflags=0 title=");
}

TEST_F(Removal, FailedMainUninstallerStopsBeforeTheCleanUp) {
  SetDirectory("C:\\APP\\SYSTEM\\");

  EXPECT_EQ(Remove(IDYES, "C:\\APP\\SYSTEM\\UNINST.EXE --exit=1"), 0);

  const std::vector<std::string> log = StandInLog();
  ASSERT_EQ(log.size(), 10u);  // removers and both hooks ran first
  EXPECT_EQ(log.back(), "started C:\\APP\\SYSTEM\\UNINST.EXE --exit=1\tflags=0 title=Uninstall");
  EXPECT_EQ(shown_.size(), 1u);  // no restart notice
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kDirectoriesKey));
}

TEST_F(Removal, MainUninstallerThatCannotStartCountsAsFailed) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  EXPECT_EQ(Remove(IDYES, "C:\\APP\\SYSTEM\\MISSING.EXE"), 0);
  EXPECT_EQ(shown_.size(), 1u);
  EXPECT_EQ(Remove(IDYES, ""), 0);
  EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(Removal, ComponentInUseEndsTheRunBeforeAnythingIsStarted) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  const std::string counts = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
  const std::string library = SystemDirectory() + "\\AWLHUT32.DLL";
  SetDword(HKEY_LOCAL_MACHINE, counts, library.c_str(), 3);
  WriteBytes(SystemDirectory() + "\\MFC40.DLL", "runtime");
  std::vector<HANDLE> held;
  for (const char* name : {"HUBCORE.DLL", "DKUI.EXE"}) {
    const std::string path = std::string("C:\\APP\\SYSTEM\\") + name;
    WriteBytes(path, "component");
    held.push_back(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  }

  EXPECT_EQ(Remove(IDYES), 0);

  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[1].text, std::string(kComponentInUseWarning) + "(C:\\APP\\SYSTEM\\\\HUBCORE.DLL)");
  EXPECT_TRUE(StandInLog().empty());  // no library called, no program started
  // The guard was set and taken down again.
  DWORD type = 0;
  std::string count;
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, counts, library.c_str(), &type, &count));
  EXPECT_EQ(count, Dword(3));
  EXPECT_FALSE(Attributes(SystemDirectory() + "\\MFC40.DLL") & FILE_ATTRIBUTE_READONLY);
  for (HANDLE handle : held) CloseHandle(handle);
}

TEST_F(Removal, RuntimesAreGuardedWhileTheMainUninstallerRuns) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  const std::string counts = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
  const std::string system = SystemDirectory() + "\\";
  for (const char* name : {"MSVCRT40.DLL", "MFC40.DLL", "AWLHUT32.DLL"}) WriteBytes(system + name, "runtime");
  SetDword(HKEY_LOCAL_MACHINE, counts, (system + "MSVCRT40.DLL").c_str(), 1);
  SetDword(HKEY_LOCAL_MACHINE, counts, (system + "AWLHUT32.DLL").c_str(), 3);

  EXPECT_EQ(Remove(IDYES, "C:\\APP\\SYSTEM\\UNINST.EXE --probe-file=" + system + "MSVCRT40.DLL --probe-file=" +
                              system + "MFC40.DLL --probe-count=" + system + "AWLHUT32.DLL"),
            0);

  const std::vector<std::string> log = StandInLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "file " + system + "MSVCRT40.DLL: writable");  // its count is 1
  EXPECT_EQ(log[log.size() - 2], "file " + system + "MFC40.DLL: read-only");
  EXPECT_EQ(log[log.size() - 1], "count " + system + "AWLHUT32.DLL: 5");
  EXPECT_FALSE(Attributes(system + "MFC40.DLL") & FILE_ATTRIBUTE_READONLY);
  DWORD type = 0;
  std::string count;
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, counts, (system + "AWLHUT32.DLL").c_str(), &type, &count));
  EXPECT_EQ(count, Dword(3));
}

TEST_F(Removal, ControlLibraryWithoutUnregisterIsLoadedAndReleased) {
  SetDirectory("C:\\APP\\SYSTEM\\");
  InstallBareLibrary("C:\\APP\\SYSTEM\\TAVMDM.OCX");

  EXPECT_EQ(Remove(IDYES), 0);

  const std::vector<std::string> log = StandInLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "loaded TAVMDM.OCX");
  EXPECT_EQ(log[1], "released TAVMDM.OCX");
  EXPECT_EQ(log[2], "started C:\\APP\\SYSTEM\\\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=");
  EXPECT_EQ(shown_.size(), 2u);
}

// Without a usable program directory only the main uninstaller runs; nothing
// is started from the root of the current drive, where a planted program
// would run with the uninstaller's rights.
TEST_F(Removal, UnusableDirectoryValueStartsNoRemover) {
  for (const char* program : {"TAVCC.EXE", "FXPSET.EXE", "LNKSETUP.EXE"}) InstallStandIn(std::string("C:\\") + program);
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
      {"empty", REG_SZ, std::string(1, '\0')},
  };
  for (const auto& each : cases) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\TAV Datentechnik");
    if (each.type != REG_NONE) SetValue(HKEY_LOCAL_MACHINE, kDirectoriesKey, "SYSTEM", each.type, each.data);
    RemoveTree(kStandInLog);

    EXPECT_EQ(Remove(IDYES, uninstaller), 0) << each.what;

    EXPECT_EQ(StandInLog(), std::vector<std::string>{onlyTheUninstaller}) << each.what;
    EXPECT_EQ(shown_.size(), 2u) << each.what;  // the run completes with the restart notice
  }
}

// Without a program directory the names of the file clean-up would be taken
// from the current directory; the registry clean-up and the two files in the
// Windows directory do not need it.
TEST_F(Removal, NoProgramDirectoryNoFileCleanUp) {
  SetString(HKEY_LOCAL_MACHINE, std::string(kDirectoriesKey) + "\\Recent", "v", "x");
  for (const char* name : {"C:\\TAVUPD.INF", "C:\\USER.PW", "C:\\XFRLOGS1.TXT", "C:\\HELP.GID"}) {
    WriteBytes(name, "not the product's");
  }
  MakeDirectories("C:\\MAIL");
  WriteBytes("C:\\MAIL\\INBOX.MBX", "not the product's");
  WriteBytes(WindowsDirectory() + "\\TAVGER.EXE", "language module");

  EXPECT_EQ(Remove(IDYES), 0);

  for (const char* name : {"C:\\TAVUPD.INF", "C:\\USER.PW", "C:\\XFRLOGS1.TXT", "C:\\HELP.GID",
                           "C:\\MAIL\\INBOX.MBX"}) {
    EXPECT_TRUE(PathExists(name)) << name;
  }
  EXPECT_FALSE(PathExists(WindowsDirectory() + "\\TAVGER.EXE"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDirectoriesKey));
}

TEST_F(Removal, UnterminatedValueIsUsedUpToItsLength) {
  SetValue(HKEY_LOCAL_MACHINE, kDirectoriesKey, "SYSTEM", REG_SZ, "C:\\APP\\SYSTEM");
  EXPECT_EQ(Remove(IDYES), 0);
  const std::vector<std::string> log = StandInLog();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], "started C:\\APP\\SYSTEM\\TAVCC.EXE /REMOVE\tflags=1 show=0 title=");
}

#ifndef _WIN32
// Host only: the platform of the machine.
TEST_F(Removal, Windows95RunsFaxSetupThroughTheCommandInterpreter) {
  ReopenMachine("platform=95");
  InstallSuite();
  SetDirectory("C:\\APP\\SYSTEM\\");

  EXPECT_EQ(IsWindowsNT(), 0);
  EXPECT_EQ(Remove(IDYES), 0);

  const std::vector<std::string> expected = {
      "loaded TAVMDM.OCX",
      "called TAVMDM.OCX!DllUnregisterServer",
      "released TAVMDM.OCX",
      "started C:\\APP\\SYSTEM\\\\QBPMNLDR.EXE /U\tflags=1 show=0 title=",
      "started C:\\WINDOWS\\COMMAND.COM /C C:\\APP\\SYSTEM\\\\FXPSET.EXE -r\tflags=1 show=0 title=",
      "started C:\\APP\\SYSTEM\\\\FXPSET.EXE -r\tflags=0 title=",
      "loaded mxhook32.dll",
      "called mxhook32.dll!RemoveMailHook",
      "released mxhook32.dll",
      "started C:\\APP\\SYSTEM\\UNINST.EXE --exit=0\tflags=0 title=Uninstall",
  };
  EXPECT_EQ(StandInLog(), expected);
  EXPECT_EQ(shown_.size(), 2u);
}

// Host only: Windows keeps ANSI paths below 260 characters.
TEST_F(Removal, DirectoryTooLongForTheCommandLinesStartsNoRemover) {
  std::string directory = "C:";
  while (directory.size() < 440) directory += "\\ABCDEFGH";
  MakeDirectories(directory);
  SetDirectory(directory);  // P fits its 460 characters, LNKSETUP.EXE -r does not

  EXPECT_EQ(Remove(IDYES), 0);

  const std::vector<std::string> log = StandInLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].substr(0, 27), "started C:\\APP\\SYSTEM\\UNINS");
}

// Host only: a product root longer than its 260 characters.
TEST_F(Removal, ProductRootTooLongSkipsTheFileCleanUp) {
  std::string directory = "C:";
  while (directory.size() < 300) directory += "\\ABCDEFGH";
  MakeDirectories(directory);
  WriteBytes(directory + "\\TAVUPD.EXE", "update");
  WriteBytes(WindowsDirectory() + "\\TAVGER.EXE", "language module");
  SetDirectory(directory);

  EXPECT_EQ(Remove(IDYES), 0);

  EXPECT_TRUE(PathExists(directory + "\\TAVUPD.EXE"));
  EXPECT_FALSE(PathExists(WindowsDirectory() + "\\TAVGER.EXE"));
}
#endif

}  // namespace
