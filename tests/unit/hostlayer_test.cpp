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
      {"machine.ini", "[races]\nDeleteFileA 1 = swap C:\\APP\n"},
      {"machine.ini", "[races]\nDeleteFileA 1 = jump C:\\APP = C:\\LURE\n"},
      {"machine.ini", "[races]\nDeleteFileA = swap C:\\APP = C:\\LURE\n"},
      {"machine.ini", "[races]\nNoSuchCall 2 = rename C:\\A = C:\\B\n"},
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

// Another process changes the disk just before a call of the program, as
// an opener like any other: a directory handle without delete sharing keeps
// it from renaming the directory, one without write sharing from making it
// a link; what it did or could not do goes to races.txt.
TEST_F(Machine, RacesObeySharing) {
  MakeDirectories("C:\\APP\\SYSTEM");
  MakeDirectories("C:\\APP\\EMPTY");
  MakeDirectories("C:\\APP\\DATA\\SUB");
  MakeDirectories("C:\\LURE");
  WriteBytes("C:\\APP\\HUBCORE.DLL", "core");
  WriteBytes("C:\\APP\\DATA\\MAIL.MBX", "mail");
  ReopenMachine(
      "[races]\n"
      "GetVersionExA 1 = swap C:\\APP = C:\\LURE\n"
      "GetVersionExA 1 = link C:\\APP\\SYSTEM = C:\\LURE\n"
      "GetVersionExA 1 = link C:\\APP\\DATA = C:\\LURE\n"
      "GetVersionExA 1 = hollow C:\\APP\\DATA = C:\\LURE\n"
      "GetVersionExA 2 = rename C:\\APP\\HUBCORE.DLL = C:\\APP\\OLD.DLL\n"
      "GetVersionExA 2 = hollow C:\\APP\\DATA = C:\\LURE\n"
      "GetVersionExA 3 = swap C:\\APP = C:\\LURE\n"
      "[in use]\n"
      "C:\\APP\\HUBCORE.DLL\n");
  HANDLE app = CreateFileA("C:\\APP", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // Held as the removal holds a directory: sharing reading only.
  HANDLE system = CreateFileA("C:\\APP\\SYSTEM", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  HANDLE sub = CreateFileA("C:\\APP\\DATA\\SUB", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(app, INVALID_HANDLE_VALUE);
  ASSERT_NE(system, INVALID_HANDLE_VALUE);
  ASSERT_NE(sub, INVALID_HANDLE_VALUE);
  // Nor can the program itself rename or remove what a handle holds so.
  EXPECT_FALSE(MoveFileExA("C:\\APP", "C:\\APP2", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExA(&version);
  CloseHandle(sub);
  GetVersionExA(&version);
  CloseHandle(app);
  GetVersionExA(&version);
  CloseHandle(system);
  // A hold keeps a directory from being renamed, not an empty one from
  // being made a link: that takes write-attributes access alone, which
  // sharing never refuses. A hollowing moves what it may and makes a link
  // only of what it emptied.
  EXPECT_EQ(ReadHostFile(machineDirectory_ + "/races.txt"),
            "GetVersionExA 1 = swap C:\\APP = C:\\LURE refused 32\n"
            "GetVersionExA 1 = link C:\\APP\\SYSTEM = C:\\LURE done\n"
            "GetVersionExA 1 = link C:\\APP\\DATA = C:\\LURE refused 145\n"
            "GetVersionExA 1 = hollow C:\\APP\\DATA = C:\\LURE refused 32\n"
            "GetVersionExA 2 = rename C:\\APP\\HUBCORE.DLL = C:\\APP\\OLD.DLL refused 32\n"
            "GetVersionExA 2 = hollow C:\\APP\\DATA = C:\\LURE done\n"
            "GetVersionExA 3 = swap C:\\APP = C:\\LURE done\n");
  EXPECT_EQ(Attributes("C:\\APP"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_TRUE(PathExists("C:\\APP.swapped\\HUBCORE.DLL"));
  EXPECT_TRUE(Attributes("C:\\APP.swapped\\SYSTEM") & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_TRUE(Attributes("C:\\APP.swapped\\DATA") & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_TRUE(PathExists("C:\\APP.swapped\\DATA.moved\\MAIL.MBX"));
  EXPECT_TRUE(PathExists("C:\\APP.swapped\\DATA.moved\\SUB"));
}

// Each spelling of a directory as Windows tells where it really is: the
// final path of a link, a substituted drive and a share (whose server keeps
// its links to itself), the volume serial of the drive it lies on, what a
// drive letter stands for, and what a link holds.
TEST_F(Machine, PlacesAsWindowsTellsThem) {
  MakeDirectories("C:\\REAL\\SYSTEM");
  MakeDirectories("D:\\DATA");
  ASSERT_EQ(mkdir((machineDirectory_ + "/drive_d").c_str(), 0755), 0);
  MakeDirectories("D:\\DATA");
  ASSERT_EQ(symlink((machineDirectory_ + "/drive_c/REAL").c_str(), (machineDirectory_ + "/drive_c/LINK").c_str()), 0);
  ReopenMachine(
      "[shares]\n\\\\LOCALHOST\\C$=C:\\\n"
      "[substitutes]\nZ:=C:\\REAL\n");
  const auto final = [](const char* path, DWORD flags) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    char found[300] = "";
    if (handle == INVALID_HANDLE_VALUE) return std::string("cannot open");
    const DWORD length = GetFinalPathNameByHandleA(handle, found, sizeof(found), 0);
    BY_HANDLE_FILE_INFORMATION information = {};
    GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    return std::string(found, length) + ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? " (link)" : "");
  };
  EXPECT_EQ(final("C:\\LINK\\SYSTEM", 0), "\\\\?\\C:\\REAL\\SYSTEM");
  EXPECT_EQ(final("z:\\system", 0), "\\\\?\\C:\\REAL\\SYSTEM");
  EXPECT_EQ(final("C:\\LINK", FILE_FLAG_OPEN_REPARSE_POINT), "\\\\?\\C:\\LINK (link)");
  EXPECT_EQ(final("\\\\localhost\\c$\\link\\system", 0), "\\\\?\\UNC\\localhost\\c$\\LINK\\SYSTEM");
  EXPECT_EQ(final("D:\\", 0), "\\\\?\\D:\\");

  DWORD serials[4] = {};
  const char* const roots[4] = {"C:\\", "D:\\", "Z:\\", "\\\\LOCALHOST\\C$\\"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(GetVolumeInformationA(roots[i], nullptr, 0, &serials[i], nullptr, nullptr, nullptr, 0)) << roots[i];
  }
  EXPECT_NE(serials[0], serials[1]);
  EXPECT_EQ(serials[0], serials[2]);
  EXPECT_EQ(serials[0], serials[3]);
  EXPECT_FALSE(GetVolumeInformationA("C:\\REAL\\", nullptr, 0, &serials[0], nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 25));
  EXPECT_EQ(GetDriveTypeA("Z:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("\\\\LOCALHOST\\C$\\"), static_cast<UINT>(DRIVE_REMOTE));
  EXPECT_EQ(GetDriveTypeA("Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));

  char device[64];
  ASSERT_EQ(QueryDosDeviceA("z:", device, sizeof(device)), 13u);
  EXPECT_EQ(std::string(device, 13), std::string("\\??\\C:\\REAL\0\0", 13));
  ASSERT_EQ(QueryDosDeviceA("D:", device, sizeof(device)), 25u);
  EXPECT_STREQ(device, "\\Device\\HarddiskVolume4");
  EXPECT_EQ(QueryDosDeviceA("D:", device, 10), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // A link's own data: a junction to where it leads, as a full path.
  HANDLE link = CreateFileA("C:\\LINK", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(link, INVALID_HANDLE_VALUE);
  unsigned char data[200];
  DWORD got = 0;
  ASSERT_TRUE(DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof(data), &got, nullptr));
  const DWORD tag = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
  EXPECT_EQ(tag, static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT));
  const size_t length = (data[10] | data[11] << 8) / 2;
  std::string target;
  for (size_t i = 0; i < length; ++i) target.push_back(static_cast<char>(data[16 + (data[8] | data[9] << 8) + 2 * i]));
  EXPECT_EQ(target, "\\??\\C:\\REAL");
  EXPECT_FALSE(DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, 20, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  CloseHandle(link);
}

// Code page 932 through the host's tables: letters of two bytes whose
// second byte is a backslash, a first byte alone at the end, stepping by
// letters, names that fit 8.3 in their bytes, and the registry file.
TEST_F(Machine, DoubleByteCodePages) {
  ReopenMachine("code page=932");
  const char table[] = "\x95\x5c";  // 表
  WCHAR wide[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, table, -1, wide, 8), 2);
  EXPECT_EQ(wide[0], 0x8868);
  // A lone first byte becomes the page's default character, as in Windows 10.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x83", 1, wide, 8), 1);
  EXPECT_EQ(wide[0], 0x30FB);
  char back[8] = {};
  const WCHAR so[] = {0x30BD, 0x20AC, 0};  // ソ and a letter 932 lacks
  BOOL lossy = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, so, -1, back, sizeof(back), nullptr, &lossy), 4);
  EXPECT_STREQ(back, "\x83\x5c?");
  EXPECT_TRUE(lossy);

  const char path[] = "C:\\\x83\x5c\\A";  // C:\ソ\A
  EXPECT_TRUE(IsDBCSLeadByte(0x83));
  EXPECT_FALSE(IsDBCSLeadByte('A'));
  EXPECT_EQ(CharNextA(path + 3), path + 5);
  EXPECT_EQ(CharNextA("\x83"), static_cast<const char*>("\x83") + 1) << "a first byte alone is a letter";
  EXPECT_EQ(CharPrevA(path, path + 5), path + 3);
  EXPECT_EQ(CharPrevA(path, path + 6), path + 5);
  EXPECT_EQ(CharPrevA(path, path), path);

  // A directory named ソ: its second byte separates nothing, and the name is
  // its own short name.
  MakeDirectories("C:\\\x83\x5c\\SUB");
  WriteBytes("C:\\\x83\x5c\\SUB\\\x95\x5c.TXT", "x");
  EXPECT_EQ(Attributes("C:\\\x83\x5c\\SUB"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_NE(HostPathOf("C:\\\x83\x5c").find("/\xe3\x82\xbd"), std::string::npos);  // UTF-8 on the host
  char shortPath[64];
  ASSERT_NE(GetShortPathNameA("C:\\\x83\x5c\\SUB\\\x95\x5c.TXT", shortPath, sizeof(shortPath)), 0u);
  EXPECT_STREQ(shortPath, "C:\\\x83\x5c\\SUB\\\x95\x5c.TXT");
  char full[64];
  char* name = nullptr;
  ASSERT_NE(GetFullPathNameA("C:\\\x83\x5c\\SUB\\..\\\x83\x5c\\", sizeof(full), full, &name), 0u);
  EXPECT_STREQ(full, "C:\\\x83\x5c\\\x83\x5c\\");

  // In the registry file a letter whose second byte is a backslash is no
  // escape, read or written.
  SetString(HKEY_LOCAL_MACHINE, "Software\\\x83\x5c", "\x95\x5c", "C:\\\x83\x5c\\");
  std::string error;
  ASSERT_TRUE(HostSaveMachine(&error)) << error;
  const std::string text = ReadHostFile(RegistryFile());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\\x83\x5c]\r\n\"\x95\x5c\"=\"C:\\\\\x83\x5c\\\\\"\r\n"),
            std::string::npos)
      << text;
  ReopenMachine("code page=932");
  DWORD type;
  std::string data;
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, "Software\\\x83\x5c", "\x95\x5c", &type, &data));
  EXPECT_EQ(data, std::string("C:\\\x83\x5c\\", 7));  // with its terminator
}

// [in use] names a file, not a spelling: an 8.3 alias, another case, a
// substituted drive all open the same file.
TEST_F(Machine, InUseWhateverSpellingOpensIt) {
  WriteBytes("C:\\F\xe4hre\\SYSTEM\\HUBCORE.DLL", "core");
  ReopenMachine("[substitutes]\nZ:=C:\\F\xc3\xa4hre\n[in use]\nC:\\F\xc3\xa4hre\\SYSTEM\\HUBCORE.DLL\n");
  char shortPath[64];
  ASSERT_NE(GetShortPathNameA("C:\\F\xe4hre\\SYSTEM\\", shortPath, sizeof(shortPath)), 0u);
  ASSERT_STRNE(shortPath, "C:\\F\xe4hre\\SYSTEM\\");  // an 8.3 alias
  const std::string alias = std::string(shortPath) + "\\HUBCORE.DLL";
  for (const char* spelling : {alias.c_str(), "c:\\f\xc4hre\\system\\hubcore.dll", "Z:\\SYSTEM\\HUBCORE.DLL"}) {
    SetLastError(0);
    EXPECT_EQ(CreateFileA(spelling, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE)
        << spelling;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << spelling;
  }
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

// The DOS wildcards of MS-FSA 2.1.4.4 in a search: < any run that stops
// before the name's last dot, > one letter or nothing at a dot or the end,
// " a dot or nothing at the end. (Wine 8 knows none of them.)
TEST_F(Machine, DosWildcards) {
  for (const char* name : {"A.B", "AB", "ABC.TXT", "ABCD.TXT", "NOEXT"}) WriteBytes(std::string("C:\\S\\") + name, name);
  const struct {
    const char* pattern;
    const char* found;
  } cases[] = {
      {"A<", "AB"},          {"<.TXT", "ABC.TXT ABCD.TXT"}, {"A>", "AB"},      {"A>>", "AB"},
      {"ABC>.TXT", "ABC.TXT ABCD.TXT"}, {"ABC.T>T", "ABC.TXT"}, {"A\"B", "A.B"}, {"NOEXT\"", "NOEXT"},
      {"<", "AB NOEXT"},     {"Z<", ""},
  };
  for (const auto& each : cases) {
    std::string found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((std::string("C:\\S\\") + each.pattern).c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0) {
          found += (found.empty() ? "" : " ") + std::string(data.cFileName);
        }
      } while (FindNextFileA(search, &data));
      FindClose(search);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << each.pattern;
    }
    EXPECT_EQ(found, each.found) << each.pattern;
  }
}

// Another user makes an empty directory a link through a handle opened for
// write-attributes alone, whatever holds it: FSCTL_SET_REPARSE_POINT with a
// mount point's data (MS-FSA 2.1.5.10.37). A directory that is not empty,
// or a handle without write access, is refused.
TEST_F(Machine, MountPointThroughAHandle) {
  MakeDirectories("C:\\HELD");
  MakeDirectories("C:\\FULL\\SUB");
  MakeDirectories("C:\\LURE");
  const std::u16string substitute = u"\\??\\C:\\LURE";
  std::string data(16 + (substitute.size() + 1) * 2 * 2, '\0');
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(&data[0], &tag, 4);
  data[4] = static_cast<char>(data.size() - 8);
  data[10] = static_cast<char>(substitute.size() * 2);
  memcpy(&data[16], substitute.data(), substitute.size() * 2);
  const auto mount = [&data](const char* path, DWORD access) {
    HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path;
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data[0], static_cast<DWORD>(data.size()),
                                      nullptr, 0, &returned, nullptr);
    const DWORD error = done ? 0 : GetLastError();
    CloseHandle(handle);
    return error;
  };
  HANDLE hold = CreateFileA("C:\\HELD", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  EXPECT_EQ(mount("C:\\HELD", GENERIC_READ), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(mount("C:\\FULL", FILE_WRITE_ATTRIBUTES), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_EQ(mount("C:\\HELD", FILE_WRITE_ATTRIBUTES), 0u);
  EXPECT_EQ(Attributes("C:\\HELD"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  CloseHandle(hold);
}

}  // namespace
