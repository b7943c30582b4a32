#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/strings.h"

namespace {

// Room for the result plus guard bytes that no helper may touch.
struct Poisoned {
  char bytes[16];
  Poisoned() { memset(bytes, '#', sizeof(bytes)); }
  bool GuardIntact(size_t capacity) const {
    for (size_t i = capacity; i < sizeof(bytes); ++i) {
      if (bytes[i] != '#') return false;
    }
    return true;
  }
};

// A result that does not fit is never cut: a copy leaves the buffer empty,
// an append leaves the old content.
TEST(BoundedStrings, CopyAndAppendFitWholeOrFail) {
  Poisoned buffer;
  EXPECT_TRUE(StrCopy(buffer.bytes, 6, "abcde"));
  EXPECT_STREQ(buffer.bytes, "abcde");
  EXPECT_FALSE(StrCopy(buffer.bytes, 6, "abcdef"));
  EXPECT_STREQ(buffer.bytes, "");
  EXPECT_TRUE(buffer.GuardIntact(6));
  ASSERT_TRUE(StrCopy(buffer.bytes, 8, "C:\\APP"));
  EXPECT_FALSE(StrAppend(buffer.bytes, 8, "\\X"));
  EXPECT_STREQ(buffer.bytes, "C:\\APP");
  EXPECT_TRUE(StrAppend(buffer.bytes, 8, "\\"));
  EXPECT_STREQ(buffer.bytes, "C:\\APP\\");
  EXPECT_TRUE(StrAppend(buffer.bytes, 8, nullptr));  // a null name adds nothing
  EXPECT_TRUE(buffer.GuardIntact(8));
  Poisoned none;
  EXPECT_FALSE(StrCopy(none.bytes, 0, "a"));
  EXPECT_TRUE(none.GuardIntact(0));  // no room, not even for the terminator
  Poisoned one;
  EXPECT_FALSE(StrCopy(one.bytes, 1, "a"));
  EXPECT_EQ(one.bytes[0], '\0');
  one.bytes[0] = '#';
  EXPECT_TRUE(StrCopy(one.bytes, 1, ""));  // room for the terminator alone
  EXPECT_EQ(one.bytes[0], '\0');
  EXPECT_TRUE(one.GuardIntact(1));
}

TEST(BoundedStrings, FormatDirectives) {
  char out[64];
  EXPECT_TRUE(StrFormat(out, sizeof(out), "COM%i", 9));
  EXPECT_STREQ(out, "COM9");
  EXPECT_TRUE(StrFormat(out, sizeof(out), "%d|%i|%s|%%", -2147483647 - 1, 0, nullptr));
  EXPECT_STREQ(out, "-2147483648|0||%");
  EXPECT_TRUE(StrFormat(out, sizeof(out), "%s /C %sFXPSET.EXE -r", "C:\\W\\COMMAND.COM", "C:\\A\\\\"));
  EXPECT_STREQ(out, "C:\\W\\COMMAND.COM /C C:\\A\\\\FXPSET.EXE -r");
}

TEST(BoundedStrings, FormatFailsWholeOnOverflowOrUnknownDirective) {
  Poisoned buffer;
  EXPECT_TRUE(StrFormat(buffer.bytes, 8, "%sX", "ABCDEF"));
  EXPECT_FALSE(StrFormat(buffer.bytes, 8, "%sXY", "ABCDEF"));
  EXPECT_STREQ(buffer.bytes, "");
  EXPECT_FALSE(StrFormat(buffer.bytes, 8, "%i%i", 1234, 5678));
  EXPECT_STREQ(buffer.bytes, "");
  EXPECT_TRUE(buffer.GuardIntact(8));
  EXPECT_FALSE(StrFormat(buffer.bytes, 8, "%x", 1));
  EXPECT_FALSE(StrFormat(buffer.bytes, 8, "ends in %"));
  EXPECT_STREQ(buffer.bytes, "");
  EXPECT_TRUE(StrFormat(buffer.bytes, 1, "%s", ""));  // room for the terminator alone
}

TEST(BoundedStrings, NameComparisonIgnoresOnlyAsciiCase) {
  EXPECT_TRUE(AsciiEqualNoCase("tav capi 2", "TAV CAPI", 8));
  EXPECT_FALSE(AsciiEqualNoCase("TAV CAP", "TAV CAPI", 8));  // too short
  EXPECT_FALSE(AsciiEqualNoCase("TAVCAPI 1", "TAV CAPI", 8));
  EXPECT_FALSE(AsciiEqualNoCase("\xE4", "\xC4", 1));  // only A to Z fold
  EXPECT_TRUE(AsciiEqualNoCase("az", "AZ", 2));
  EXPECT_TRUE(AsciiEqualNoCase("AZ", "az", 2));
}

TEST(CommandLine, ProgramNameAndBlanksAreSkipped) {
  struct {
    const char* line;
    const char* arguments;
  } const cases[] = {
      {"preuninst.exe C:\\APP\\UNINST.EXE /x", "C:\\APP\\UNINST.EXE /x"},
      {"\"C:\\Program Files\\preuninst.exe\"   -a \"b c\"", "-a \"b c\""},
      {"\"C:\\P Q\\preuninst.exe\"-a", "-a"},
      {"preuninst.exe", ""},
      {"\"unterminated", ""},
      {"preuninst.exe\t\t x", "x"},
      {"", ""},
  };
  for (const auto& each : cases) {
    std::string line = each.line;
    EXPECT_STREQ(SkipProgramName(&line[0]), each.arguments) << each.line;
  }
}

}  // namespace
