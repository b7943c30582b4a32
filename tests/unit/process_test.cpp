#include <gtest/gtest.h>

#include <string>

#include "main/process.h"
#include "support/sandbox.h"

namespace {

class Programs : public SandboxTest {};

// RunProgram on a copy of the line: 1 for a program that ran and ended with 0.
int RunLine(std::string commandLine) { return RunProgram(&commandLine[0], 1, ""); }

// A crash code is a failure too, and so is a line that names no program.
TEST_F(Programs, OnlyAProgramThatRanAndEndedWithZeroSucceeds) {
  InstallStandIn("C:\\APP\\TOOL.EXE");
  WriteBytes("C:\\APP\\TEXT.EXE", "not a program");
  struct {
    const char* line;
    int result;
  } const cases[] = {
      {"C:\\APP\\TOOL.EXE", 1},
      {"C:\\APP\\TOOL.EXE --exit=0", 1},
      {"C:\\APP\\TOOL.EXE --exit=1", 0},
      {"C:\\APP\\TOOL.EXE --exit=-1", 0},
      {"C:\\APP\\TOOL.EXE --exit=-1073741819", 0},
      {"", 0},
      {"C:\\APP\\MISSING.EXE /x", 0},
      {"C:\\NOWHERE\\TOOL.EXE", 0},
      {"C:\\APP\\TEXT.EXE", 0},
  };
  for (const auto& each : cases) EXPECT_EQ(RunLine(each.line), each.result) << each.line;
  EXPECT_EQ(RunProgram(nullptr, 1, ""), 0);
  EXPECT_EQ(StandInLog().size(), 5u);  // the stand-in ran each time, nothing else did
}

// Windows starts the shortest run of an unquoted line that names a file, so
// C:\APP\Other.exe comes first once it exists, program or not. The host layer
// must search the same way, here and under Wine alike, or the quoting of
// program paths would go untested.
TEST_F(Programs, AnUnquotedProgramIsTheShortestRunOfTheLineThatNamesAFile) {
  InstallStandIn("C:\\APP\\Other Tool\\UNINST.EXE");
  EXPECT_EQ(RunLine("C:\\APP\\Other Tool\\UNINST.EXE --exit=0"), 1);
  WriteBytes("C:\\APP\\Other.exe", "not a program");
  EXPECT_EQ(RunLine("C:\\APP\\Other Tool\\UNINST.EXE --exit=0"), 0);
  EXPECT_EQ(RunLine("\"C:\\APP\\Other Tool\\UNINST.EXE\" --exit=0"), 1);
}

}  // namespace
