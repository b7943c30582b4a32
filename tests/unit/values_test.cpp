#include <gtest/gtest.h>

#include <string.h>

#include "registry/values.h"
#include "support/sandbox.h"

#ifndef _WIN32
#include <fstream>

#include "win32/hostapi.h"
#endif

namespace {

const char kScratch[] = "Software\\PreuninstTest";

class RegistryValues : public SandboxTest {};

// What a read leaves in the type, the data and the size, read or not: a
// failure clears the type and the first byte only, and drops the size the
// system reported unless the key could not even be opened.
TEST_F(RegistryValues, ReadLeavesTypeDataAndSize) {
  SetValue(HKEY_CURRENT_USER, kScratch, "count", REG_DWORD, Dword(0x01020304));
  SetString(HKEY_CURRENT_USER, kScratch, "path", "C:\\APP");
  SetString(HKEY_CURRENT_USER, kScratch, "long", "0123456789");
  const DWORD kAny = 0xFFFFFFFF;
  struct {
    const char* what;
    const char* key;
    const char* name;
    int result;
    DWORD type;  // kAny: not looked at
    std::string data;  // the bytes of the buffer that are known afterwards
    DWORD size;
  } const cases[] = {
      {"a DWORD", kScratch, "count", 0, REG_DWORD, Dword(0x01020304) + "xxxx", 4},
      {"a string by another case", kScratch, "PATH", 0, REG_SZ, std::string("C:\\APP") + '\0' + "x", 7},
      {"a missing key", "Software\\PreuninstTest\\Missing", "v", 1, REG_NONE, std::string(1, '\0') + "xxxxxxx", 8},
      {"a missing value", kScratch, "missing", 1, REG_NONE, std::string(1, '\0') + "xxxxxxx", 0},
      // Windows leaves the rest of the buffer undefined here.
      {"a value too long", kScratch, "long", 1, kAny, std::string(1, '\0'), 0},
  };
  for (const auto& each : cases) {
    char data[8];
    memset(data, 'x', sizeof(data));
    DWORD type = 99;
    DWORD size = sizeof(data);
    EXPECT_EQ(RegReadValue(HKEY_CURRENT_USER, each.key, each.name, &type, reinterpret_cast<BYTE*>(data), &size),
              each.result)
        << each.what;
    if (each.type != kAny) {
      EXPECT_EQ(type, each.type) << each.what;
    }
    EXPECT_EQ(std::string(data, each.data.size()), each.data) << each.what;
    EXPECT_EQ(size, each.size) << each.what;
  }
}

TEST_F(RegistryValues, DeleteTreeRefusesEmptyPathsAndReportsMissingKeys) {
  SetString(HKEY_CURRENT_USER, kScratch, "v", "x");
  EXPECT_EQ(RegDeleteKeyTree(HKEY_CURRENT_USER, ""), ERROR_BADKEY);
  EXPECT_EQ(RegDeleteKeyTree(HKEY_CURRENT_USER, nullptr), ERROR_BADKEY);
  EXPECT_EQ(RegDeleteKeyTree(HKEY_CURRENT_USER, "Software\\PreuninstTest\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kScratch));
}

#ifndef _WIN32
// Host only: Windows has no call that makes one key refuse deletion.
TEST_F(RegistryValues, DeniedSubkeyStopsTheTreeAndKeepsItsAncestors) {
  const std::string top = std::string(kScratch) + "\\T";
  for (const char* key : {"\\A\\A1", "\\B\\B1", "\\B\\B2", "\\C"})
    SetString(HKEY_CURRENT_USER, top + key, "v", "x");
  HostDenyKey(("HKEY_CURRENT_USER\\" + top + "\\B\\B2").c_str());
  EXPECT_EQ(RegDeleteKeyTree(HKEY_CURRENT_USER, top.c_str()), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top + "\\A"));  // deleted before the failure
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top + "\\B\\B1"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, top + "\\B\\B2"));  // refused
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, top + "\\B"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, top + "\\C"));  // never reached
  const BYTE one = 1;
  EXPECT_EQ(RegWriteValue(HKEY_CURRENT_USER, (top + "\\B\\B2").c_str(), "v", REG_BINARY, &one, 1), 1);
  EXPECT_EQ(RegWriteValue(HKEY_CURRENT_USER, (top + "\\B\\B2\\New").c_str(), "v", REG_BINARY, &one, 1), 1);
}

// Host only: Windows itself keeps key names to 255 characters, which fit the
// buffer; a machine's registry.reg may hold a longer one.
TEST_F(RegistryValues, SubkeyNameTooLongForTheBufferStopsTheTree) {
  const std::string longName(300, 'L');
  std::ofstream(machineDirectory_ + "/registry.reg", std::ios::trunc)
      << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\PreuninstTest\\T\\A]\n\n"
      << "[HKEY_CURRENT_USER\\Software\\PreuninstTest\\T\\" << longName << "]\n";
  ReopenMachine("");
  EXPECT_EQ(RegDeleteKeyTree(HKEY_CURRENT_USER, "Software\\PreuninstTest\\T"), ERROR_MORE_DATA);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\PreuninstTest\\T\\A"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\PreuninstTest\\T"));
}
#endif

}  // namespace
