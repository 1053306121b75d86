// "unread.dat": the users who excluded a board from unread tracking.
#include "store/unread.h"

#include "data_dir.h"

namespace {

using UnreadStore = DataDir;

TEST_F(UnreadStore, EntriesAreAddedOnceAndRemoved) {
  EXPECT_EQ(ChkUNREAD(12, "amy"), -1);
  EXPECT_FALSE(file_exists(dir / "12"));
  for (const char* id : {"amy", "bob", "Amy"}) EXPECT_EQ(WriteUNREAD(12, id), 0);
  EXPECT_EQ(file_mode(dir / "12"), 0700);
  EXPECT_EQ(WriteUNREAD(12, "bob"), -2);
  EXPECT_EQ(ChkUNREAD(12, "bob"), 2);
  EXPECT_EQ(DeleteUNREAD(12, "dave"), -1);
  EXPECT_EQ(DeleteUNREAD(12, "amy"), 0);
  EXPECT_EQ(get("12/unread.dat"), "bob\nAmy\n");
  EXPECT_EQ(DeleteUNREAD(13, "amy"), -1);
  EXPECT_FALSE(file_exists(dir / "13"));

  // Lines may end in CR LF; every copy of an ID goes, the rest written with LF.
  put("12/unread.dat", "amy\r\nbob\r\nbob\ncarl");
  EXPECT_EQ(ChkUNREAD(12, "amy"), 1);
  EXPECT_EQ(WriteUNREAD(12, "amy"), -2);
  char line[300];
  ASSERT_EQ(ReadUNREAD(12, 1, line), 0);
  EXPECT_STREQ(line, "amy\r\n");  // as stored
  EXPECT_EQ(DeleteUNREAD(12, "bob"), 0);
  EXPECT_EQ(get("12/unread.dat"), "amy\ncarl\n");

  // A new entry never joins an unterminated last one; an ID ends at a line end.
  put("12/unread.dat", "amy");
  EXPECT_EQ(WriteUNREAD(12, "eve\ncarl"), 0);
  EXPECT_EQ(get("12/unread.dat"), "amy\neve\n");
}


// The lists of many boards read at once give what ChkUNREAD gives one by one.
TEST_F(UnreadStore, ManyBoardsAtOnceAsOneByOne) {
  std::vector<int32_t> boards;
  for (int32_t no = 1; no <= 90; no++) {
    boards.push_back(no);
    if (no % 4 == 0) continue;  // no directory
    mkdir((dir / std::to_string(no)).c_str(), 0700);
    if (no % 4 == 1) put(std::to_string(no) + "/unread.dat", no % 3 ? "bob\namy\r\n" : "amyx\n");
    if (no % 4 == 2) put(std::to_string(no) + "/unread.dat", "");
  }
  const std::vector<bool> listed = ChkUNREAD_many(boards, "amy");
  ASSERT_EQ(listed.size(), boards.size());
  for (size_t i = 0; i < boards.size(); i++)
    EXPECT_EQ(listed[i], ChkUNREAD(boards[i], "amy") > 0) << boards[i];
}

}  // namespace
