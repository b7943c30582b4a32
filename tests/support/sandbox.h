// Test state built through Win32 calls, so that the same tests run on the
// host layer and on real Win32. Each test starts from a clean sandbox: on the
// host a new emulated machine, on Windows the places the tests use wiped.
#ifndef PREUNINST_TESTS_SUPPORT_SANDBOX_H
#define PREUNINST_TESTS_SUPPORT_SANDBOX_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform.h"

// Where stand-ins record what happened to them.
extern const char kStandInLog[];

class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

#ifndef _WIN32
  // Host only: starts over on a machine with these machine.ini lines.
  void ReopenMachine(const std::string& settings);
  std::string machineDirectory_;
#endif
};

std::string WindowsDirectory();  // without a trailing backslash
std::string SystemDirectory();

void MakeDirectories(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);  // and the directories above it
bool ReadBytes(const std::string& path, std::string* bytes);
bool PathExists(const std::string& path);
DWORD Attributes(const std::string& path);

// Stand-in programs and libraries placed on the machine under a Windows path.
void InstallStandIn(const std::string& path);
void InstallStandInLibrary(const std::string& path);
void InstallBareLibrary(const std::string& path);
std::vector<std::string> StandInLog();

void SetValue(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& data);
void SetString(HKEY root, const std::string& key, const char* name, const std::string& text);
void CreateKey(HKEY root, const std::string& key);
bool KeyExists(HKEY root, const std::string& key);
bool GetValue(HKEY root, const std::string& key, const char* name, DWORD* type, std::string* data);

std::string Dword(DWORD number);  // four little-endian bytes

#endif
