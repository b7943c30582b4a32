#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/paths.h"
#include "common/pattern.h"
#include "support/sandbox.h"

namespace {

// Each case is matched as an ANSI name and as the same name in WCHARs.
TEST(MatchesPattern, LettersWithoutCaseStarsAndWholeNames) {
  struct {
    const char* pattern;
    const char* name;
    bool matches;
  } const cases[] = {
      {"TAV*.DAT", "tav1.dat", true},       {"TAV*.DAT", "TAV.DAT", true},
      {"*.GID", "INDEX.GIDX", false},       {"*.GID", "INDEX.GID.OLD", false},
      {"*.*", "NOEXT", true},               {"*.TMP", "", false},
      {"XFRLOGS?.TXT", "XFRLOGS1.TXT", true}, {"XFRLOGS?.TXT", "XFRLOGS12.TXT", false},
      {"A*B*C", "aXbYbZc", true},           {"A*B*C", "AXBYBZ", false},
  };
  for (const auto& each : cases) {
    const size_t length = strlen(each.name);
    EXPECT_EQ(MatchesPattern(each.pattern, each.name, length, 1), each.matches) << each.pattern << " " << each.name;
    unsigned char wide[32] = {};
    for (size_t i = 0; i < length; ++i) wide[i * 2] = static_cast<unsigned char>(each.name[i]);
    EXPECT_EQ(MatchesPattern(each.pattern, wide, length, 2), each.matches) << each.pattern << " " << each.name;
  }
  // A wide letter is the whole of its two bytes: U+0241 is no 'A'.
  const unsigned char notA[] = {0x41, 0x02, '.', 0, 'D', 0, 'A', 0, 'T', 0};
  EXPECT_FALSE(MatchesPattern("A.DAT", notA, 5, 2));
}

// A root and its backslash fill the buffer to its last byte: a share's
// root of 258 letters fits 260 bytes, one of 259 does not.
TEST(RootOf, UpToTheLastByteOfTheBuffer) {
  for (const size_t letters : {258u, 259u}) {
    const std::string root = "\\\\SERVER\\" + std::string(letters - 9, 'S');
    char found[260];
    memset(found, '#', sizeof(found));
    const bool had = RootOf((root + "\\APP\\SYSTEM").c_str(), found, sizeof(found));
    EXPECT_EQ(had, letters == 258) << letters;
    if (had) {
      EXPECT_EQ(std::string(found), root + "\\");
    }
  }
  char found[4];
  ASSERT_TRUE(RootOf("C:\\APP", found, sizeof(found)));
  EXPECT_STREQ(found, "C:\\");
  EXPECT_FALSE(RootOf("C:\\APP", found, 3));
}

TEST(StripLastDirectory, CutsOneDirectoryAndKeepsTheBackslash) {
  struct {
    const char* path;
    const char* result;
  } const cases[] = {
      {"C:\\APP\\SYSTEM\\", "C:\\APP\\"},
      {"C:\\APP\\SYSTEM\\\\", "C:\\APP\\SYSTEM\\"},  // only the doubled one goes
      {"C:\\APP\\", "C:\\"},
      {"C:\\APP\\SYSTEM", "C:\\APP\\SYSTEM"},  // no trailing backslash: unchanged
      {"C:/APP/", "C:/APP/"},                  // only the backslash separates
      {"", ""},
      {"C:\\", "C:\\"},  // a drive root has nothing above it
      {"\\", "\\"},
      {"\\\\", "\\"},
      {"APP\\", "APP\\"},
      {"\\APP\\", "\\"},
  };
  for (const auto& each : cases) {
    char path[32];
    memset(path, '#', sizeof(path));
    strcpy(path, each.path);
    const size_t length = strlen(each.path);
    StripLastDirectory(path);
    EXPECT_STREQ(path, each.result) << each.path;
    EXPECT_EQ(path[length + 1], '#') << each.path;  // nothing written past the old end
  }
}

#ifndef _WIN32
class DoubleByteStrip : public SandboxTest {};

// Host only (the Wine suites run in code page 1252): in code page 932 the
// second byte of a letter is never the backslash that ends a directory.
TEST_F(DoubleByteStrip, CutsWholeLetters) {
  ReopenMachine("code page=932");
  struct {
    const char* path;
    const char* result;
  } const cases[] = {
      {"C:\\APPS\\\x92\xca\x90\x4d\x83\x5c\\", "C:\\APPS\\"},   // 通信ソ ends in 0x5C
      {"C:\\\x83\x5c\\SYSTEM\\\\", "C:\\\x83\x5c\\SYSTEM\\"},  // ソ
      {"C:\\\x83\x5c\\", "C:\\"},
      {"C:\\APP\\\x83\x5c", "C:\\APP\\\x83\x5c"},  // ends in a letter, not a backslash
      {"\x83\x5c\\", "\x83\x5c\\"},
  };
  for (const auto& each : cases) {
    char path[32];
    strcpy(path, each.path);
    StripLastDirectory(path);
    EXPECT_STREQ(path, each.result) << each.path;
  }
}
#endif

// A full path starts with a drive letter, or is a share's; anything else
// would be taken relative to the current directory, or is a device.
TEST(NamesFullPath, OnlyADrivesOrAShares) {
  struct {
    const char* value;
    bool full;
  } const cases[] = {
      {"C:\\APP\\SYSTEM", true},
      {"z:/APP", true},
      {"\\\\SERVER\\SHARE\\APP", true},
      {"C:APP", false},
      {"APP\\SYSTEM", false},
      {"\\APP", false},
      {"\\\\.\\C:\\APP", false},
      {"\\\\?\\C:\\APP", false},
      {"1:\\APP", false},
      // In code page 932 0x83 0x3A is one letter, and no drive: the path
      // would be relative to the current directory.
      {"\x83:\\APP", false},
      {"", false},
  };
  for (const auto& each : cases) EXPECT_EQ(NamesFullPath(each.value), each.full) << each.value;
}

}  // namespace
