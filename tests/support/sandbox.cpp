#include "support/sandbox.h"

#include <string.h>

#include <sstream>

#ifdef _WIN32
#include <stdlib.h>

#include "fixtures/host_links.h"
#include "registry/values.h"
#else
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "win32/hostapi.h"
#endif

const char kStandInLog[] = "C:\\TESTLOG\\CALLS.LOG";

namespace {

void MakeParentDirectories(const std::string& path) {
  const size_t slash = path.rfind('\\');
  if (slash != std::string::npos) MakeDirectories(path.substr(0, slash));
}

std::string DirectoryFrom(UINT(WINAPI* get)(LPSTR, UINT)) {
  char directory[MAX_PATH] = "";
  const UINT length = get(directory, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  return directory;
}

#ifdef _WIN32
const char kStandIn[] = "standin.exe";
const char kStandInLibrary[] = "standinlib.dll";
const char kBareLibrary[] = "standinbare.dll";

std::string StandInSource(const char* file) {
  // Set by the Wine runner: the Windows directory that holds the fixtures.
  char directory[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("STANDIN_DIR", directory, sizeof(directory));
  return (length > 0 && length < sizeof(directory) ? std::string(directory) : std::string(".")) + "\\" + file;
}

void CopyStandIn(const char* file, const std::string& path) {
  MakeParentDirectories(path);
  ASSERT_TRUE(CopyFileA(StandInSource(file).c_str(), path.c_str(), FALSE)) << path;
}
#else
const char kStandIn[] = STANDIN_PROGRAM;
const char kStandInLibrary[] = STANDIN_LIBRARY;
const char kBareLibrary[] = STANDIN_BARE_LIBRARY;

void CopyStandIn(const char* source, const std::string& path) {
  MakeParentDirectories(path);
  const std::string target = HostPathOf(path.c_str());
  std::error_code error;
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing, error);
  ASSERT_FALSE(target.empty() || error) << source << " -> " << path << ": " << error.message();
}
#endif

void PrepareCommonPlaces() {
  MakeDirectories(WindowsDirectory());
  MakeDirectories(SystemDirectory());
  MakeDirectories("C:\\TESTLOG");
  SetEnvironmentVariableA("STANDIN_LOG", kStandInLog);
}

}  // namespace

#ifdef _WIN32
// Wipes what the tests may have left on a real (throwaway) Windows: the files
// and keys they create and the program changes.
void SandboxTest::SetUp() {
  const std::string windows = WindowsDirectory() + "\\";
  const std::string system = SystemDirectory() + "\\";
  for (const std::string& path :
       {std::string("C:\\APP"), std::string("C:\\A"), std::string("C:\\TESTLOG"), std::string("C:\\SANDBOX"),
        windows + "TAVFAXDV.INI", windows + "WININIT.INI", windows + "COMMAND.COM", windows + "mxhook32.dll",
        system + "tavnet32.dll", system + "tavxpt32.dll", system + "mxhook32.dll"}) {
    RemoveTree(path);
  }
  for (const char* key :
       {"Software\\TAV Datentechnik", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
        "Enum\\Root\\ports", "System\\CurrentControlSet\\Services\\Class\\Ports"}) {
    RegDeleteKeyTree(HKEY_LOCAL_MACHINE, key);
  }
  RegDeleteKeyTree(HKEY_CURRENT_USER, "Software\\PreuninstTest");
  RegRemoveValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                 "PendingFileRenameOperations");
  PrepareCommonPlaces();
}

void SandboxTest::TearDown() {}
#else
void SandboxTest::SetUp() { ReopenMachine(""); }

void SandboxTest::ReopenMachine(const std::string& settings) {
  HostCloseMachine();
  if (machineDirectory_.empty()) {
    const char* temporary = getenv("TMPDIR");
    std::string pattern = std::string(temporary != nullptr ? temporary : "/tmp") + "/preuninst-test-XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    machineDirectory_ = pattern;
    ASSERT_EQ(mkdir((machineDirectory_ + "/drive_c").c_str(), 0755), 0);
  }
  std::ofstream((machineDirectory_ + "/machine.ini").c_str(), std::ios::trunc) << "[machine]\n"
                                                                               << settings << "\n";
  std::string error;
  ASSERT_TRUE(HostOpenMachine(machineDirectory_.c_str(), &error)) << error;
  PrepareCommonPlaces();
}

void SandboxTest::TearDown() {
  HostCloseMachine();
  std::error_code ignored;
  if (!machineDirectory_.empty()) std::filesystem::remove_all(machineDirectory_, ignored);
}
#endif

std::string WindowsDirectory() { return DirectoryFrom(GetWindowsDirectoryA); }
std::string SystemDirectory() { return DirectoryFrom(GetSystemDirectoryA); }

void MakeDirectories(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  MakeParentDirectories(path);
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  EXPECT_EQ(written, bytes.size());
  CloseHandle(file);
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes->append(chunk, got);
  CloseHandle(file);
  return true;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

void InstallStandIn(const std::string& path) { CopyStandIn(kStandIn, path); }
void InstallStandInLibrary(const std::string& path) { CopyStandIn(kStandInLibrary, path); }
void InstallBareLibrary(const std::string& path) { CopyStandIn(kBareLibrary, path); }

std::vector<std::string> StandInLog() {
  std::string text;
  std::vector<std::string> lines;
  ReadBytes(kStandInLog, &text);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find('\r')));
  return lines;
}

void SetValue(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& data) {
  HKEY handle;
  ASSERT_EQ(RegCreateKeyA(root, key.c_str(), &handle), ERROR_SUCCESS) << key;
  EXPECT_EQ(RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

void SetString(HKEY root, const std::string& key, const char* name, const std::string& text) {
  SetValue(root, key, name, REG_SZ, text + std::string(1, '\0'));
}

void CreateKey(HKEY root, const std::string& key) {
  HKEY handle;
  ASSERT_EQ(RegCreateKeyA(root, key.c_str(), &handle), ERROR_SUCCESS) << key;
  RegCloseKey(handle);
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool GetValue(HKEY root, const std::string& key, const char* name, DWORD* type, std::string* data) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG status = RegQueryValueExA(handle, name, nullptr, type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    data->assign(size, '\0');
    status = RegQueryValueExA(handle, name, nullptr, type, reinterpret_cast<BYTE*>(&(*data)[0]), &size);
    data->resize(size);
  }
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

std::string Dword(DWORD number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return bytes;
}
