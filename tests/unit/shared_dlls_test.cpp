#include <gtest/gtest.h>

#include <string>

#include "registry/shared_dlls.h"
#include "support/sandbox.h"

namespace {

const char kCounts[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kDirectory[] = "C:\\APP\\SYSTEM\\";

class SharedCounts : public SandboxTest {
 protected:
  void SetCount(const char* file, DWORD type, const std::string& data) {
    SetValue(HKEY_LOCAL_MACHINE, kCounts, (std::string(kDirectory) + file).c_str(), type, data);
  }
  // The stored value as "type:bytes", or "none".
  std::string Stored(const std::string& name) {
    DWORD type = 0;
    std::string data;
    if (!GetValue(HKEY_LOCAL_MACHINE, kCounts, name.c_str(), &type, &data)) return "none";
    return std::to_string(type) + ":" + data;
  }
  std::string Stored(const char* file) { return Stored(std::string(kDirectory) + file); }
};

// Counts are unsigned and only a four-byte REG_DWORD is one: a full count is
// no longer exact and must never fall to 0 through lowering, and a value of
// another type or length belongs to somebody else and stays as it is.
TEST_F(SharedCounts, RaisingAndLoweringAtTheLimits) {
  const std::string text = std::string("3") + '\0';
  struct {
    const char* file;
    DWORD type;
    std::string before;
    std::string raised;  // "" for unchanged
    DWORD lowered;
    std::string afterLowering;  // "" for unchanged
  } const cases[] = {
      {"ZERO.DLL", REG_DWORD, Dword(0), Dword(1), 0, Dword(0)},
      {"ONE.DLL", REG_DWORD, Dword(1), Dword(2), 0, Dword(0)},
      {"SEVEN.DLL", REG_DWORD, Dword(7), Dword(8), 6, Dword(6)},
      {"SIGN.DLL", REG_DWORD, Dword(0x80000000), Dword(0x80000001), 0x7FFFFFFF, Dword(0x7FFFFFFF)},
      {"NEARLY.DLL", REG_DWORD, Dword(0xFFFFFFFE), Dword(0xFFFFFFFF), 0xFFFFFFFD, Dword(0xFFFFFFFD)},
      {"FULL.DLL", REG_DWORD, Dword(0xFFFFFFFF), Dword(0xFFFFFFFF), 0xFFFFFFFF, Dword(0xFFFFFFFF)},
      {"SHORT.DLL", REG_DWORD, std::string("\xFF\xFF", 2), "", 0, ""},
      {"LONG.DLL", REG_DWORD, Dword(3) + Dword(0), "", 0, ""},
      {"BINARY.DLL", REG_BINARY, Dword(3), "", 0, ""},
      {"SIXBYTES.DLL", REG_BINARY, std::string("\x03\x00\x00\x00\x00\x00", 6), "", 0, ""},
      {"EMPTY.DLL", REG_BINARY, "", "", 0, ""},
      {"TEXT.DLL", REG_SZ, text, "", 0, ""},
  };
  for (const auto& each : cases) {
    const std::string unchanged = std::to_string(each.type) + ":" + each.before;
    SetCount(each.file, each.type, each.before);
    EXPECT_EQ(SharedDllAddRef(kDirectory, each.file), each.raised.empty() ? 1 : 0) << each.file;
    EXPECT_EQ(Stored(each.file), each.raised.empty() ? unchanged : "4:" + each.raised) << each.file;
    SetCount(each.file, each.type, each.before);
    EXPECT_EQ(SharedDllRelease(kDirectory, each.file), each.lowered) << each.file;
    EXPECT_EQ(Stored(each.file), each.afterLowering.empty() ? unchanged : "4:" + each.afterLowering) << each.file;
  }
  EXPECT_EQ(SharedDllRelease(kDirectory, "MISSING.DLL"), 0u);
  EXPECT_EQ(Stored("MISSING.DLL"), "none");
}

TEST_F(SharedCounts, ForgetDropsAnyCount) {
  SetCount("THREE.DLL", REG_DWORD, Dword(3));
  EXPECT_EQ(SharedDllForget(kDirectory, "THREE.DLL"), 0);
  EXPECT_EQ(Stored("THREE.DLL"), "none");
  EXPECT_EQ(SharedDllForget(kDirectory, "THREE.DLL"), 1);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCounts);
  EXPECT_EQ(SharedDllForget(kDirectory, "THREE.DLL"), 1);  // no SharedDLLs key at all

  SetCount("TWO.DLL", REG_DWORD, Dword(2));
  EXPECT_EQ(SharedDllReleaseOrForget(kDirectory, "TWO.DLL", 1), 0u);
  EXPECT_EQ(Stored("TWO.DLL"), "none");
  EXPECT_EQ(SharedDllReleaseOrForget(kDirectory, "TWO.DLL", 1), 0u);  // nothing to forget
  SetCount("TWO.DLL", REG_DWORD, Dword(2));
  EXPECT_EQ(SharedDllReleaseOrForget(kDirectory, "TWO.DLL", 0), 1u);
  EXPECT_EQ(Stored("TWO.DLL"), "4:" + Dword(1));
}

// A null file name leaves the directory argument as the whole path; a path
// too long to join is refused, never cut.
TEST_F(SharedCounts, NamesAreJoinedWholeOrRefused) {
  EXPECT_EQ(SharedDllAddRef("C:\\WHOLE\\PATH.DLL", nullptr), 0);
  EXPECT_EQ(Stored(std::string("C:\\WHOLE\\PATH.DLL")), "4:" + Dword(1));
  EXPECT_EQ(SharedDllGetCount("C:\\WHOLE\\PATH.DLL", nullptr), 1u);

  const std::string tooLong = "C:\\" + std::string(515, 'D') + "\\";
  SetValue(HKEY_LOCAL_MACHINE, kCounts, tooLong.c_str(), REG_DWORD, Dword(2));  // what the directory alone would hit
  EXPECT_EQ(SharedDllAddRef(tooLong.c_str(), "X.DLL"), 1);
  EXPECT_EQ(SharedDllForget(tooLong.c_str(), "X.DLL"), 1);
  EXPECT_EQ(SharedDllRelease(tooLong.c_str(), "X.DLL"), 0u);
  EXPECT_EQ(SharedDllGetCount(tooLong.c_str(), "X.DLL"), 0u);
  EXPECT_EQ(SetReadOnly(tooLong.c_str(), "X.DLL"), 3001);
  EXPECT_EQ(Stored(tooLong), "4:" + Dword(2));
}

TEST_F(SharedCounts, ReadOnlyKeepsTheOtherAttributes) {
  WriteBytes("C:\\APP\\SYSTEM\\LIB.DLL", "x");
  ASSERT_TRUE(SetFileAttributesA("C:\\APP\\SYSTEM\\LIB.DLL", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  const DWORD interesting = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  EXPECT_EQ(SetReadOnly("C:\\APP\\SYSTEM\\LIB.DLL", nullptr), 0);  // the whole path
  EXPECT_EQ(Attributes("C:\\APP\\SYSTEM\\LIB.DLL") & interesting, interesting);
  EXPECT_EQ(SetReadOnly(kDirectory, "LIB.DLL"), 0);  // already read-only
  EXPECT_EQ(ClearReadOnly(kDirectory, "LIB.DLL"), 0);
  EXPECT_EQ(Attributes("C:\\APP\\SYSTEM\\LIB.DLL") & interesting,
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(SetReadOnly(kDirectory, "MISSING.DLL"), 3001);
  EXPECT_EQ(ClearReadOnly(kDirectory, "MISSING.DLL"), 3001);
}

}  // namespace
