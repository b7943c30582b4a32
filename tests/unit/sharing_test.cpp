// Share modes as Windows checks them (MS-FSA 2.1.5.1.2.2), for files and
// directories alike: only reading, writing and deleting take part, so an
// open for attributes alone is never refused and refuses nobody. The same
// table runs on the layer and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "support/sandbox.h"

namespace {

class Sharing : public SandboxTest {};

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct ShareCase {
  const char* what;
  DWORD firstAccess;
  DWORD firstShare;
  DWORD secondAccess;
  DWORD secondShare;
  bool allowed;
};

const ShareCase kShareCases[] = {
    {"reading shared for reading, then reading", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, kShareAll,
     true},
    {"reading shared for reading, then writing", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll,
     false},
    {"reading shared for reading, then deleting", GENERIC_READ, FILE_SHARE_READ, DELETE, kShareAll, false},
    {"reading shared for all, then deleting", GENERIC_READ, kShareAll, DELETE, kShareAll, true},
    {"reading, then reading that shares nothing", GENERIC_READ, kShareAll, GENERIC_READ, 0, false},
    {"reading sharing nothing, then attributes", GENERIC_READ, 0, FILE_READ_ATTRIBUTES, 0, true},
    {"reading sharing nothing, then writing attributes", GENERIC_READ, 0, FILE_WRITE_ATTRIBUTES, 0, true},
    {"reading sharing nothing, then access 0", GENERIC_READ, 0, 0, 0, true},
    {"attributes sharing nothing, then reading sharing nothing", FILE_READ_ATTRIBUTES, 0, GENERIC_READ, 0,
     true},
    {"access 0 sharing nothing, then deleting sharing nothing", 0, 0, DELETE, 0, true},
    {"deleting, then reading that shares reading only", DELETE, kShareAll, GENERIC_READ, FILE_SHARE_READ,
     false},
    {"writing shared for writing, then writing", GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_WRITE,
     FILE_SHARE_WRITE, true},
};

void CheckSharing(const std::string& path, DWORD flags) {
  for (const ShareCase& each : kShareCases) {
    HANDLE first =
        CreateFileA(path.c_str(), each.firstAccess, each.firstShare, nullptr, OPEN_EXISTING, flags, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << each.what << ": error " << GetLastError();
    SetLastError(0xDEADBEEF);
    HANDLE second = CreateFileA(path.c_str(), each.secondAccess, each.secondShare, nullptr, OPEN_EXISTING,
                                flags, nullptr);
    if (each.allowed) {
      EXPECT_NE(second, INVALID_HANDLE_VALUE) << path << ", " << each.what << ": error " << GetLastError();
    } else {
      EXPECT_EQ(second, INVALID_HANDLE_VALUE) << path << ", " << each.what;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << path << ", " << each.what;
    }
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    CloseHandle(first);
  }
}

TEST_F(Sharing, FilesAsWindowsChecksThem) {
  WriteBytes("C:\\SANDBOX\\SHARED.TXT", "shared");
  CheckSharing("C:\\SANDBOX\\SHARED.TXT", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Sharing, DirectoriesAsWindowsChecksThem) {
  MakeDirectories("C:\\SANDBOX\\SHARED");
  CheckSharing("C:\\SANDBOX\\SHARED", FILE_FLAG_BACKUP_SEMANTICS);
}

// Deleting or renaming opens for delete and shares everything: a handle
// that shares deleting lets it happen, one that does not refuses it.
TEST_F(Sharing, DeletingAndRenamingAsAnotherOpen) {
  const struct {
    DWORD share;
    bool allowed;
  } cases[] = {{FILE_SHARE_READ, false}, {FILE_SHARE_READ | FILE_SHARE_WRITE, false}, {kShareAll, true}};
  for (const auto& each : cases) {
    WriteBytes("C:\\SANDBOX\\HELD.TXT", "held");
    HANDLE held = CreateFileA("C:\\SANDBOX\\HELD.TXT", GENERIC_READ, each.share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(MoveFileExA("C:\\SANDBOX\\HELD.TXT", "C:\\SANDBOX\\MOVED.TXT", 0) != FALSE, each.allowed)
        << "share " << each.share;
    EXPECT_EQ(DeleteFileA(each.allowed ? "C:\\SANDBOX\\MOVED.TXT" : "C:\\SANDBOX\\HELD.TXT") != FALSE,
              each.allowed)
        << "share " << each.share;
    if (!each.allowed) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(held);
    DeleteFileA("C:\\SANDBOX\\HELD.TXT");
    DeleteFileA("C:\\SANDBOX\\MOVED.TXT");
  }
}

}  // namespace
