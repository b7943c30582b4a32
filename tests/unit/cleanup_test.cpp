#include <gtest/gtest.h>

#include <string>

#include "registry/cleanup.h"
#include "support/sandbox.h"

#ifndef _WIN32
#include "win32/hostapi.h"
#endif

namespace {

const char kModems[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UniModem\\DeviceSpecific";
const std::string kEnum = "Enum\\Root\\ports\\";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\Ports\\";

// Keys of the list after the refused VPORT, the last one among them.
const char* const kProductKeys[] = {
    "System\\CurrentControlSet\\Services\\VxD\\VTAVCAPI",
    "SOFTWARE\\Classes\\.trm",
    "System\\CurrentControlSet\\Services\\VxD\\QBDVXD",
};

class RegistryCleanUp : public SandboxTest {
 protected:
  void Port(const std::string& name, const std::string& mark, bool withClassKey = true) {
    SetString(HKEY_LOCAL_MACHINE, kEnum + name, "HardWareID", mark);
    CreateKey(HKEY_LOCAL_MACHINE, kEnum + name + "\\0000");
    if (withClassKey) SetString(HKEY_LOCAL_MACHINE, kClass + name + "\\Settings", "Baud", "9600");
  }
  bool PortKept(const std::string& name) {
    return KeyExists(HKEY_LOCAL_MACHINE, kEnum + name) && KeyExists(HKEY_LOCAL_MACHINE, kClass + name);
  }
};

TEST_F(RegistryCleanUp, OnlyPortsMarkedExactlyTavportGo) {
  for (const char* port : {"COM1", "COM3", "COM9", "COM10"}) Port(port, "TAVPORT");  // COM1 to COM9 only
  Port("COM2", "XAVPORT");
  Port("COM4", "tavport");
  Port("COM5", "TAVPORT", false);
  Port("COM8", "TAVPORT2");
  SetValue(HKEY_LOCAL_MACHINE, kEnum + "COM6", "HardWareID", REG_BINARY, "TAVPORT");  // no terminator
  SetValue(HKEY_LOCAL_MACHINE, kEnum + "COM7", "HardWareID", REG_SZ, std::string(300, 'T'));
  // A mark that fills the whole buffer without a terminator is never read past.
  SetValue(HKEY_LOCAL_MACHINE, kEnum + "COM8", "HardWareID", REG_BINARY, "TAVPORT" + std::string(253, 'X'));
  RemovePortEntries();
  for (const char* gone : {"COM1", "COM3", "COM9"}) {
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEnum + gone)) << gone;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClass + gone)) << gone;
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEnum + "COM5"));  // no class key: passed over
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEnum + "COM6"));  // the type is not looked at
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kEnum + "COM7"));   // too long to read
  for (const char* kept : {"COM2", "COM4", "COM8", "COM10"}) EXPECT_TRUE(PortKept(kept)) << kept;
}

#ifndef _WIN32
// Host only: keys that refuse deletion.
TEST_F(RegistryCleanUp, ARefusedStepDoesNotStopTheRest) {
  for (const char* key : kProductKeys) CreateKey(HKEY_LOCAL_MACHINE, key);
  CreateKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\VxD\\VPORT");
  CreateKey(HKEY_LOCAL_MACHINE, std::string(kModems) + "\\TAV CAPI 1");
  CreateKey(HKEY_LOCAL_MACHINE, std::string(kModems) + "\\TAV CAPI 2");
  CreateKey(HKEY_LOCAL_MACHINE, std::string(kModems) + "\\TAV CAPI 3");
  HostDenyKey("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\VPORT");
  HostDenyKey((std::string("HKEY_LOCAL_MACHINE\\") + kModems + "\\TAV CAPI 2").c_str());
  char directories[] = "Software\\TAV Datentechnik\\TAV-COM Version 1.0\\Directories";
  CleanRegistry(directories);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\VxD\\VPORT"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kModems) + "\\TAV CAPI 2"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kModems) + "\\TAV CAPI 1"));
  EXPECT_FALSE(
      KeyExists(HKEY_LOCAL_MACHINE, std::string(kModems) + "\\TAV CAPI 3"));  // after the refused one
  for (const char* key : kProductKeys) EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key)) << key;
}
#endif

}  // namespace
