// The settings file and the language file.
#include <gtest/gtest.h>

#include "settings/strdef.h"
#include "board.h"

namespace {

class Settings : public ::testing::Test {
 protected:
  // Language files are named relative to the working directory.
  void SetUp() override { ASSERT_EQ(chdir(dir_.path().c_str()), 0); }
  void TearDown() override { ASSERT_EQ(chdir("/"), 0); }
  void open_with(const std::string& bytes) {
    write_file_bytes(ini_, bytes);
    SysFileOpen(ini_.c_str());
  }
  TempDir dir_;
  std::string ini_ = dir_ / "morvel.ini";
};

TEST_F(Settings, LineForms) {
  open_with(
      "ROWS,12\n"                // the closing comma may be left out
      "LOGIN_GIF,top.gif\r\n"    // a carriage return stays in the value
      "datetime,2,\n"            // names are matched exactly
      "FRAME_DIVIDE,99999999999,\n"
      "DATA_FILE_PATH,/data/");  // no line feed at the end
  EXPECT_EQ(SYSINFO.ROWS, 12);
  EXPECT_STREQ(SYSINFO.LOGIN_GIF, "top.gif\r");
  EXPECT_EQ(SYSINFO.DATETIME, 1);
  EXPECT_EQ(SYSINFO.FRAME_DIVIDE, 2147483647);
  EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "/data/");
  // Settings missing from an existing file: the defaults, not the install values.
  EXPECT_EQ(SYSINFO.MAX_CONTENTS, 4000);
  EXPECT_STREQ(SYSINFO.BACK_GIF, "");
}

TEST_F(Settings, LongValuesAreCutToTheirField) {
  std::string sjis_name(250, 'a');
  sjis_name += "\x82\xA0zz";  // a two-byte character across the limit
  open_with("LOG_DATE," + std::string(30, '7') + ",\nBACK_GIF," + sjis_name + ",\n" +
            "LOGOFF_URL," + std::string(900, 'u') + ",\n");
  EXPECT_STREQ(SYSINFO.LOG_DATE, "777777777");
  EXPECT_EQ(std::string(SYSINFO.BACK_GIF), std::string(250, 'a'));  // 251 would split the pair
  EXPECT_EQ(strlen(SYSINFO.LOGOFF_URL), 900u);
  EXPECT_EQ(SYSINFO.FRAME_DIVIDE, 20);  // the neighbouring field is intact
}

TEST_F(Settings, UnreadableFileIsNotOverwritten) {
  ASSERT_TRUE(std::filesystem::create_directory(ini_));
  SysFileOpen(ini_.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(ini_));
}

TEST_F(Settings, LanguageFile) {
  write_file_bytes("x.lng", "154,Board list\n0,zero\njust text\n7,one,two\n8\n9,first\n9,second\n"
                            "10," + std::string(98, 'm') + "\x83\x41\n"  // a pair at bytes 99-100
                            "399,last\n400,beyond\n99999999999999,beyond\n-3,negative\n"
                            ",,12,,skipped separators\r\n");
  StrdefFileOpen("x.lng");
  const std::pair<int, std::string> slots[] = {
      {154, "Board list"}, {7, "one"}, {8, ""}, {9, "second"}, {10, std::string(98, 'm')},
      {12, "skipped separators\r"}, {399, "last"}, {400, ""}, {-1, ""}};
  for (const auto& [n, text] : slots) EXPECT_EQ(msg(n), text) << n;

  // A missing file keeps the table; an existing one, even empty, replaces it.
  StrdefFileOpen("nothere.lng");
  EXPECT_STREQ(msg(154), "Board list");
  write_file_bytes("empty.lng", "");
  StrdefFileOpen("empty.lng");
  EXPECT_STREQ(msg(154), "");
}

}  // namespace
