#include <gtest/gtest.h>

#include "common/later_calls.h"
#include "files/held.h"
#include "support/sandbox.h"
#ifndef _WIN32
#include "win32/hostapi.h"
#endif

namespace {

class Held : public SandboxTest {};

// While the removal holds a directory nobody renames or removes it; what is
// inside stays free to go, and so is the directory once let go.
TEST_F(Held, AHeldDirectoryCannotBeRenamedOrRemoved) {
  WriteBytes("C:\\APP\\SYSTEM\\TMP\\A.TMP", "x");
  HANDLE handle;
  DirectoryIdentity identity;
  ASSERT_EQ(HoldDirectory("C:\\APP\\SYSTEM\\TMP", nullptr, &handle, &identity), Holding::kDirectory);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(MoveFileExA("C:\\APP\\SYSTEM\\TMP", "C:\\APP\\SYSTEM\\OTHER", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(DeleteFileA("C:\\APP\\SYSTEM\\TMP\\A.TMP"));
  EXPECT_FALSE(RemoveDirectoryA("C:\\APP\\SYSTEM\\TMP"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Another spelling of the same directory is the same directory.
  HANDLE again;
  DirectoryIdentity same;
  ASSERT_EQ(HoldDirectory("c:\\app\\system\\tmp", nullptr, &again, &same), Holding::kDirectory);
  EXPECT_TRUE(SameIdentity(identity, same));
  CloseHandle(again);
  CloseHandle(handle);
  EXPECT_TRUE(RemoveDirectoryA("C:\\APP\\SYSTEM\\TMP"));
}

TEST_F(Held, WhatIsNoDirectoryIsNotHeld) {
  WriteBytes("C:\\APP\\FILE.TXT", "x");
  for (const char* path : {"C:\\APP\\FILE.TXT", "C:\\APP\\MISSING", "C:\\NOWHERE\\APP"}) {
    HANDLE handle = nullptr;
    DirectoryIdentity identity;
    EXPECT_EQ(HoldDirectory(path, nullptr, &handle, &identity), Holding::kUnusable) << path;
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << path;
  }
}

// Letting go of one directory keeps the others held; a full list takes no
// more and closes what it could not keep.
TEST_F(Held, OneDirectoryIsLetGoTheOthersStayHeld) {
  MakeDirectories("C:\\APP\\SYSTEM");
  HeldDirectories held = {};
  DirectoryIdentity system = {};
  for (const char* path : {"C:\\APP", "C:\\APP\\SYSTEM", "C:\\APP\\SYSTEM"}) {
    HANDLE handle;
    DirectoryIdentity identity;
    ASSERT_EQ(HoldDirectory(path, nullptr, &handle, &identity), Holding::kDirectory) << path;
    ASSERT_TRUE(KeepHeld(&held, handle, identity));
    system = identity;
  }
  ReleaseHeldOn(&held, system);
  EXPECT_TRUE(RemoveDirectoryA("C:\\APP\\SYSTEM"));
  EXPECT_FALSE(RemoveDirectoryA("C:\\APP"));
  ReleaseAllHeld(&held);
  EXPECT_EQ(held.count, 0);
  EXPECT_TRUE(RemoveDirectoryA("C:\\APP"));

  MakeDirectories("C:\\APP");
  for (int i = 0; i <= kMaxHeld; ++i) {
    HANDLE handle;
    DirectoryIdentity identity;
    ASSERT_EQ(HoldDirectory("C:\\APP", nullptr, &handle, &identity), Holding::kDirectory);
    EXPECT_EQ(KeepHeld(&held, handle, identity), i < kMaxHeld) << i;
  }
  ReleaseAllHeld(&held);
  EXPECT_TRUE(RemoveDirectoryA("C:\\APP"));  // nothing left open
}

#ifndef _WIN32
// Host only (a failure on demand): where Windows refuses the flag that opens
// a link itself, as NT 4 may, the directory is held without it.
TEST_F(Held, WindowsThatKnowNoLinksHoldWithoutTheFlag) {
  MakeDirectories("C:\\APP");
  HostFailCall("CreateFileA", 0, ERROR_INVALID_PARAMETER);
  HANDLE handle;
  DirectoryIdentity identity;
  ASSERT_EQ(HoldDirectory("C:\\APP", nullptr, &handle, &identity), Holding::kDirectory);
  EXPECT_FALSE(RemoveDirectoryA("C:\\APP"));
  CloseHandle(handle);
  HostFailCall("CreateFileA", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(HoldDirectory("C:\\APP", nullptr, &handle, &identity), Holding::kUnusable);
}

// Host only (other Windows versions on demand): Windows 8 and later tell a
// directory by its 128-bit file ID, Vista and 7 by its volume serial number
// and file index. Told two ways, a directory could be any on that volume;
// a FileIdInfo the volume has but cannot give tells nothing.
TEST_F(Held, EachWindowsTellsADirectoryItsWay) {
  MakeDirectories("C:\\APP\\SYSTEM");
  const auto tell = [](const char* path, DirectoryIdentity* identity) {
    LaterCalls later = {};
    FindLaterCalls(&later);
    HANDLE handle;
    const Holding holding = HoldDirectory(path, later.fileInformation, &handle, identity);
    if (holding != Holding::kUnusable) CloseHandle(handle);
    return holding;
  };
  DirectoryIdentity wide;
  DirectoryIdentity again;
  DirectoryIdentity above;
  ASSERT_EQ(tell("C:\\APP\\SYSTEM", &wide), Holding::kDirectory);
  ASSERT_EQ(tell("c:\\app\\system", &again), Holding::kDirectory);
  ASSERT_EQ(tell("C:\\APP", &above), Holding::kDirectory);
  EXPECT_TRUE(wide.wide);
  EXPECT_TRUE(SameIdentity(wide, again));
  EXPECT_FALSE(MayBeSameDirectory(wide, above));
  ReopenMachine("version=6.1");
  DirectoryIdentity narrow;
  ASSERT_EQ(tell("C:\\APP\\SYSTEM", &narrow), Holding::kDirectory);
  EXPECT_FALSE(narrow.wide);
  EXPECT_FALSE(SameIdentity(wide, narrow));
  EXPECT_TRUE(MayBeSameDirectory(wide, narrow));
  EXPECT_TRUE(MayBeSameDirectory(above, narrow));
  ReopenMachine("");
  HostFailCall("GetFileInformationByHandleEx", 0, ERROR_ACCESS_DENIED);
  EXPECT_EQ(tell("C:\\APP\\SYSTEM", &again), Holding::kUnusable);
  HostFailCall("GetFileInformationByHandleEx", 0, ERROR_INVALID_PARAMETER);
  ASSERT_EQ(tell("C:\\APP\\SYSTEM", &again), Holding::kDirectory);
  EXPECT_FALSE(again.wide);
  EXPECT_TRUE(SameIdentity(again, narrow));
}

// Host only: Wine 8 opens where a link leads when asked for the link itself.
TEST_F(Held, ALinkIsHeldItselfAndToldAsALink) {
  MakeDirectories("C:\\OTHER");
  ASSERT_TRUE(CreateSymbolicLinkA("C:\\LINK", "C:\\OTHER", SYMBOLIC_LINK_FLAG_DIRECTORY));
  HANDLE handle;
  DirectoryIdentity link;
  DirectoryIdentity other;
  ASSERT_EQ(HoldDirectory("C:\\LINK", nullptr, &handle, &link), Holding::kLink);
  EXPECT_FALSE(MoveFileExA("C:\\LINK", "C:\\LINK2", 0));
  CloseHandle(handle);
  ASSERT_EQ(HoldDirectory("C:\\OTHER", nullptr, &handle, &other), Holding::kDirectory);
  EXPECT_FALSE(SameIdentity(link, other));
  CloseHandle(handle);
}
#endif

}  // namespace
