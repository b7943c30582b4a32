// The emulated machine itself: how it reads and writes its files, and the
// powers only it has. Host only.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "support/sandbox.h"
#include "win32/hostapi.h"

namespace {

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteHostFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class Machine : public SandboxTest {
 protected:
  std::string RegistryFile() const { return machineDirectory_ + "/registry.reg"; }
  bool Save() {
    std::string error;
    const bool saved = HostSaveMachine(&error);
    EXPECT_TRUE(saved) << error;
    return saved;
  }
};

// The file is read as regedit imports it and written back, only when
// something changed, with every key in its own section.
TEST_F(Machine, RegistryFileRoundTrip) {
  const std::string imported =
      "REGEDIT4\r\n\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\r\n"
      "\"Text\"=\"C:\\\\APP \\\"x\\\" f\xFCr\"\r\n"
      "@=\"default\"\r\n"
      "\"Count\"=dword:0000000a\r\n"
      "\"Bytes\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "\"Multi\"=hex(7):41,00,00\r\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\A]\n"
      "[hkey_local_machine\\SOFTWARE\\a\\b]\n"
      "\"Late\"=\"merged\"\n"
      "\"count\"=dword:0000000b\n";
  WriteHostFile(RegistryFile(), imported);
  ReopenMachine("");
  DWORD type;
  std::string data;
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, "software\\a\\b", "TEXT", &type, &data));
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadHostFile(RegistryFile()), imported);  // nothing changed, nothing written

  CreateKey(HKEY_CURRENT_USER, "Software\\Empty\\Deeper");
  SetValue(HKEY_LOCAL_MACHINE, "Software\\A", "odd", REG_SZ, "a value with no terminator");
  SetValue(HKEY_LOCAL_MACHINE, "Software\\A", "wide", REG_DWORD, std::string("\x01\x02", 2));
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadHostFile(RegistryFile()),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"  // a missing parent, created
            "\"odd\"=hex(1):61,20,76,61,6c,75,65,20,77,69,74,68,20,6e,6f,20,74,65,72,6d,69,6e,61,74,\\\r\n"
            "  6f,72\r\n"
            "\"wide\"=hex(4):01,02\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\r\n"  // both sections, merged; the later value wins
            "\"Text\"=\"C:\\\\APP \\\"x\\\" f\xFCr\"\r\n"
            "@=\"default\"\r\n"
            "\"Count\"=dword:0000000b\r\n"
            "\"Bytes\"=hex:01,02,03\r\n"
            "\"Multi\"=hex(7):41,00,00\r\n"
            "\"Late\"=\"merged\"\r\n\r\n"
            "[HKEY_CURRENT_USER]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\A]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Empty]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Empty\\Deeper]\r\n\r\n");
  EXPECT_FALSE(PathExists(machineDirectory_ + "/registry.reg.new"));

  // What was written reads back the same.
  ReopenMachine("");
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, "Software\\A", "odd", &type, &data));
  EXPECT_EQ(data, "a value with no terminator");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Empty\\Deeper"));
}

TEST_F(Machine, UnusableMachinesAreRefusedWithAReason) {
  struct {
    const char* file;
    const char* text;
  } const cases[] = {
      {"registry.reg", "REGEDIT5\n"},
      {"registry.reg", "REGEDIT4\n\"v\"=\"outside a key\"\n"},
      {"registry.reg", "REGEDIT4\n[HKEY_USERS\\x]\n"},
      {"registry.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:0g\n"},
      {"registry.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=\"C:\\WINDOWS\"\n"},
      {"machine.ini", "[machine]\nplatform=98\n"},
      {"machine.ini", "[machine]\nwindows=WINDOWS\n"},
      {"machine.ini", "[machine]\nshort names=maybe\n"},
      {"machine.ini", "[machien]\n"},
      {"machine.ini", "[denied keys]\nHKEY_CLASSES_ROOT\\x\n"},
      {"machine.ini", "[machine]\ncode page=437\n"},
      {"machine.ini", "[shares]\nC:=C:\\\n"},
      {"machine.ini", "[substitutes]\nZZ:=C:\\\n"},
      {"machine.ini", "[fail calls]\nNoSuchCall 1\n"},
      {"machine.ini", "[fail calls]\nDeleteFileA 0\n"},
      {"machine.ini", "[fail calls]\nDeleteFileA 1 soon\n"},
  };
  for (const auto& each : cases) {
    const std::string path = machineDirectory_ + "/" + each.file;
    const std::string saved = ReadHostFile(path);
    WriteHostFile(path, each.text);
    std::string error;
    EXPECT_FALSE(HostOpenMachine(machineDirectory_.c_str(), &error)) << each.text;
    EXPECT_NE(error.find(each.file), std::string::npos) << error;
    WriteHostFile(path, saved);
  }
  std::string error;
  EXPECT_FALSE(HostOpenMachine((machineDirectory_ + "/missing").c_str(), &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(Machine, SettingsAndFaultLists) {
  WriteHostFile(RegistryFile(),
                "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Locked]\n\"v\"=\"1\"\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Locked\\Child]\n");
  ReopenMachine(
      "; comment\r\n"
      "windows=D:\\WIN\\\r\n"
      "current=C:\\APP\r\n"
      "[in use]\r\n"
      "c:\\app\\system\\\\hubcore.dll\r\n"
      "[denied keys]\r\n"
      "HKLM\\software\\LOCKED\r\n");
  EXPECT_EQ(WindowsDirectory(), "D:\\WIN");
  EXPECT_EQ(SystemDirectory(), "D:\\WIN\\SYSTEM32");

  WriteBytes("C:\\APP\\SYSTEM\\HUBCORE.DLL", "core");
  SetLastError(0);
  EXPECT_EQ(
      CreateFileA("SYSTEM\\HUBCORE.DLL", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);  // relative to the current directory C:\APP
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA("C:\\APP\\SYSTEM\\HUBCORE.DLL"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Locked", 0, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Locked", 0, DELETE, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Locked", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Locked"), ERROR_ACCESS_DENIED);
  // Its subkeys are not denied. (Writes to a denied key and new subkeys under
  // it are refused in the registry tests, through the same list.)
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Locked\\Child"), ERROR_SUCCESS);
}

TEST_F(Machine, HostNamesWithABackslashAreNeverListed) {
  MakeDirectories("C:\\APP\\TREE");
  WriteBytes("C:\\ROOTKEEP.TXT", "keep");
  WriteHostFile(HostPathOf("C:\\APP\\TREE") + "/..\\..\\ROOTKEEP.TXT", "trap");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("C:\\APP\\TREE\\*", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    EXPECT_TRUE(strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) << found.cFileName;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(Attributes("C:\\APP\\TREE\\__ROOT~1.TXT"), INVALID_FILE_ATTRIBUTES);  // nor by an alias
}

}  // namespace
