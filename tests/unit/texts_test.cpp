#include <gtest/gtest.h>

#include <string>

#include "text/texts.h"

namespace {

TEST(Texts, GermanTextsAreSingleByteWindows1252) {
  const std::string confirmation = kConfirmationPrefix;
  EXPECT_EQ(confirmation.size(), 53u);
  EXPECT_EQ(confirmation.back(), ' ');
  EXPECT_EQ(std::string(kProductTitle), "TAV-COM f\xFCr Windows 95 und NT");
  const std::string warning = kComponentInUseWarning;
  EXPECT_EQ(warning.size(), 124u);
  EXPECT_NE(warning.find("l\xE4uft"), std::string::npos);
  EXPECT_NE(warning.find("f\xFChren"), std::string::npos);
  EXPECT_EQ(warning.back(), '.');
  const std::string notice = kRestartNotice;
  EXPECT_NE(notice.find("n\xE4"
                        "chsten Neustart"),
            std::string::npos);
  EXPECT_NE(notice.find("m\xFCssen"), std::string::npos);
  EXPECT_EQ(notice.back(), '.');
}

TEST(Texts, DirectoriesKeyPath) {
  char path[256];
  ASSERT_TRUE(BuildDirectoriesKeyPath(path, sizeof(path)));
  EXPECT_STREQ(path, "Software\\TAV Datentechnik\\TAV-COM Version 1.0\\Directories");
  char small[20];
  EXPECT_FALSE(BuildDirectoriesKeyPath(small, sizeof(small)));
  EXPECT_STREQ(small, "");
}

}  // namespace
