// Unread folder marks: the per-board list "unread.dat" of users who excluded
// the board from unread tracking.
#include <gtest/gtest.h>

#include <string>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/unread.h"

namespace {

class UnreadStore : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
  }
  std::string list() const { return dir / "12/unread.dat"; }
  TempDir dir;
};

TEST_F(UnreadStore, FirstExclusionCreatesDirectoryAndList) {
  EXPECT_EQ(ChkUNREAD(12, "amy"), -1);
  EXPECT_FALSE(file_exists(dir / "12"));
  EXPECT_EQ(WriteUNREAD(12, "amy"), 0);
  EXPECT_EQ(file_mode(dir / "12"), 0700);
  EXPECT_EQ(WriteUNREAD(12, "bob"), 0);
  EXPECT_EQ(WriteUNREAD(12, "Amy"), 0);  // letter case makes another ID
  EXPECT_EQ(read_file_bytes(list()), "amy\nbob\nAmy\n");
  EXPECT_EQ(WriteUNREAD(12, "bob"), -2);
  EXPECT_EQ(read_file_bytes(list()), "amy\nbob\nAmy\n");
  EXPECT_EQ(ChkUNREAD(12, "bob"), 2);
  EXPECT_EQ(ChkUNREAD(12, "AMY"), -1);
}

TEST_F(UnreadStore, RemovalKeepsTheOtherEntries) {
  WriteUNREAD(12, "amy");
  WriteUNREAD(12, "bob");
  WriteUNREAD(12, "carl");
  EXPECT_EQ(DeleteUNREAD(12, "dave"), -1);
  EXPECT_EQ(read_file_bytes(list()), "amy\nbob\ncarl\n");
  EXPECT_EQ(DeleteUNREAD(12, "amy"), 0);
  EXPECT_EQ(read_file_bytes(list()), "bob\ncarl\n");
  EXPECT_FALSE(file_exists(list() + ".tmp"));
  EXPECT_EQ(DeleteUNREAD(12, "bob"), 0);
  EXPECT_EQ(DeleteUNREAD(12, "carl"), 0);
  EXPECT_EQ(read_file_bytes(list()), "");  // the empty list stays
  EXPECT_EQ(DeleteUNREAD(13, "amy"), -1);
  EXPECT_FALSE(file_exists(dir / "13"));
}

TEST_F(UnreadStore, LinesEndingInCarriageReturnMatch) {
  WriteUNREAD(12, "x");
  write_file_bytes(list(), "amy\r\nbob\r\nbob\ncarl");
  EXPECT_EQ(ChkUNREAD(12, "amy"), 1);
  EXPECT_EQ(ChkUNREAD(12, "carl"), 4);
  EXPECT_EQ(WriteUNREAD(12, "amy"), -2);
  char line[300];
  ASSERT_EQ(ReadUNREAD(12, 1, line), 0);
  EXPECT_STREQ(line, "amy\r\n");  // as stored
  ASSERT_EQ(ReadUNREAD(12, 4, line), 0);
  EXPECT_STREQ(line, "carl");
  EXPECT_EQ(ReadUNREAD(12, 5, line), -1);
  EXPECT_EQ(ReadUNREAD(12, 0, line), -1);

  // Every copy of the ID goes; the rest are written back with plain LF.
  EXPECT_EQ(DeleteUNREAD(12, "bob"), 0);
  EXPECT_EQ(read_file_bytes(list()), "amy\ncarl\n");
}

TEST_F(UnreadStore, NewEntryNeverRunsIntoAnUnterminatedLastOne) {
  WriteUNREAD(12, "x");
  write_file_bytes(list(), "amy");
  EXPECT_EQ(WriteUNREAD(12, "bob"), 0);
  EXPECT_EQ(read_file_bytes(list()), "amy\nbob\n");
  EXPECT_EQ(ChkUNREAD(12, "amy"), 1);
  // An ID holding a line end is cut there rather than making two entries.
  EXPECT_EQ(WriteUNREAD(12, "eve\ncarl"), 0);
  EXPECT_EQ(read_file_bytes(list()), "amy\nbob\neve\n");
}

}  // namespace
